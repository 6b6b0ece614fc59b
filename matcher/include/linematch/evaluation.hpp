// Scoring against a known homography with the project's ground-truth rule
// (2 px, same direction, overlap 0.5 of the shorter segment). Only the
// report uses it; the matcher itself never sees the ground truth.
#pragma once

#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <cstddef>
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

// How well a per-match confidence ranks the matches, from per-match truth
// flags (isTrue[k]: match k is a true correspondence) and the confidences
// in the same order. The matches are ranked by confidence, highest first;
// ties keep the matches' order (a stable sort) and a NaN confidence ranks
// last. std::invalid_argument when the two lists differ in length.
//
// Average precision: the sum over ranks k of precision@k * isTrue[k],
// divided by trueCorrespondences (the denominator of the recall, so that a
// list that misses true correspondences cannot score 1); 0 when there are
// none.
double averagePrecision(const std::vector<bool>& isTrue, const std::vector<double>& confidence,
                        std::size_t trueCorrespondences);
// Precision of the ceil(n/2) most confident of the n matches; 0 for none.
double confidentHalfPrecision(const std::vector<bool>& isTrue, const std::vector<double>& confidence);

}  // namespace linematch
