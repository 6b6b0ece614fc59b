// The one-plane answer: what a user with OpenCV could write in place of the
// matcher, to measure the matcher against. On the matcher's own segments
// (its segments1.txt / segments2.txt, so that only the correspondence step
// differs):
//   - SIFT at full resolution on both images (cv::SIFT, every keypoint),
//     matches that pass the ratio test (0.8) both ways and are mutual;
//   - one homography for the whole scene, cv::findHomography with
//     USAC_MAGSAC and 3 px;
//   - every image-1 segment carried by it and paired with the image-2
//     segment it lands on by the project's correspondence test (2 px, same
//     direction, overlap 0.5 of the shorter; the homography just estimated,
//     never a ground truth), the one with the smallest mean distance of the
//     two carried endpoints to its line; only pairs that are each other's
//     best are kept.
// Fewer than 4 point matches, or no homography: an empty answer.
//
// usage: one_plane IMAGE1 IMAGE2 SEGMENTS1 SEGMENTS2 OUTDIR
// writes OUTDIR/matches.txt ("i w" per line, 0-based, by increasing i),
//        OUTDIR made when missing. An existing OUTDIR/matches.txt (or a
//        symbolic link of that name) is refused, never replaced: the file
//        there may be another program's.
// prints: point_matches N inliers K matches M
#include "linematch/ground_truth.hpp"
#include "linematch/line_geometry.hpp"
#include "linematch/output_files.hpp"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <limits>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using linematch::Segment;
using linematch::SegmentMatch;

struct Keypoints {
    std::vector<cv::KeyPoint> points;
    cv::Mat descriptors;
};

Keypoints sift(const cv::Mat& gray) {
    Keypoints k;
    cv::SIFT::create()->detectAndCompute(gray, cv::noArray(), k.points, k.descriptors);
    return k;
}

// For each row of `from`, its nearest row of `to` when it passes the ratio
// test; -1 otherwise.
std::vector<int> ratioMatches(const cv::Mat& from, const cv::Mat& to, double ratio) {
    std::vector<int> best(static_cast<std::size_t>(from.rows), -1);
    if (from.empty() || to.rows < 2) return best;
    std::vector<std::vector<cv::DMatch>> knn;
    cv::BFMatcher(cv::NORM_L2).knnMatch(from, to, knn, 2);
    for (const auto& pair : knn)
        if (pair.size() == 2 && pair[0].distance < ratio * pair[1].distance) best[pair[0].queryIdx] = pair[0].trainIdx;
    return best;
}

// Mean distance of the two carried endpoints to candidate's line when the
// correspondence test accepts the pair, +infinity otherwise.
double cost(const Segment& carried, const Segment& candidate) {
    if (!linematch::isTrueCorrespondence(carried, candidate, linematch::TruthCriterion{}))
        return std::numeric_limits<double>::infinity();
    const cv::Vec3d l = linematch::unitLine(candidate);
    return 0.5 * (std::fabs(l[0] * carried[0] + l[1] * carried[1] + l[2]) +
                  std::fabs(l[0] * carried[2] + l[1] * carried[3] + l[2]));
}

std::vector<SegmentMatch> pairByHomography(const cv::Matx33d& h, const std::vector<Segment>& segments1,
                                           const std::vector<Segment>& segments2) {
    const double none = std::numeric_limits<double>::infinity();
    std::vector<int> best1(segments1.size(), -1), best2(segments2.size(), -1);
    std::vector<double> cost1(segments1.size(), none), cost2(segments2.size(), none);
    for (std::size_t i = 0; i < segments1.size(); ++i) {
        const Segment carried = linematch::mapSegment(h, segments1[i]);
        if (std::isnan(carried[0]) || std::isnan(carried[2])) continue;
        for (std::size_t w = 0; w < segments2.size(); ++w) {
            const double c = cost(carried, segments2[w]);
            // Strictly smaller: ties go to the lower index on both sides.
            if (c < cost1[i]) {
                cost1[i] = c;
                best1[i] = static_cast<int>(w);
            }
            if (c < cost2[w]) {
                cost2[w] = c;
                best2[w] = static_cast<int>(i);
            }
        }
    }
    std::vector<SegmentMatch> matches;
    for (std::size_t i = 0; i < segments1.size(); ++i)
        if (best1[i] >= 0 && best2[best1[i]] == static_cast<int>(i)) matches.push_back({static_cast<int>(i), best1[i]});
    return matches;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: one_plane IMAGE1 IMAGE2 SEGMENTS1 SEGMENTS2 OUTDIR\n");
        return 2;
    }
    // The file this run created, removed again when the run fails, so that
    // a failure never reads as an empty answer.
    std::string created;
    try {
        const cv::Mat image1 = cv::imread(argv[1], cv::IMREAD_GRAYSCALE);
        const cv::Mat image2 = cv::imread(argv[2], cv::IMREAD_GRAYSCALE);
        if (image1.empty() || image2.empty()) {
            std::fprintf(stderr, "one_plane: cannot read %s\n", image1.empty() ? argv[1] : argv[2]);
            return 1;
        }
        const std::vector<Segment> segments1 = linematch::readSegmentFile(argv[3]);
        const std::vector<Segment> segments2 = linematch::readSegmentFile(argv[4]);
        const std::filesystem::path out(argv[5]);
        std::filesystem::create_directories(out);
        const std::string matchPath = (out / "matches.txt").string();
        // Claimed before the work: O_EXCL fails on any existing entry,
        // a symbolic link included.
        const int file = ::open(matchPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (file < 0) {
            std::fprintf(stderr, "one_plane: cannot create %s: %s\n", matchPath.c_str(), std::strerror(errno));
            return 1;
        }
        created = matchPath;

        const Keypoints k1 = sift(image1), k2 = sift(image2);
        const std::vector<int> forward = ratioMatches(k1.descriptors, k2.descriptors, 0.8);
        const std::vector<int> backward = ratioMatches(k2.descriptors, k1.descriptors, 0.8);
        std::vector<cv::Point2f> from, to;
        for (std::size_t a = 0; a < forward.size(); ++a)
            if (forward[a] >= 0 && backward[forward[a]] == static_cast<int>(a)) {
                from.push_back(k1.points[a].pt);
                to.push_back(k2.points[forward[a]].pt);
            }

        std::vector<SegmentMatch> matches;
        int inliers = 0;
        if (from.size() >= 4) {
            std::vector<unsigned char> mask;
            const cv::Mat fit = cv::findHomography(from, to, cv::USAC_MAGSAC, 3.0, mask);
            if (!fit.empty() && cv::checkRange(fit)) {
                const cv::Matx33d h(fit);
                for (unsigned char m : mask) inliers += m ? 1 : 0;
                matches = pairByHomography(h, segments1, segments2);
            }
        }
        const std::string text = linematch::matchFileText(matches);
        const bool written = ::write(file, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        if (::close(file) != 0 || !written) throw std::runtime_error("cannot write " + matchPath);
        std::printf("point_matches %zu inliers %d matches %zu\n", from.size(), inliers, matches.size());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "one_plane: %s\n", e.what());
        if (!created.empty()) ::unlink(created.c_str());
        return 1;
    }
    return 0;
}
