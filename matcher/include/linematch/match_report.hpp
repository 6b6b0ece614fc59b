// The matcher's report: counts per stage and per round, the verified
// two-view geometry, timings, and, when a ground-truth homography is given,
// precision and recall of the descriptor matches alone, of the checked
// seeds, of each round and of the whole, how well the confidence ranks the
// matches, optionally next to the ground-truth-seeded upper bound.
#pragma once

#include "linematch/evaluation.hpp"
#include "linematch/match_request.hpp"
#include "linematch/matcher.hpp"
#include "linematch/matcher_options.hpp"
#include "linematch/upper_bound.hpp"

#include <string>

namespace linematch {

struct ReportContext {
    std::string image1;
    std::string image2;
    std::string homographyFile;            // empty without ground truth
    const GroundTruth* truth = nullptr;    // with a homography: scores the upper bound
    const UpperBoundRun* upperBound = nullptr;
    double secondsTotal = 0;
    double ratio = 0.7;
};

// settings: every option of the front ends' table (matcher_options.hpp).
// The result's fields come from its description (result_description.hpp),
// the scores from outcome.scores; context adds what only the run knows.
std::string reportJson(const MatchOutcome& outcome, const FrontEndSettings& options, const ReportContext& context);
std::string reportText(const MatchOutcome& outcome, const MatcherSettings& settings, const ReportContext& context);

}  // namespace linematch
