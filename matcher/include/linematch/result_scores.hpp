// A matcher result scored against a ground-truth homography, stage by
// stage: what the command's report, the MEX INFO.score and Python's
// MatchResult.scores all show, derived here once.
#pragma once

#include "linematch/evaluation.hpp"
#include "linematch/matcher.hpp"

#include <vector>

namespace linematch {

struct RoundScores {
    Score added;  // this round's additions alone
    Score soFar;  // the seeds and the additions of this and the earlier rounds
};

struct ResultScores {
    std::size_t trueCorrespondences = 0;
    Score descriptorAlone;  // the descriptor matches before the checks
    Score pointSeeds;       // the point seed candidates before the checks
    Score seeds;            // the seeds the checks kept
    std::vector<RoundScores> rounds;
    Score final;            // all matches
    // How well MatchResult::confidence ranks the matches (evaluation.hpp):
    // average precision over trueCorrespondences, and the precision of the
    // more confident half.
    double averagePrecision = 0;
    double confidentHalfPrecision = 0;
};

// std::invalid_argument when result.confidence is not one value per match.
ResultScores scoreResult(const MatchResult& result, const GroundTruth& truth);

}  // namespace linematch
