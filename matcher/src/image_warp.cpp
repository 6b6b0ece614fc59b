#include "linematch/image_warp.hpp"

#include <opencv2/imgproc.hpp>

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

cv::Mat warpImage(const cv::Mat& image, const cv::Matx33d& h) {
    if (image.empty()) throw std::invalid_argument("empty image");
    cv::Mat warped;
    cv::warpPerspective(image, warped, cv::Mat(h), image.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                        cv::Scalar::all(0));
    return warped;
}

}  // namespace linematch
