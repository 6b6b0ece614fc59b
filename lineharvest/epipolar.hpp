// Epipolar screen of segment pairs: which image-2 segments lie inside the
// band that the epipolar lines of an image-1 segment's endpoints cut out.
#pragma once

#include <opencv2/core.hpp>

namespace lineharvest {

// True when the image-2 segment (4x1 CV_64F) is an epipolar candidate for
// the image-1 segment whose endpoint epipolar lines are line1 and line2.
bool epipolarSegmentTest(cv::Mat segment, cv::Mat line1, cv::Mat line2, double ratioThreshold);

// Writes the 0/1 candidate matrix (numSegments1 rows of numSegments2
// tokens) to "Ecandidates.txt" in the current directory.
void writeEpipolarCandidates(const double* segments1, const double* segments2, int numSegments1,
                             int numSegments2, cv::Mat epipolarMatrix, double ratioThreshold);

}  // namespace lineharvest
