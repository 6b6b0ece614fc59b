// The transfer's upper bound with perfect seeds: the run of the bundled
// example, seeded from the ground truth (a random 30 % of the clean true
// correspondences, pair records and pair index table as the example tool
// makes them, one transfer). It reads the ground truth and is reported only
// as a yardstick next to the matcher, never as a way to match.
#pragma once

#include "linematch/transfer_round.hpp"
#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <vector>

namespace linematch {

struct UpperBoundRun {
    std::vector<SegmentMatch> seeds;
    std::vector<SegmentMatch> added;  // the transfer's correspondences, in file order
    int records = 0;
};

UpperBoundRun groundTruthSeededRun(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                                   const cv::Matx33d& truth, cv::Size image2Size, const TransferSettings& settings,
                                   int threads = 1);

}  // namespace linematch
