#include "linematch/neighbour_verification.hpp"

#include "linematch/line_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace linematch {

namespace {

// Larger of the two endpoint distances of a mapped by h from b's line
// (infinite when an endpoint goes to infinity).
double lineResidual(const cv::Matx33d& h, const Segment& a, const Segment& b) {
    const Segment m = mapSegment(h, a);
    const cv::Vec3d l = unitLine(b);
    const double d = std::max(std::fabs(l[0] * m[0] + l[1] * m[1] + l[2]), std::fabs(l[0] * m[2] + l[1] * m[3] + l[2]));
    return std::isnan(d) ? HUGE_VAL : d;
}

}  // namespace

std::vector<char> verifyByNeighbours(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                                     const std::vector<SegmentMatch>& matches, const std::vector<char>& judge,
                                     const VerificationSettings& settings) {
    const int n = static_cast<int>(matches.size());
    std::vector<char> keep(n, 1);
    if (!settings.enabled) return keep;
    std::vector<cv::Point2d> mids(n);
    for (int k = 0; k < n; ++k) {
        const Segment& s = segments1[matches[k].image1Segment];
        mids[k] = {(s[0] + s[2]) / 2, (s[1] + s[3]) / 2};
    }
    std::vector<std::pair<double, int>> byDistance;
    std::vector<LineCorrespondence> lines;
    std::vector<std::pair<double, int>> residuals;
    for (int k = 0; k < n; ++k) {
        if (!judge.empty() && !judge[k]) continue;
        byDistance.clear();
        for (int t = 0; t < n; ++t) {
            if (matches[t].image1Segment == matches[k].image1Segment ||
                matches[t].image2Segment == matches[k].image2Segment)
                continue;
            const double d = std::hypot(mids[t].x - mids[k].x, mids[t].y - mids[k].y);
            if (d <= settings.maxDistance) byDistance.emplace_back(d, t);
        }
        const std::size_t count = std::min<std::size_t>(settings.neighbours, byDistance.size());
        if (static_cast<int>(count) < settings.minNeighbours) continue;
        std::partial_sort(byDistance.begin(), byDistance.begin() + count, byDistance.end());
        lines.clear();
        for (std::size_t j = 0; j < count; ++j) {
            const SegmentMatch& m = matches[byDistance[j].second];
            lines.push_back({segments1[m.image1Segment], segments2[m.image2Segment]});
        }
        cv::Matx33d h;
        if (!fitHomography(lines, {}, 0, h)) continue;
        // Drop the worst-fitting neighbours once and fit again.
        residuals.clear();
        for (std::size_t j = 0; j < lines.size(); ++j)
            residuals.emplace_back(lineResidual(h, lines[j].image1, lines[j].image2), static_cast<int>(j));
        std::sort(residuals.begin(), residuals.end());
        const std::size_t kept = std::max<std::size_t>(
            4, static_cast<std::size_t>(std::lround((1.0 - settings.trimShare) * static_cast<double>(lines.size()))));
        if (kept < lines.size()) {
            std::vector<LineCorrespondence> trimmed;
            for (std::size_t j = 0; j < kept; ++j) trimmed.push_back(lines[residuals[j].second]);
            cv::Matx33d refit;
            if (!fitHomography(trimmed, {}, 0, refit)) continue;
            h = refit;
        }
        const SegmentMatch& m = matches[k];
        keep[k] = carriesOntoLine(h, segments1[m.image1Segment], segments2[m.image2Segment], settings.lineDistance);
    }
    return keep;
}

}  // namespace linematch
