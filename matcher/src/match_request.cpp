#include "linematch/match_request.hpp"

#include <stdexcept>
#include <string>
#include <utility>

namespace linematch {

MatchOutcome runMatch(MatchRequest request, const PairMatcher& match) {
    if (request.segments1.has_value() != request.segments2.has_value()) {
        const int given = request.segments1 ? 1 : 2;
        throw OneSegmentListOnly(given, "segments of image " + std::to_string(given) +
                                            " were given without those of image " + std::to_string(3 - given));
    }
    if (request.segments1 && match)
        throw std::invalid_argument("given segments cannot be matched from features computed beforehand");
    MatchOutcome out;
    if (request.segments1)
        out.result = matchSegments(request.image1, request.image2, std::move(*request.segments1),
                                   std::move(*request.segments2), request.settings, request.given);
    else if (match)
        out.result = match(request.image1, request.image2);
    else
        out.result = matchLines(request.image1, request.image2, request.settings, request.given);
    if (out.result.confidence.size() != out.result.matches.size())
        throw std::logic_error("the matcher gave " + std::to_string(out.result.confidence.size()) +
                               " confidences for " + std::to_string(out.result.matches.size()) + " matches");
    if (request.truth) {
        out.truth = std::make_unique<GroundTruth>(out.result.segments1, out.result.segments2, *request.truth);
        out.scores = scoreResult(out.result, *out.truth);
    }
    return out;
}

const std::array<StageSeconds, 5>& stageSeconds() {
    static const std::array<StageSeconds, 5> stages{{{"segments", &MatchResult::secondsSegments},
                                                     {"descriptors", &MatchResult::secondsDescriptors},
                                                     {"seed_checks", &MatchResult::secondsChecks},
                                                     {"transfer", &MatchResult::secondsTransfer},
                                                     {"points", &MatchResult::secondsPoints}}};
    return stages;
}

const std::array<RoundField, 7>& roundFields() {
    static const std::array<RoundField, 7> fields{{{"seeds", &RoundSummary::seeds},
                                                   {"seeds_kept", &RoundSummary::keptSeeds},
                                                   {"pair_records", &RoundSummary::records},
                                                   {"transferred", &RoundSummary::transferred},
                                                   {"rejected", &RoundSummary::rejected},
                                                   {"added", &RoundSummary::added},
                                                   {"new_seeds", &RoundSummary::newSeeds}}};
    return fields;
}

}  // namespace linematch
