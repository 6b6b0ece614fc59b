// The geometry primitives and pair tests on OpenCV column matrices, as the
// transfer was first written: a CV_64F column read by element (row, 0), a
// homogeneous point (x, y, w) with only x and y read, a homogeneous line
// (a, b, c), a segment as 4x1. The reference transfer and the tests use
// them; the cores work on plain doubles and carry only those.
#pragma once

#include <opencv2/core.hpp>

namespace reference {

double pointLineDistance(cv::Mat line, cv::Mat point);

// Writes the endpoints of a segment (x1 y1 x2 y2) as the homogeneous points
// (x1, y1, 1) and (x2, y2, 1) into two 3x1 CV_64F matrices that the caller
// has already allocated.
void homogeneousEndpoints(const double* segment, cv::Mat& first, cv::Mat& second);

// Writes the homogeneous line through the segment's endpoints into a 3x1
// CV_64F matrix that the caller has already allocated (the core's
// lineThroughSegment on the elements).
void lineThroughSegment(cv::Mat segment, cv::Mat& line);

cv::Mat skewMatrix(cv::Mat v);

// The core's isSegmentMatch on a mapped segment given as two 3x1 mapped
// endpoints, a candidate segment (4x1, continuous) and its line.
bool isSegmentMatch(cv::Mat firstMapped, cv::Mat secondMapped, cv::Mat candidateSegment,
                    cv::Mat candidateLine, double maxLineDistance, double maxAngleDifference,
                    double minOverlapRatio, double* meanDistance);

// The core's epipolarSegmentTest on OpenCV columns: segment 4x1, line1 and
// line2 3x1, all CV_64F (a column of a wider matrix is fine). cv::Exception
// for another shape or type.
bool epipolarSegmentTest(cv::Mat segment, cv::Mat line1, cv::Mat line2, double ratioThreshold);

}  // namespace reference
