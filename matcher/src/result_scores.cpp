#include "linematch/result_scores.hpp"

namespace linematch {

ResultScores scoreResult(const MatchResult& r, const GroundTruth& truth) {
    ResultScores s;
    s.trueCorrespondences = truth.size();
    s.descriptorAlone = truth.score(r.descriptorMatches);
    s.pointSeeds = truth.score(r.pointSeeds);
    s.seeds = truth.score(r.seeds);
    std::vector<SegmentMatch> soFar = r.seeds;
    for (const std::vector<SegmentMatch>& added : r.roundMatches) {
        soFar.insert(soFar.end(), added.begin(), added.end());
        s.rounds.push_back({truth.score(added), truth.score(soFar)});
    }
    s.final = truth.score(r.matches);
    std::vector<bool> isTrue(r.matches.size());
    for (std::size_t k = 0; k < r.matches.size(); ++k) isTrue[k] = truth.contains(r.matches[k]);
    s.averagePrecision = averagePrecision(isTrue, r.confidence, s.trueCorrespondences);
    s.confidentHalfPrecision = confidentHalfPrecision(isTrue, r.confidence);
    return s;
}

}  // namespace linematch
