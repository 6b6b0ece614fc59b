#include "linematch/image_warp.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

namespace linematch {

cv::Matx33d cornerShiftHomography(cv::Size size, double maxShift, std::uint32_t seed) {
    if (size.width < 2 || size.height < 2) throw std::invalid_argument("image too small to warp");
    if (!(maxShift >= 0 && maxShift < 0.5)) throw std::invalid_argument("corner shift must lie in [0, 0.5)");
    // Raw generator output, scaled by hand: the standard distributions differ
    // between libraries.
    std::mt19937 generator(seed);
    const auto uniform = [&] { return 2.0 * (generator() / 4294967296.0) - 1.0; };
    const double w = size.width - 1, h = size.height - 1;
    const cv::Point2f from[4] = {{0, 0}, {static_cast<float>(w), 0}, {static_cast<float>(w), static_cast<float>(h)},
                                 {0, static_cast<float>(h)}};
    cv::Point2f to[4];
    for (int k = 0; k < 4; ++k) {
        const double dx = uniform() * maxShift * size.width;
        const double dy = uniform() * maxShift * size.height;
        to[k] = {static_cast<float>(from[k].x + dx), static_cast<float>(from[k].y + dy)};
    }
    return cv::Matx33d(cv::getPerspectiveTransform(from, to));
}

cv::Mat warpImage(const cv::Mat& image, const cv::Matx33d& h) { return warpImage(image, h, image.size()); }

cv::Mat warpImage(const cv::Mat& image, const cv::Matx33d& h, cv::Size canvas) {
    if (image.empty()) throw std::invalid_argument("empty image");
    if (canvas.width < 1 || canvas.height < 1) throw std::invalid_argument("empty canvas");
    cv::Mat warped;
    cv::warpPerspective(image, warped, cv::Mat(h), canvas, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    return warped;
}

namespace {

// cos and sin of a multiple of 90 degrees exactly, so that quarter turns
// move pixels onto pixels.
void cosSin(double degrees, double& c, double& s) {
    const double quarters = degrees / 90.0;
    if (quarters == std::round(quarters)) {
        const long q = static_cast<long>(std::fmod(std::round(quarters), 4.0) + 4) % 4;
        static const double cs[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
        c = cs[q][0];
        s = cs[q][1];
        return;
    }
    const double r = degrees * CV_PI / 180.0;
    c = std::cos(r);
    s = std::sin(r);
}

cv::Matx33d rotation(double degrees) {
    double c = 1, s = 0;
    cosSin(degrees, c, s);
    // Counter-clockwise on screen, where y points down.
    return {c, s, 0, -s, c, 0, 0, 0, 1};
}

}  // namespace

cv::Matx33d viewChangeHomography(cv::Size size, const cv::Matx33d& h, const ViewChange& change, cv::Size& canvas) {
    if (size.width < 2 || size.height < 2) throw std::invalid_argument("image too small to warp");
    if (!(change.scale > 0) || !std::isfinite(change.scale)) throw std::invalid_argument("scale must be a positive number");
    if (!(change.tilt >= 1) || !std::isfinite(change.tilt)) throw std::invalid_argument("tilt must be a number >= 1");
    if (!std::isfinite(change.rotation) || !std::isfinite(change.tiltAngle))
        throw std::invalid_argument("angles must be finite");
    const double cx = (size.width - 1) / 2.0, cy = (size.height - 1) / 2.0;
    const cv::Matx33d toCentre(1, 0, -cx, 0, 1, -cy, 0, 0, 1);
    const cv::Matx33d squeeze(1.0 / change.tilt, 0, 0, 0, 1, 0, 0, 0, 1);
    const cv::Matx33d tilt = rotation(-change.tiltAngle) * squeeze * rotation(change.tiltAngle);
    const cv::Matx33d scale(change.scale, 0, 0, 0, change.scale, 0, 0, 0, 1);
    cv::Matx33d m = rotation(change.rotation) * scale * tilt * toCentre * h;
    // The canvas holds the warped pixel centres of the four corners.
    const double w = size.width - 1, hh = size.height - 1;
    double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
    for (const cv::Vec3d& p : {cv::Vec3d(0, 0, 1), cv::Vec3d(w, 0, 1), cv::Vec3d(w, hh, 1), cv::Vec3d(0, hh, 1)}) {
        const cv::Vec3d q = m * p;
        if (!(q[2] > 0)) throw std::invalid_argument("the warp sends a corner to infinity");
        x0 = std::min(x0, q[0] / q[2]);
        x1 = std::max(x1, q[0] / q[2]);
        y0 = std::min(y0, q[1] / q[2]);
        y1 = std::max(y1, q[1] / q[2]);
    }
    // The leftmost and topmost pixel centres land on the canvas's first
    // column and row: a quarter turn or a plain scale stays on the grid.
    const double ox = x0, oy = y0;
    const double width = std::floor(x1 - ox + 1e-9) + 1, height = std::floor(y1 - oy + 1e-9) + 1;
    if (!(width <= 20000 && height <= 20000)) throw std::invalid_argument("the warped image would be too large");
    canvas = cv::Size(static_cast<int>(width), static_cast<int>(height));
    return cv::Matx33d(1, 0, -ox, 0, 1, -oy, 0, 0, 1) * m;
}

}  // namespace linematch
