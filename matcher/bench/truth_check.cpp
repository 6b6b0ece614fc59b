// How well a supplied ground-truth homography fits the photographs it is
// said to relate. A benchmark is only as good as its truth: where the
// supplied homography is a few pixels off, correct correspondences fail the
// 2 px rule and the matcher reads low there. The check needs no segments:
// full-resolution SIFT matches (mutual, ratio 0.8), a homography refitted to
// them (MAGSAC, 1.5 px), and then
//   - how many of the point matches each homography puts within 3 px;
//   - how far the two homographies are apart over the part of image 1 that
//     lands inside image 2 (median and largest, image-2 pixels);
//   - with --picture, image 2 (magenta) under image 1 carried by the supplied
//     homography (left) and by the refitted one (right): grey where they
//     agree, coloured fringes where they do not.
// The refit is a fair judge only of a scene that one homography relates
// (a plane, or a camera turning about its centre), as in the Oxford
// sequences, and only where plain SIFT still matches: with fewer than 30
// matches within 3 px of the refit the verdict is "undecided".
//
// usage: truth_check IMAGE1 IMAGE2 HOMOGRAPHY [--picture OUT.png]
// prints: point_matches N supplied_within_3px A refitted_within_3px B
//         median_apart_px M largest_apart_px L verdict judged|undecided
#include "linematch/homography_file.hpp"
#include "linematch/point_seeds.hpp"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

cv::Point2d carry(const cv::Matx33d& h, const cv::Point2d& p) {
    const cv::Vec3d q = h * cv::Vec3d(p.x, p.y, 1.0);
    return {q[0] / q[2], q[1] / q[2]};
}

int within(const cv::Matx33d& h, const std::vector<linematch::PointCorrespondence>& matches, double distance) {
    int n = 0;
    for (const auto& m : matches) n += cv::norm(carry(h, m.image1) - m.image2) <= distance;
    return n;
}

// Image 2 in magenta under image 1 carried by h in green.
cv::Mat overlay(const cv::Mat& image1, const cv::Mat& image2, const cv::Matx33d& h) {
    cv::Mat carried;
    cv::warpPerspective(image1, carried, cv::Mat(h), image2.size());
    cv::Mat channels[3] = {image2, carried, image2}, picture;
    cv::merge(channels, 3, picture);
    return picture;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && !(argc == 6 && std::string(argv[4]) == "--picture")) {
        std::fprintf(stderr, "usage: truth_check IMAGE1 IMAGE2 HOMOGRAPHY [--picture OUT.png]\n");
        return 2;
    }
    try {
        const cv::Mat image1 = cv::imread(argv[1], cv::IMREAD_GRAYSCALE);
        const cv::Mat image2 = cv::imread(argv[2], cv::IMREAD_GRAYSCALE);
        if (image1.empty() || image2.empty()) {
            std::fprintf(stderr, "truth_check: cannot read %s\n", image1.empty() ? argv[1] : argv[2]);
            return 1;
        }
        const cv::Matx33d supplied = linematch::readHomographyFile(argv[3]);
        const auto matches = linematch::matchKeypoints(image1, image2, linematch::PointSeedSettings{}, 0, false);
        if (matches.size() < 8) {
            std::fprintf(stderr, "truth_check: only %zu point matches, nothing to judge by\n", matches.size());
            return 1;
        }
        std::vector<cv::Point2d> from, to;
        for (const auto& m : matches) {
            from.push_back(m.image1);
            to.push_back(m.image2);
        }
        const cv::Mat fit = cv::findHomography(from, to, cv::USAC_MAGSAC, 1.5, cv::noArray(), 10000, 0.9999);
        if (fit.empty()) {
            std::fprintf(stderr, "truth_check: no homography fits the point matches\n");
            return 1;
        }
        const cv::Matx33d refitted(fit);

        std::vector<double> apart;
        const int step = std::max(4, std::max(image1.cols, image1.rows) / 100);
        for (int y = 0; y < image1.rows; y += step)
            for (int x = 0; x < image1.cols; x += step) {
                const cv::Point2d t = carry(supplied, {double(x), double(y)});
                if (t.x < 0 || t.y < 0 || t.x > image2.cols - 1 || t.y > image2.rows - 1) continue;
                apart.push_back(cv::norm(t - carry(refitted, {double(x), double(y)})));
            }
        std::sort(apart.begin(), apart.end());
        const double median = apart.empty() ? 0 : apart[apart.size() / 2];
        const double largest = apart.empty() ? 0 : apart.back();
        const int refittedWithin = within(refitted, matches, 3.0);
        std::printf("point_matches %zu supplied_within_3px %d refitted_within_3px %d median_apart_px %.2f "
                    "largest_apart_px %.2f verdict %s\n",
                    matches.size(), within(supplied, matches, 3.0), refittedWithin, median, largest,
                    refittedWithin >= 30 ? "judged" : "undecided");
        if (argc == 6) {
            cv::Mat picture;
            cv::hconcat(overlay(image1, image2, supplied), overlay(image1, image2, refitted), picture);
            if (!cv::imwrite(argv[5], picture)) {
                std::fprintf(stderr, "truth_check: cannot write %s\n", argv[5]);
                return 1;
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "truth_check: %s\n", e.what());
        return 1;
    }
    return 0;
}
