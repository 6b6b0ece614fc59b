// The correspondence test of a mapped image-1 segment against one image-2
// segment, on plain doubles.
#pragma once

#include "lineharvest/types.hpp"

namespace lineharvest {

// Whether the other segment (r, s), projected onto the reference segment
// (p, q), shares a part of it that covers the fraction t of the shorter one.
bool segmentsOverlap(const double* p, const double* q, const double* r, const double* s, double t);

// Distance, direction and overlap test of the mapped segment (x1 y1 x2 y2)
// against a candidate segment and its homogeneous line (a, b, c). A value
// greater than its threshold rejects; equal, or NaN, passes. meanDistance
// receives the mean endpoint distance once the distance stage has passed.
bool isSegmentMatch(const double* mapped, const double* candidate, const double* candidateLine,
                    const Thresholds& thresholds, double* meanDistance);

}  // namespace lineharvest
