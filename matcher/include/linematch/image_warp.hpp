// Synthetic image pairs: an image warped by a perspective map that moves
// each corner by a bounded random amount, with the map as ground truth.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>

namespace linematch {

// The homography that moves the four corners of an image of this size each
// by up to maxShift times the image width (x) and height (y), drawn with a
// fixed seed (the same on every platform).
cv::Matx33d cornerShiftHomography(cv::Size size, double maxShift, std::uint32_t seed);

// image warped by h (image -> result pixels), same size, bilinear,
// black outside.
cv::Mat warpImage(const cv::Mat& image, const cv::Matx33d& h);

}  // namespace linematch
