// Planar geometry on double-precision image coordinates, and the test that
// decides whether a mapped image-1 segment corresponds to an image-2 segment.
//
// Two views of the same numbers are used throughout:
//  - pointer view: consecutive doubles; a 2-D point is (x, y), a segment is
//    (x1, y1, x2, y2) running from its first to its second endpoint;
//  - matrix view: a CV_64F column vector read by element (row, 0); a
//    homogeneous point is (x, y, w) with only x and y read, a homogeneous line
//    is (a, b, c) meaning a*x + b*y + c = 0, a segment matrix is 4x1.
// Degenerate input is not rejected: it yields IEEE NaN or infinity.
#pragma once

#include <opencv2/core.hpp>

namespace lineharvest {

// (b - a) . (c - a). For a on the line through b and c it is <= 0 exactly
// when a lies on the closed segment from b to c.
double dotFrom(const double* a, const double* b, const double* c);

double pointDistance(const double* p, const double* q);

// Foot of the perpendicular from p onto the line through a and b, written
// to out[0], out[1].
void footOfPerpendicular(const double* p, const double* a, const double* b, double* out);

// Signed angle in [-pi, pi] from the direction of s to the direction of t.
void signedAngleBetween(const double* s, const double* t, double* out);

double pointLineDistance(cv::Mat line, cv::Mat point);

// Writes the endpoints of a segment (pointer view) as the homogeneous points
// (x1, y1, 1) and (x2, y2, 1) into two 3x1 CV_64F matrices that the caller
// has already allocated.
void homogeneousEndpoints(const double* segment, cv::Mat& first, cv::Mat& second);

// Writes the homogeneous line through the segment's endpoints into a 3x1
// CV_64F matrix that the caller has already allocated.
void lineThroughSegment(cv::Mat segment, cv::Mat& line);

cv::Mat skewMatrix(cv::Mat v);

// |a - b| after wrapping the difference into (-pi, pi].
double angleDifference(double a, double b);

// Least distance between the closed segments p1-p2 and q1-q2.
double segmentDistance(const double* p1, const double* p2, const double* q1, const double* q2);

// Distance, direction and overlap test of a mapped segment (two 3x1 mapped
// endpoints) against a candidate segment (4x1, continuous) and its line.
// meanDistance receives the mean endpoint distance once the distance stage
// has passed.
bool isSegmentMatch(cv::Mat firstMapped, cv::Mat secondMapped, cv::Mat candidateSegment,
                    cv::Mat candidateLine, double maxLineDistance, double maxAngleDifference,
                    double minOverlapRatio, double* meanDistance);

}  // namespace lineharvest
