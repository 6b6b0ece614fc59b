// Planar geometry on double-precision image coordinates, on consecutive
// doubles: a 2-D point is (x, y), a segment is (x1, y1, x2, y2) running from
// its first to its second endpoint, a homogeneous line is (a, b, c) meaning
// a*x + b*y + c = 0. Degenerate input is not rejected: it yields IEEE NaN or
// infinity.
#pragma once

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

// The homogeneous line through the segment's endpoints, the cross product
// (x1, y1, 1) x (x2, y2, 1) = (y1 - y2, x2 - x1, x1*y2 - x2*y1): not
// normalised, (0, 0, 0) for a segment of length 0. The transfer and the
// epipolar screen both take their lines from here.
void lineThroughSegment(const double* segment, double* line);

// |a - b| after wrapping the difference into (-pi, pi].
double angleDifference(double a, double b);

// Least distance between the closed segments p1-p2 and q1-q2.
double segmentDistance(const double* p1, const double* p2, const double* q1, const double* q2);

}  // namespace lineharvest
