#include "linematch/neighbour_verification.hpp"

#include "linematch/line_geometry.hpp"
#include "parallel_ranges.hpp"
#include "round_memos.hpp"
#include "spatial_index.hpp"

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

// Whether matches[k] is kept, judged by its neighbours (indices into
// matches, nearest first): 1 when it cannot be judged.
char judgeByNeighbours(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                       const std::vector<SegmentMatch>& matches, int k,
                       const std::vector<std::pair<double, int>>& byDistance, const VerificationSettings& settings,
                       std::vector<LineCorrespondence>& lines, std::vector<std::pair<double, int>>& residuals) {
    const std::size_t count = byDistance.size();
    lines.clear();
    for (std::size_t j = 0; j < count; ++j) {
        const SegmentMatch& m = matches[byDistance[j].second];
        lines.push_back({segments1[m.image1Segment], segments2[m.image2Segment]});
    }
    cv::Matx33d h;
    if (!fitHomography(lines, {}, 0, h)) return 1;
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
        if (!fitHomography(trimmed, {}, 0, refit)) return 1;
        h = refit;
    }
    const SegmentMatch& m = matches[k];
    return carriesOntoLine(h, segments1[m.image1Segment], segments2[m.image2Segment], settings.lineDistance);
}

}  // namespace

std::vector<char> verifyByNeighbours(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                                     const std::vector<SegmentMatch>& matches, const std::vector<char>& judge,
                                     const VerificationSettings& settings, int threads, VerificationMemo* memo) {
    const int n = static_cast<int>(matches.size());
    std::vector<char> keep(n, 1);
    if (!settings.enabled) return keep;
    std::vector<cv::Point2d> mids(n);
    for (int k = 0; k < n; ++k) {
        const Segment& s = segments1[matches[k].image1Segment];
        mids[k] = {(s[0] + s[2]) / 2, (s[1] + s[3]) / 2};
    }
    const PointIndex index(mids);
    std::vector<int> judged;
    for (int k = 0; k < n; ++k)
        if (judge.empty() || judge[k]) judged.push_back(k);
    // Each judged match is decided on its own: they are shared out among
    // the threads in contiguous ranges. Decisions not in the memo are added
    // to it afterwards, in order.
    const int count = static_cast<int>(judged.size());
    std::vector<std::vector<int>> keys(memo ? judged.size() : 0);
    std::vector<char> decided(judged.size(), 0);
    parallelRanges(count, rangeParts(count, threads, 64), [&](int begin, int end, int) {
        std::vector<std::pair<double, int>> byDistance;
        std::vector<LineCorrespondence> lines;
        std::vector<std::pair<double, int>> residuals;
        for (int j = begin; j < end; ++j) {
            const int k = judged[static_cast<std::size_t>(j)];
            const SegmentMatch& m = matches[k];
            const auto other = [&](int t) {
                return matches[t].image1Segment != m.image1Segment && matches[t].image2Segment != m.image2Segment;
            };
            index.nearest(mids[k], settings.neighbours, settings.maxDistance, other, byDistance);
            if (static_cast<int>(byDistance.size()) < settings.minNeighbours) continue;  // cannot be judged
            if (memo) {
                std::vector<int>& key = keys[static_cast<std::size_t>(j)];
                key = {m.image1Segment, m.image2Segment};
                for (const auto& [d, t] : byDistance) key.insert(key.end(), {matches[t].image1Segment, matches[t].image2Segment});
                const auto found = memo->kept.find(key);
                if (found != memo->kept.end()) {
                    keep[k] = found->second;
                    continue;
                }
                decided[static_cast<std::size_t>(j)] = 1;
            }
            keep[k] = judgeByNeighbours(segments1, segments2, matches, k, byDistance, settings, lines, residuals);
        }
    });
    if (memo)
        for (std::size_t j = 0; j < judged.size(); ++j)
            if (decided[j]) memo->kept.emplace(std::move(keys[j]), keep[judged[j]]);
    return keep;
}

}  // namespace linematch
