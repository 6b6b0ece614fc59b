// The epipolar test of one segment pair: whether an image-2 segment lies far
// enough inside the band that the epipolar lines of an image-1 segment's two
// endpoints cut out of the image-2 segment's own line.
#pragma once

namespace lineharvest {

// True when the image-2 segment (x1, y1, x2, y2) is an epipolar candidate for
// the image-1 segment whose endpoints have the epipolar lines line1 and line2
// (a, b, c: a*u + b*v + c = 0). A segment with both endpoints in the band
// always is; otherwise the ratio that measures how badly it sticks out must
// lie strictly below ratioThreshold, and a NaN ratio never does.
// segmentLine is the segment's own homogeneous line (lineThroughSegment in
// geometry.hpp), passed in so that a caller testing one segment against many
// bands computes it once.
bool epipolarSegmentTest(const double* segment, const double* segmentLine, const double* line1,
                         const double* line2, double ratioThreshold);

// The epipolar line of the image-1 point (x, y): the row-major 3x3 matrix
// times (x, y, 1), bit for bit what OpenCV's matrix product gives.
void epipolarLine(const double* matrix, double x, double y, double* line);

// The first two components of the crossing point of two homogeneous lines,
// bit for bit what OpenCV gives for a.cross(b) divided by its third element.
void epipolarCrossing(const double* a, const double* b, double* point);

}  // namespace lineharvest
