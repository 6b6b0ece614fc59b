#include "linematch/seed_checks.hpp"

#include "linematch/pair_records.hpp"
#include "parallel_ranges.hpp"
#include "round_memos.hpp"
#include "spatial_index.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace linematch {

namespace {

cv::Point2d midpoint(const Segment& s) { return {(s[0] + s[2]) / 2, (s[1] + s[3]) / 2}; }

// For each seed, the nearest other seeds within the distance, nearest first
// (ties to the lower index). Seeds sharing a segment with it are not
// neighbours.
std::vector<std::vector<int>> nearestSeeds(const std::vector<Segment>& segments1,
                                           const std::vector<SegmentMatch>& seeds, int count,
                                           double maxDistance, int threads) {
    const int n = static_cast<int>(seeds.size());
    std::vector<cv::Point2d> mids(n);
    for (int s = 0; s < n; ++s) mids[s] = midpoint(segments1[seeds[s].image1Segment]);
    const PointIndex index(mids);
    std::vector<std::vector<int>> neighbours(n);
    parallelRanges(n, rangeParts(n, threads, 256), [&](int begin, int end, int) {
        std::vector<std::pair<double, int>> byDistance;
        for (int s = begin; s < end; ++s) {
            const auto other = [&](int t) {
                return t != s && seeds[t].image1Segment != seeds[s].image1Segment &&
                       seeds[t].image2Segment != seeds[s].image2Segment;
            };
            index.nearest(mids[s], count, maxDistance, other, byDistance);
            for (const auto& [d, t] : byDistance) neighbours[s].push_back(t);
        }
    });
    return neighbours;
}

}  // namespace

