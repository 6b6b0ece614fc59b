// Line segments of one image: OpenCV's line segment detector, short
// segments dropped, coordinates rounded to 1/1000 pixel so that the segment
// files the matcher writes hold exactly the values it worked with.
#pragma once

#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <vector>

namespace linematch {

// gray: 8-bit single-channel image. Segments shorter than minLength pixels
// are dropped; the order is the detector's.
std::vector<Segment> detectSegments(const cv::Mat& gray, double minLength = 10.0);

// The coordinate as "%.3f" prints it, read back.
double roundToMilliPixel(double value);

double segmentLength(const Segment& s);

}  // namespace linematch
