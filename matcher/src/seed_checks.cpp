#include "linematch/seed_checks.hpp"

#include "linematch/pair_records.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace linematch {

namespace {

cv::Point2d midpoint(const Segment& s) { return {(s[0] + s[2]) / 2, (s[1] + s[3]) / 2}; }

// For each seed, the nearest other seeds within the distance, nearest first.
// Seeds sharing a segment with it are not neighbours.
std::vector<std::vector<int>> nearestSeeds(const std::vector<Segment>& segments1,
                                           const std::vector<SegmentMatch>& seeds, int count,
                                           double maxDistance) {
    const int n = static_cast<int>(seeds.size());
    std::vector<cv::Point2d> mids(n);
    for (int s = 0; s < n; ++s) mids[s] = midpoint(segments1[seeds[s].image1Segment]);
    std::vector<std::vector<int>> neighbours(n);
    std::vector<std::pair<double, int>> byDistance;
    for (int s = 0; s < n; ++s) {
        byDistance.clear();
        for (int t = 0; t < n; ++t) {
            if (t == s || seeds[t].image1Segment == seeds[s].image1Segment ||
                seeds[t].image2Segment == seeds[s].image2Segment)
                continue;
            const double d = std::hypot(mids[t].x - mids[s].x, mids[t].y - mids[s].y);
            if (d <= maxDistance) byDistance.emplace_back(d, t);
        }
        const std::size_t k = std::min<std::size_t>(count, byDistance.size());
        std::partial_sort(byDistance.begin(), byDistance.begin() + k, byDistance.end());
        for (std::size_t j = 0; j < k; ++j) neighbours[s].push_back(byDistance[j].second);
    }
    return neighbours;
}

}  // namespace

SeedCheckResult checkSeeds(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                           const std::vector<SegmentMatch>& seeds, const SeedCheckSettings& settings) {
    const int n = static_cast<int>(seeds.size());
    SeedCheckResult result;
    result.seedKept.assign(n, settings.neighbourSupport ? 0 : 1);
    const auto neighbours = nearestSeeds(segments1, seeds, settings.neighbours, settings.maxSeedDistance);
    const auto seg1 = [&](int s) -> const Segment& { return segments1[seeds[s].image1Segment]; };
    const auto seg2 = [&](int s) -> const Segment& { return segments2[seeds[s].image2Segment]; };

    // Every unordered pair of neighbouring seeds once, in a fixed order.
    std::vector<std::pair<int, int>> pairs;
    for (int s = 0; s < n; ++s)
        for (int t : neighbours[s]) pairs.emplace_back(std::min(s, t), std::max(s, t));
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());

    struct Hypothesis {
        int a, b;
        cv::Matx33d h;
        std::vector<int> voters;
    };
    std::vector<Hypothesis> hypotheses;
    std::vector<int> bestVotes(n, -1);
    std::vector<int> voterPool;
    for (const auto& [a, b] : pairs) {
        cv::Matx33d h;
        if (!estimateLocalHomography(seg1(a), seg2(a), seg1(b), seg2(b), settings.minSpread, h)) continue;
        ++result.pairsTried;
        // Voters: the neighbours of either seed.
        voterPool.assign(neighbours[a].begin(), neighbours[a].end());
        voterPool.insert(voterPool.end(), neighbours[b].begin(), neighbours[b].end());
        std::sort(voterPool.begin(), voterPool.end());
        voterPool.erase(std::unique(voterPool.begin(), voterPool.end()), voterPool.end());
        Hypothesis hyp{a, b, h, {}};
        for (int u : voterPool)
            if (u != a && u != b && carriesOntoLine(h, seg1(u), seg2(u), settings.voteDistance))
                hyp.voters.push_back(u);
        const int votes = static_cast<int>(hyp.voters.size());
        bestVotes[a] = std::max(bestVotes[a], votes);
        bestVotes[b] = std::max(bestVotes[b], votes);
        hypotheses.push_back(std::move(hyp));
    }
    if (settings.neighbourSupport)
        for (int s = 0; s < n; ++s) result.seedKept[s] = bestVotes[s] >= settings.minVotes;

    for (Hypothesis& hyp : hypotheses) {
        if (!result.seedKept[hyp.a] || !result.seedKept[hyp.b]) continue;
        if (settings.pairAgreement && static_cast<int>(hyp.voters.size()) < settings.minVotes) continue;
        cv::Matx33d h = hyp.h;
        if (settings.lineRefit) {
            std::vector<LineCorrespondence> lines{{seg1(hyp.a), seg2(hyp.a)}, {seg1(hyp.b), seg2(hyp.b)}};
            for (int u : hyp.voters)
                if (result.seedKept[u]) lines.push_back({seg1(u), seg2(u)});
            std::vector<PointCorrespondence> points;
            for (int s : {hyp.a, hyp.b}) {
                points.push_back({{seg1(s)[0], seg1(s)[1]}, {seg2(s)[0], seg2(s)[1]}});
                points.push_back({{seg1(s)[2], seg1(s)[3]}, {seg2(s)[2], seg2(s)[3]}});
            }
            cv::Matx33d refit;
            // The refit replaces the pair's own estimate only when it still
            // carries both seeds and every voter onto their partners' lines.
            if (fitHomography(lines, points, settings.refitPointWeight, refit)) {
                bool agrees = true;
                for (const LineCorrespondence& l : lines)
                    agrees = agrees && carriesOntoLine(refit, l.image1, l.image2, settings.voteDistance);
                if (agrees) h = refit;
            }
        }
        result.records.push_back({hyp.a, hyp.b, h, static_cast<int>(hyp.voters.size())});
    }
    return result;
}

}  // namespace linematch
