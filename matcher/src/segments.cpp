#include "linematch/segments.hpp"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace linematch {

double roundToMilliPixel(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return std::strtod(buffer, nullptr);
}

double segmentLength(const Segment& s) { return std::hypot(s[2] - s[0], s[3] - s[1]); }

long firstRefusedSegment(const std::vector<Segment>& segments, std::string& why) {
    for (std::size_t k = 0; k < segments.size(); ++k)
        for (double x : segments[k]) {
            if (!std::isfinite(x)) {
                why = "is not finite";
                return static_cast<long>(k);
            }
            if (!(std::fabs(x) < 16777216.0)) {
                why = "has a coordinate of 2^24 or more in magnitude";
                return static_cast<long>(k);
            }
        }
    return -1;
}

std::vector<Segment> detectSegments(const cv::Mat& gray, double minLength) {
    CV_Assert(gray.type() == CV_8UC1);
    std::vector<cv::Vec4f> lines;
    cv::createLineSegmentDetector(cv::LSD_REFINE_STD)->detect(gray, lines);
    std::vector<Segment> segments;
    segments.reserve(lines.size());
    for (const cv::Vec4f& l : lines) {
        // The length test sees the detector's own values, the rounding comes
        // after it (as the example preparation does it).
        if (segmentLength({l[0], l[1], l[2], l[3]}) < minLength) continue;
        segments.push_back({roundToMilliPixel(l[0]), roundToMilliPixel(l[1]), roundToMilliPixel(l[2]),
                            roundToMilliPixel(l[3])});
    }
    return segments;
}

}  // namespace linematch
