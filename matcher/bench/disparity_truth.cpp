#include "disparity_truth.hpp"

#include "linematch/segments.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace linematch::bench {

namespace {

bool known(float d) { return std::isfinite(d) && d > 0; }

// Whether the band around s crosses a disparity jump (see the header).
bool crossesJump(const cv::Mat& disparity, const Segment& s, double band, double jump) {
    const double length = segmentLength(s);
    if (!(length > 0)) return false;
    const double ux = (s[2] - s[0]) / length, uy = (s[3] - s[1]) / length;
    const int stations = static_cast<int>(std::floor(length)) + 1;
    std::vector<float> low(stations, std::numeric_limits<float>::infinity());
    std::vector<float> high(stations, -std::numeric_limits<float>::infinity());
    const int x0 = std::max(0, static_cast<int>(std::floor(std::min(s[0], s[2]) - band)));
    const int x1 = std::min(disparity.cols - 1, static_cast<int>(std::ceil(std::max(s[0], s[2]) + band)));
    const int y0 = std::max(0, static_cast<int>(std::floor(std::min(s[1], s[3]) - band)));
    const int y1 = std::min(disparity.rows - 1, static_cast<int>(std::ceil(std::max(s[1], s[3]) + band)));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const float d = disparity.at<float>(y, x);
            if (!known(d)) continue;
            const double along = ux * (x - s[0]) + uy * (y - s[1]);
            const double across = std::fabs(ux * (y - s[1]) - uy * (x - s[0]));
            if (across > band || along < -0.5 || along > length + 0.5) continue;
            const int k = std::clamp(static_cast<int>(std::lround(along)), 0, stations - 1);
            low[k] = std::min(low[k], d);
            high[k] = std::max(high[k], d);
        }
    for (int k = 0; k < stations; ++k)
        if (high[k] - low[k] > jump) return true;
    return false;
}

}  // namespace

bool DisparityTruth::sampleDisparity(const cv::Mat& disparity, const cv::Point2d& p, double radius, double& value) {
    if (!(std::isfinite(p.x) && std::isfinite(p.y))) return false;
    std::vector<float> found;
    const int x0 = std::max(0, static_cast<int>(std::floor(p.x - radius)));
    const int x1 = std::min(disparity.cols - 1, static_cast<int>(std::ceil(p.x + radius)));
    const int y0 = std::max(0, static_cast<int>(std::floor(p.y - radius)));
    const int y1 = std::min(disparity.rows - 1, static_cast<int>(std::ceil(p.y + radius)));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const float d = disparity.at<float>(y, x);
            if (known(d) && std::hypot(x - p.x, y - p.y) <= radius) found.push_back(d);
        }
    if (found.empty()) return false;
    // The lower median of an even count: a value that occurs in the map,
    // never a blend of the two sides of a depth edge.
    const auto middle = found.begin() + static_cast<long>((found.size() - 1) / 2);
    std::nth_element(found.begin(), middle, found.end());
    value = *middle;
    return true;
}

DisparityTruth::DisparityTruth(const cv::Mat& disparity, const std::vector<Segment>& left,
                               const std::vector<Segment>& right, const DisparitySettings& settings)
    : judged_(left.size(), 0), depthEdge_(left.size(), 0) {
    if (disparity.type() != CV_32FC1) throw std::invalid_argument("DisparityTruth: the disparity map must be CV_32FC1");
    for (std::size_t i = 0; i < left.size(); ++i) {
        const Segment& s = left[i];
        double d1 = 0, d2 = 0;
        if (!sampleDisparity(disparity, {s[0], s[1]}, settings.endpointRadius, d1) ||
            !sampleDisparity(disparity, {s[2], s[3]}, settings.endpointRadius, d2))
            continue;
        judged_[i] = 1;
        depthEdge_[i] = crossesJump(disparity, s, settings.edgeBand, settings.edgeJump) ? 1 : 0;
        const Segment shifted{s[0] - d1, s[1], s[2] - d2, s[3]};
        for (std::size_t w = 0; w < right.size(); ++w)
            if (isTrueCorrespondence(shifted, right[w], settings.criterion))
                pairs_.insert({static_cast<int>(i), static_cast<int>(w)});
    }
}

int DisparityTruth::judgedCount() const { return static_cast<int>(std::count(judged_.begin(), judged_.end(), 1)); }

int DisparityTruth::depthEdgeCount() const {
    return static_cast<int>(std::count(depthEdge_.begin(), depthEdge_.end(), 1));
}

StereoScore DisparityTruth::score(const std::vector<SegmentMatch>& matches) const {
    std::set<std::pair<int, int>> distinct;
    for (const SegmentMatch& m : matches) distinct.insert({m.image1Segment, m.image2Segment});
    StereoScore s;
    s.matches = static_cast<int>(distinct.size());
    for (const auto& [i, w] : distinct) {
        if (i < 0 || static_cast<std::size_t>(i) >= judged_.size() || !judged_[i]) continue;
        const int correct = pairs_.count({i, w}) ? 1 : 0;
        ++s.judged;
        s.correct += correct;
        if (depthEdge_[i]) {
            ++s.edgeJudged;
            s.edgeCorrect += correct;
        } else {
            ++s.interiorJudged;
            s.interiorCorrect += correct;
        }
    }
    s.precision = s.judged ? static_cast<double>(s.correct) / s.judged : 0.0;
    s.recall = pairs_.empty() ? 0.0 : static_cast<double>(s.correct) / static_cast<double>(pairs_.size());
    return s;
}

}  // namespace linematch::bench
