#include "linematch/image_scale.hpp"

#include "linematch/matcher.hpp"

#include <algorithm>

namespace linematch {

double imageScale(cv::Size image1, cv::Size image2, double referenceSide) {
    const int side = std::max({image1.width, image1.height, image2.width, image2.height});
    return std::max(1.0, side / referenceSide);
}

MatcherSettings scaledSettings(const MatcherSettings& settings, double scale) {
    MatcherSettings s = settings;
    s.checks.maxSeedDistance *= scale;
    s.checks.minSpread *= scale;
    s.verification.maxDistance *= scale;
    return s;
}

}  // namespace linematch
