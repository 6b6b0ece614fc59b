// One matcher call as every front end makes it (the command's folder run,
// the MEX file, Python): the images, the settings, the caller's segments
// and seeds where given, and a ground truth where one scores the result.
// The front ends only convert their arguments into a MatchRequest and the
// MatchOutcome back; which matcher entry runs, the checks that concern the
// request as a whole and the scoring are made here once.
#pragma once

#include "linematch/ground_truth.hpp"
#include "linematch/matcher.hpp"
#include "linematch/result_scores.hpp"

#include <opencv2/core.hpp>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace linematch {

struct MatchRequest {
    cv::Mat image1, image2;  // 8-bit, one or three channels
    MatcherSettings settings;
    // The caller's segments, matched instead of detected ones: both or
    // neither.
    std::optional<std::vector<Segment>> segments1, segments2;
    GivenSeeds given;
    // Ground truth image 1 -> image 2: scores the result; the matcher never
    // reads it.
    std::optional<cv::Matx33d> truth;
};

struct MatchOutcome {
    MatchResult result;
    std::unique_ptr<GroundTruth> truth;  // with a request's truth
    std::optional<ResultScores> scores;  // with a request's truth
};

// One list of segments given without the other. `given` names the one
// there is (1 or 2), so that each front end names its own argument.
struct OneSegmentListOnly : std::invalid_argument {
    OneSegmentListOnly(int given, const std::string& what) : std::invalid_argument(what), given(given) {}
    int given;
};

// Another way to the result from the request's images, in place of
// matchLines: a collection matches from features computed beforehand
// (feature_cache.hpp). It must give what matchLines gives.
using PairMatcher = std::function<MatchResult(const cv::Mat& image1, const cv::Mat& image2)>;

// Runs the request: matchSegments with the caller's segments, else match
// where given, else matchLines; then the scores against the truth. Throws
// what those throw (GivenSeedOutOfRange for a line seed outside the
// segment lists, std::invalid_argument for bad images or segments, or
// for segments given with `match`, which detects its own), and
// OneSegmentListOnly. std::logic_error when the result has not one
// confidence per match: every front end pairs them line by line.
MatchOutcome runMatch(MatchRequest request, const PairMatcher& match = PairMatcher());

// The seconds of each stage as the front ends list them, in this order
// (the MEX INFO.seconds row, report.json's and Python's "seconds"): the
// point stage last, where it was added.
struct StageSeconds {
    const char* name;
    double MatchResult::*seconds;
};
const std::array<StageSeconds, 5>& stageSeconds();

// The figures of one round as the front ends list them, in this order
// (the columns of the MEX INFO.rounds, the keys of report.json's and
// Python's rounds).
struct RoundField {
    const char* name;
    int RoundSummary::*value;
};
const std::array<RoundField, 7>& roundFields();

}  // namespace linematch
