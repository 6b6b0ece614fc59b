// The ground-truth rule on a rectified stereo pair with a disparity map of
// the left image, in place of a homography: a left segment's endpoints are
// shifted by the disparity sampled there, (x, y) -> (x - d, y), and the
// shifted segment must pass the same distance, direction and overlap test
// (isTrueCorrespondence) as a homography-carried one.
//
// The disparity at an endpoint is the median of the known disparities of
// the pixels within endpointRadius (2 px) of it; a left segment with an
// endpoint that has none cannot be judged, and its matches are left out of
// the precision (counted apart as unjudged).
//
// A left segment is on a depth edge when, somewhere along it, the known
// disparities of the band reaching edgeBand (3 px) to either side of it
// differ by more than edgeJump (1 px): the band crosses a jump in depth.
// The band is looked at in 1-px stations along the segment, so a plane
// slanted along the segment does not make an edge of it. The others are
// interior segments.
#pragma once

#include "linematch/ground_truth.hpp"
#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <set>
#include <utility>
#include <vector>

namespace linematch::bench {

struct DisparitySettings {
    TruthCriterion criterion;     // 2 px, overlap 0.5 of the shorter segment
    double endpointRadius = 2.0;  // pixels around an endpoint sampled for its disparity
    double edgeBand = 3.0;        // pixels to either side of a segment
    double edgeJump = 1.0;        // disparities differing by more: a depth edge
};

struct StereoScore {
    int matches = 0;  // distinct (i, w) pairs
    int judged = 0;   // of them, with a judged left segment
    int correct = 0;
    // As linematch::Score: 0 when nothing is judged, or when there are no
    // true pairs.
    double precision = 0;  // correct / judged
    double recall = 0;     // correct / true pairs
    int edgeJudged = 0, edgeCorrect = 0;
    int interiorJudged = 0, interiorCorrect = 0;
};

class DisparityTruth {
public:
    // disparity: CV_32FC1 of the left image's size, in pixels; 0, negative
    // or not finite where unknown.
    DisparityTruth(const cv::Mat& disparity, const std::vector<Segment>& left, const std::vector<Segment>& right,
                   const DisparitySettings& settings = {});

    // Median of the known disparities within radius of p; false when none.
    static bool sampleDisparity(const cv::Mat& disparity, const cv::Point2d& p, double radius, double& value);

    bool judged(int leftSegment) const { return judged_[leftSegment] != 0; }
    bool depthEdge(int leftSegment) const { return depthEdge_[leftSegment] != 0; }
    int judgedCount() const;
    int depthEdgeCount() const;
    // Every (i, w) the rule accepts: the recall denominator.
    std::size_t size() const { return pairs_.size(); }
    const std::set<std::pair<int, int>>& pairs() const { return pairs_; }
    bool contains(const SegmentMatch& m) const { return pairs_.count({m.image1Segment, m.image2Segment}) != 0; }
    // Duplicated pairs count once.
    StereoScore score(const std::vector<SegmentMatch>& matches) const;

private:
    std::vector<char> judged_;
    std::vector<char> depthEdge_;
    std::set<std::pair<int, int>> pairs_;
};

}  // namespace linematch::bench
