// What the benchmark programs (score_matches, stereo_truth) share: reading
// a matcher's match and confidence files, and scoring a ranked match list.
//
// Average precision: the matches are sorted by confidence, highest first
// (equal confidences keep the file's order); a pair listed twice counts
// once, at its first rank. Then
//   AP = sum over ranks k of precision@k * [match k is true] / T
// where T is the number of true correspondences (the recall denominator:
// every pair the ground-truth rule accepts, as report.json's
// true_correspondences counts them). A list whose every true match comes
// before every false one and that holds all T has AP 1.
#pragma once

#include "linematch/types.hpp"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace linematch::bench {

// "i w" per line, 0-based; blank lines skipped. std::runtime_error naming
// the line on anything else, or on an index outside [0, count1) or
// [0, count2).
std::vector<SegmentMatch> readMatchList(const std::string& path, std::size_t count1, std::size_t count2);

// One number in [0, 1] per line. std::runtime_error naming the line on
// anything else, and when the count differs from expectedCount.
std::vector<double> readConfidenceList(const std::string& path, std::size_t expectedCount);

struct RankedScore {
    double averagePrecision = 0;
    // Precision of the first half (rounded up) of the ranked matches; NaN
    // when none was ranked.
    double confidentHalfPrecision = 0;
    int ranked = 0;  // distinct matches that were ranked
};

// isTrue says whether a match is a true correspondence; judged (when set)
// leaves out the matches the ground truth cannot decide, which are then
// neither ranked nor counted.
RankedScore rankedScore(const std::vector<SegmentMatch>& matches, const std::vector<double>& confidence,
                        const std::function<bool(const SegmentMatch&)>& isTrue, std::size_t trueCount,
                        const std::function<bool(const SegmentMatch&)>& judged = nullptr);

// "%.3f", or "-" for NaN.
std::string formatScore(double value);

}  // namespace linematch::bench
