// Geometry on segments taken as lines: where a homography carries a segment,
// whether it lands on another segment's line, and a homography fitted to
// line correspondences (points of one image on lines of the other), which
// does not depend on where the detector happened to cut the segments.
#pragma once

#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <vector>

namespace linematch {

// The segment's endpoints mapped by h; NaN coordinates when an endpoint
// goes to infinity.
Segment mapSegment(const cv::Matx33d& h, const Segment& s);

// The line through s as (a, b, c) with a^2 + b^2 = 1 and a x + b y + c = 0
// (all zero for a segment of length 0).
cv::Vec3d unitLine(const Segment& s);

// True when h carries a onto the line of b: both mapped endpoints within
// maxDistance of b's line, the mapped segment runs the same way as b, and
// its projection onto b's line shares a part with b. The endpoints of a
// and b need not agree.
bool carriesOntoLine(const cv::Matx33d& h, const Segment& a, const Segment& b, double maxDistance);

// Common part of mapped (already in image-2 coordinates) and b along b's
// line, as a fraction of the longer of the two; 0 when they run opposite
// ways or do not overlap.
double sharedExtent(const Segment& mapped, const Segment& b);

struct LineCorrespondence {
    Segment image1;
    Segment image2;
};

struct PointCorrespondence {
    cv::Point2d image1;
    cv::Point2d image2;
};

// Least-squares homography (normalised linear fit) for which the endpoints
// of every lines[k].image1 fall on the line of lines[k].image2, and each
// points[k].image1 falls on points[k].image2 with weight pointWeight
// relative to a line condition. Returns false when the fit is degenerate
// (fewer than 8 independent conditions, a non-finite result, or a map
// that sends one of the given image-1 points to or beyond infinity).
bool fitHomography(const std::vector<LineCorrespondence>& lines, const std::vector<PointCorrespondence>& points,
                   double pointWeight, cv::Matx33d& homography);

}  // namespace linematch
