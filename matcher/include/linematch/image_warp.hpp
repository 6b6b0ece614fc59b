// Synthetic image pairs: an image warped by a perspective map that moves
// each corner by a bounded random amount, and optionally scaled, rotated
// and tilted (the view of a plane from an oblique angle), with the map as
// ground truth.
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

// A change of view on top of a warp: scale, rotation (degrees,
// counter-clockwise as seen on screen) and tilt (the image squeezed by
// 1/tilt across the direction tiltAngle, degrees from the x axis, as a
// plane seen tilt times foreshortened).
struct ViewChange {
    double scale = 1.0;
    double rotation = 0.0;
    double tilt = 1.0;
    double tiltAngle = 0.0;
    bool identity() const { return scale == 1.0 && rotation == 0.0 && tilt == 1.0; }
};

// change applied after h about the centre of the image, and moved so that
// the image's pixel centres land in a canvas that just holds them;
// canvas receives that canvas's size. std::invalid_argument for a scale or
// tilt that is not a finite positive number (tilt at least 1), a rotation
// that is not finite, or a canvas larger than 20000 px a side.
cv::Matx33d viewChangeHomography(cv::Size size, const cv::Matx33d& h, const ViewChange& change, cv::Size& canvas);

// image warped by h into a canvas of the given size.
cv::Mat warpImage(const cv::Mat& image, const cv::Matx33d& h, cv::Size canvas);

}  // namespace linematch