SeedCheckResult checkSeeds(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                           const std::vector<SegmentMatch>& seeds, const SeedCheckSettings& settings,
                           int threads, SeedCheckMemo* memo) {
    const int n = static_cast<int>(seeds.size());
    SeedCheckResult result;
    result.seedKept.assign(n, settings.neighbourSupport ? 0 : 1);
    const auto neighbours = nearestSeeds(segments1, seeds, settings.neighbours, settings.maxSeedDistance, threads);
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
    // Each pair's homography and votes depend on that pair alone: the pairs
    // are shared out among the threads, the hypotheses kept in pair order.
    const int numPairs = static_cast<int>(pairs.size());
    std::vector<Hypothesis> tried(pairs.size());
    std::vector<char> estimated(pairs.size(), 0);
    // Pair homographies not found in the memo, to be added to it.
    std::vector<std::vector<int>> pairKeys(memo ? pairs.size() : 0);
    std::vector<char> worked(pairs.size(), 0);
    parallelRanges(numPairs, rangeParts(numPairs, threads, 128), [&](int begin, int end, int) {
        std::vector<int> voterPool;
        for (int p = begin; p < end; ++p) {
            const auto [a, b] = pairs[static_cast<std::size_t>(p)];
            cv::Matx33d h;
            bool ok = false;
            bool known = false;
            if (memo) {
                std::vector<int>& key = pairKeys[static_cast<std::size_t>(p)];
                key = {seeds[a].image1Segment, seeds[a].image2Segment, seeds[b].image1Segment, seeds[b].image2Segment};
                const auto found = memo->pairHomographies.find(key);
                if (found != memo->pairHomographies.end()) {
                    known = true;
                    ok = found->second.has_value();
                    if (ok) h = *found->second;
                }
            }
            if (!known) {
                ok = estimateLocalHomography(seg1(a), seg2(a), seg1(b), seg2(b), settings.minSpread, h);
                worked[static_cast<std::size_t>(p)] = 1;
                tried[static_cast<std::size_t>(p)].h = h;
            }
            if (!ok) continue;
            estimated[static_cast<std::size_t>(p)] = 1;
            // Voters: the neighbours of either seed.
            voterPool.assign(neighbours[a].begin(), neighbours[a].end());
            voterPool.insert(voterPool.end(), neighbours[b].begin(), neighbours[b].end());
            std::sort(voterPool.begin(), voterPool.end());
            voterPool.erase(std::unique(voterPool.begin(), voterPool.end()), voterPool.end());
            Hypothesis& hyp = tried[static_cast<std::size_t>(p)];
            hyp = {a, b, h, {}};
            for (int u : voterPool)
                if (u != a && u != b && carriesOntoLine(h, seg1(u), seg2(u), settings.voteDistance))
                    hyp.voters.push_back(u);
        }
    });
    if (memo)
        for (std::size_t p = 0; p < pairs.size(); ++p)
            if (worked[p])
                memo->pairHomographies.emplace(std::move(pairKeys[p]), estimated[p] ? std::optional<cv::Matx33d>(tried[p].h)
                                                                                  : std::nullopt);
    std::vector<Hypothesis> hypotheses;
    std::vector<int> bestVotes(n, -1);
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        if (!estimated[p]) continue;
        ++result.pairsTried;
        Hypothesis& hyp = tried[p];
        const int votes = static_cast<int>(hyp.voters.size());
        bestVotes[hyp.a] = std::max(bestVotes[hyp.a], votes);
        bestVotes[hyp.b] = std::max(bestVotes[hyp.b], votes);
        hypotheses.push_back(std::move(hyp));
    }
    if (settings.neighbourSupport)
        for (int s = 0; s < n; ++s) result.seedKept[s] = bestVotes[s] >= settings.minVotes;

    // The refits, too, are independent of each other.
    const int numHypotheses = static_cast<int>(hypotheses.size());
    std::vector<SeedPair> records(hypotheses.size());
    std::vector<char> recorded(hypotheses.size(), 0);
    std::vector<std::vector<int>> recordKeys(memo ? hypotheses.size() : 0);
    std::vector<char> refitted(hypotheses.size(), 0);
    parallelRanges(numHypotheses, rangeParts(numHypotheses, threads, 64), [&](int begin, int end, int) {
        for (int k = begin; k < end; ++k) {
            const Hypothesis& hyp = hypotheses[static_cast<std::size_t>(k)];
            if (!result.seedKept[hyp.a] || !result.seedKept[hyp.b]) continue;
            if (settings.pairAgreement && static_cast<int>(hyp.voters.size()) < settings.minVotes) continue;
            cv::Matx33d h = hyp.h;
            if (settings.lineRefit) {
                std::vector<LineCorrespondence> lines{{seg1(hyp.a), seg2(hyp.a)}, {seg1(hyp.b), seg2(hyp.b)}};
                std::vector<int> key;
                if (memo) key = {seeds[hyp.a].image1Segment, seeds[hyp.a].image2Segment,
                                 seeds[hyp.b].image1Segment, seeds[hyp.b].image2Segment};
                for (int u : hyp.voters)
                    if (result.seedKept[u]) {
                        lines.push_back({seg1(u), seg2(u)});
                        if (memo) key.insert(key.end(), {seeds[u].image1Segment, seeds[u].image2Segment});
                    }
                const auto found = memo ? memo->records.find(key) : SeedCheckMemo::RecordMap::const_iterator();
                if (memo && found != memo->records.end()) {
                    h = found->second;
                } else {
                    std::vector<PointCorrespondence> points;
                    for (int s : {hyp.a, hyp.b}) {
                        points.push_back({{seg1(s)[0], seg1(s)[1]}, {seg2(s)[0], seg2(s)[1]}});
                        points.push_back({{seg1(s)[2], seg1(s)[3]}, {seg2(s)[2], seg2(s)[3]}});
                    }
                    cv::Matx33d refit;
                    // The refit replaces the pair's own estimate only when it
                    // still carries both seeds and every voter onto their
                    // partners' lines.
                    if (fitHomography(lines, points, settings.refitPointWeight, refit)) {
                        bool agrees = true;
                        for (const LineCorrespondence& l : lines)
                            agrees = agrees && carriesOntoLine(refit, l.image1, l.image2, settings.voteDistance);
                        if (agrees) h = refit;
                    }
                    if (memo) {
                        recordKeys[static_cast<std::size_t>(k)] = std::move(key);
                        refitted[static_cast<std::size_t>(k)] = 1;
                    }
                }
            }
            records[static_cast<std::size_t>(k)] = makeSeedPair(seeds, hyp.a, hyp.b, h, static_cast<int>(hyp.voters.size()));
            recorded[static_cast<std::size_t>(k)] = 1;
        }
    });
    if (memo)
        for (std::size_t k = 0; k < records.size(); ++k)
            if (refitted[k]) memo->records.emplace(std::move(recordKeys[k]), records[k].homography());
    for (std::size_t k = 0; k < records.size(); ++k)
        if (recorded[k]) result.records.push_back(records[k]);
    return result;
}

}  // namespace linematch
