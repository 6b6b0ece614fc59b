// Line segments of one image: OpenCV's line segment detector, short
// segments dropped, coordinates rounded to 1/1000 pixel so that the segment
// files the matcher writes hold exactly the values it worked with.
#pragma once

#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace linematch {

// gray: 8-bit single-channel image. Segments shorter than minLength pixels
// are dropped; the order is the detector's.
std::vector<Segment> detectSegments(const cv::Mat& gray, double minLength = 10.0);

// The coordinate as "%.3f" prints it, read back.
double roundToMilliPixel(double value);

double segmentLength(const Segment& s);

// The one check of a caller's own segments, in every front end: each
// coordinate finite and below 2^24 in magnitude (the bound of the
// transfer's grid index). The index of the first segment that fails, with
// why ("is not finite", "has a coordinate of 2^24 or more in magnitude");
// -1 when none does.
long firstRefusedSegment(const std::vector<Segment>& segments, std::string& why);

}  // namespace linematch
