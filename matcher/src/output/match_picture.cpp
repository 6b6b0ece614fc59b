#include "linematch/match_picture.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <set>

namespace linematch {

namespace {

cv::Mat dimmedPanel(const cv::Mat& image, const std::vector<Segment>& segments) {
    if (image.empty()) {
        int w = 1, h = 1;
        for (const Segment& s : segments) {
            w = std::max({w, static_cast<int>(std::ceil(s[0])) + 1, static_cast<int>(std::ceil(s[2])) + 1});
            h = std::max({h, static_cast<int>(std::ceil(s[1])) + 1, static_cast<int>(std::ceil(s[3])) + 1});
        }
        return cv::Mat(std::min(h, 8192), std::min(w, 8192), CV_8UC3, cv::Scalar(255, 255, 255));
    }
    cv::Mat bgr;
    if (image.channels() == 1) cv::cvtColor(image, bgr, cv::COLOR_GRAY2BGR);
    else if (image.channels() == 4) cv::cvtColor(image, bgr, cv::COLOR_BGRA2BGR);
    else bgr = image.clone();
    // Halfway to white, so that the coloured segments stand out.
    bgr.convertTo(bgr, CV_8UC3, 0.5, 127.5);
    return bgr;
}

void drawSegment(cv::Mat& panel, const Segment& s, const cv::Scalar& colour, int thickness) {
    if (!std::isfinite(s[0]) || !std::isfinite(s[1]) || !std::isfinite(s[2]) || !std::isfinite(s[3])) return;
    constexpr int kShift = 4;  // sub-pixel drawing
    const auto fx = [](double v) { return static_cast<int>(std::lround(std::clamp(v, -1e6, 1e6) * (1 << kShift))); };
    cv::line(panel, {fx(s[0]), fx(s[1])}, {fx(s[2]), fx(s[3])}, colour, thickness, cv::LINE_AA, kShift);
}

}  // namespace

cv::Mat drawMatches(const cv::Mat& image1, const cv::Mat& image2, const MatchResult& result,
                    const GroundTruth* truth) {
    cv::Mat left = dimmedPanel(image1, result.segments1), right = dimmedPanel(image2, result.segments2);
    const cv::Scalar grey(170, 170, 170), blue(200, 90, 0), green(0, 160, 0), red(0, 0, 230);
    for (const Segment& s : result.segments1) drawSegment(left, s, grey, 1);
    for (const Segment& s : result.segments2) drawSegment(right, s, grey, 1);

    const std::set<SegmentMatch> seeds(result.seeds.begin(), result.seeds.end());
    // False ones last, so that they are not hidden under correct ones.
    for (int pass = 0; pass < 2; ++pass) {
        for (const SegmentMatch& m : result.matches) {
            const bool wrong = truth && !truth->contains(m);
            if (wrong != (pass == 1)) continue;
            const cv::Scalar colour = wrong ? red : seeds.count(m) ? blue : green;
            const Segment& a = result.segments1[m.image1Segment];
            const Segment& b = result.segments2[m.image2Segment];
            drawSegment(left, a, colour, 2);
            drawSegment(right, b, colour, 2);
            if (wrong) {
                cv::circle(left, {static_cast<int>((a[0] + a[2]) / 2), static_cast<int>((a[1] + a[3]) / 2)}, 6, red, 1,
                           cv::LINE_AA);
                cv::circle(right, {static_cast<int>((b[0] + b[2]) / 2), static_cast<int>((b[1] + b[3]) / 2)}, 6, red,
                           1, cv::LINE_AA);
            }
        }
    }
    const int gap = 10;
    cv::Mat picture(std::max(left.rows, right.rows), left.cols + gap + right.cols, CV_8UC3, cv::Scalar(255, 255, 255));
    left.copyTo(picture(cv::Rect(0, 0, left.cols, left.rows)));
    right.copyTo(picture(cv::Rect(left.cols + gap, 0, right.cols, right.rows)));
    return picture;
}

}  // namespace linematch
