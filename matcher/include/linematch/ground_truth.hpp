// The project's ground-truth rule: when a segment of image 1, carried into
// image 2 by a known homography, counts as the same edge as an image-2
// segment. The scoring, the example preparation and the ground-truth-seeded
// comparison run use it; the matcher itself never sees the ground truth.
#pragma once

#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

namespace linematch {

struct TruthCriterion {
    double maxDistance = 2.0;   // both mapped endpoints to the image-2 line, pixels
    double minOverlap = 0.5;    // common part / shorter of the two segments
};

// How the seeds of a ground-truth-seeded run are drawn from the true
// correspondences.
struct TruthSeedSettings {
    double fraction = 0.3;        // share of the eligible true matches kept
    double minLength = 25.0;      // shortest image-1 segment, pixels
    double minExtentMatch = 0.8;  // common part / longer of the two segments
    std::uint32_t randomSeed = 1;
};

// True when mapped (already in image-2 coordinates) lies on candidate: both
// endpoints within maxDistance of candidate's line, the two run the same
// way, and their common part along candidate's line covers minOverlap of
// the shorter one. commonLength receives that common part (0 when rejected
// before the overlap is measured).
bool isTrueCorrespondence(const Segment& mapped, const Segment& candidate,
                          const TruthCriterion& criterion, double* commonLength = nullptr);

// Every (i, w) pair that the criterion accepts, by increasing i, then w.
std::vector<SegmentMatch> truthPairs(const std::vector<Segment>& segments1,
                                     const std::vector<Segment>& segments2,
                                     const cv::Matx33d& truth, const TruthCriterion& criterion);

// One-to-one subset of the truth pairs, taking the pairs of longest common
// part first. Of those whose image-1 segment is at least settings.minLength
// long and whose common part covers settings.minExtentMatch of the longer
// segment, the share settings.fraction is kept, drawn with a fixed random
// seed. The result is sorted by image-1 index.
std::vector<SegmentMatch> selectSeeds(const std::vector<Segment>& segments1,
                                      const std::vector<Segment>& segments2,
                                      const cv::Matx33d& truth, const TruthCriterion& criterion,
                                      const TruthSeedSettings& settings);

}  // namespace linematch
