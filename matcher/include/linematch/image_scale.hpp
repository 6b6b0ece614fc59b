// Tolerances that follow the image size. The matcher's neighbourhoods (how
// far apart two seeds of a pair may be, how far the neighbour verification
// looks) are set in pixels for images of up to about 1000 px a side; a
// larger image of the same scene holds the same structures at more pixels,
// so its neighbourhoods grow with it. Smaller images keep the pixel values:
// their structures are not smaller than the detector's own limits allow.
#pragma once

#include <opencv2/core.hpp>

namespace linematch {

struct MatcherSettings;

// The factor the neighbourhoods are multiplied by: the longest side of
// either image over referenceSide, at least 1.
double imageScale(cv::Size image1, cv::Size image2, double referenceSide = 1000.0);

// settings with their pixel neighbourhoods multiplied by scale. Distances
// of a point to a line (votes, verification, transfer) stay in pixels: they
// measure how well a local map fits, not the size of a structure.
MatcherSettings scaledSettings(const MatcherSettings& settings, double scale);

}  // namespace linematch
