// Scoring against a known homography with the project's ground-truth rule
// (2 px, same direction, overlap 0.5 of the shorter segment). Only the
// report uses it; the matcher itself never sees the ground truth.
#pragma once

#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <set>
#include <utility>
#include <vector>

namespace linematch {

struct Score {
    int matches = 0;   // distinct (i, w) pairs scored
    int correct = 0;
    double precision = 0;  // correct / matches (0 when there are none)
    double recall = 0;     // correct / true correspondences (0 when there are none)
};

class GroundTruth {
public:
    GroundTruth(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                const cv::Matx33d& homography, double maxDistance = 2.0, double minOverlap = 0.5);
    std::size_t size() const { return pairs_.size(); }
    bool contains(const SegmentMatch& m) const {
        return pairs_.count({m.image1Segment, m.image2Segment}) != 0;
    }
    // Duplicated pairs count once.
    Score score(const std::vector<SegmentMatch>& matches) const;

private:
    std::set<std::pair<int, int>> pairs_;
};

}  // namespace linematch
