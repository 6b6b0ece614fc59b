// Epipolar screen of segment pairs: which image-2 segments lie inside the
// band that the epipolar lines of an image-1 segment's endpoints cut out.
#pragma once

#include <opencv2/core.hpp>

namespace lineharvest {

// True when the image-2 segment (4x1 CV_64F) is an epipolar candidate for
// the image-1 segment whose endpoint epipolar lines are line1 and line2
// (3x1 CV_64F each). A segment with both endpoints in the band always is;
// otherwise the ratio that measures how badly it sticks out must lie
// strictly below ratioThreshold, and a NaN ratio never does.
bool epipolarSegmentTest(cv::Mat segment, cv::Mat line1, cv::Mat line2, double ratioThreshold);

// Writes the 0/1 candidate matrix (numSegments1 rows of numSegments2
// tokens, each token followed by a space, each row by a line end) to
// "Ecandidates.txt" in the current directory, replacing the file.
// Throws HarvestError of kind "outputFile" when the file cannot be opened or
// written. An epipolarMatrix that is not 3x3 CV_64F makes the first matrix
// or cross product that uses it throw cv::Exception, which is passed through.
void writeEpipolarCandidates(const double* segments1, const double* segments2, int numSegments1,
                             int numSegments2, cv::Mat epipolarMatrix, double ratioThreshold);

}  // namespace lineharvest
