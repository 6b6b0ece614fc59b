#include "linematch/match_confidence.hpp"

#include "linematch/line_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace linematch {

namespace {

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

// Farther end of mapped from b's line, pixels; NaN when h sends an end to
// infinity.
double lineResidual(const Segment& mapped, const Segment& b) {
    const cv::Vec3d l = unitLine(b);
    const double d1 = std::fabs(l[0] * mapped[0] + l[1] * mapped[1] + l[2]);
    const double d2 = std::fabs(l[0] * mapped[2] + l[1] * mapped[3] + l[2]);
    return std::isfinite(d1) && std::isfinite(d2) ? std::max(d1, d2) : kUnknown;
}

}  // namespace

double epipolarShare(const cv::Matx33d& f, const Segment& s1, const Segment& s2) {
    const cv::Vec3d la = f * cv::Vec3d(s1[0], s1[1], 1.0), lb = f * cv::Vec3d(s1[2], s1[3], 1.0);
    const double length2 = std::hypot(s2[2] - s2[0], s2[3] - s2[1]);
    if (!(length2 > 0)) return kUnknown;
    const double ux = (s2[2] - s2[0]) / length2, uy = (s2[3] - s2[1]) / length2;
    // Where each epipolar line crosses segment 2's line, as a distance from
    // its first end along it. Lines within about 3 degrees of the segment
    // cross it nowhere in particular.
    double t[2];
    const cv::Vec3d* lines[2] = {&la, &lb};
    for (int e = 0; e < 2; ++e) {
        const cv::Vec3d& l = *lines[e];
        const double norm = std::hypot(l[0], l[1]);
        if (!(norm > 0)) return kUnknown;
        const double along = (l[0] * ux + l[1] * uy) / norm;  // sine of the angle between them
        if (std::fabs(along) < 0.05) return kUnknown;
        const double value = (l[0] * s2[0] + l[1] * s2[1] + l[2]) / norm;
        t[e] = -value / along;
    }
    const double lo = std::min(t[0], t[1]), hi = std::max(t[0], t[1]);
    const double common = std::min(hi, length2) - std::max(lo, 0.0);
    const double shorter = std::min(length2, hi - lo);
    if (!(shorter > 0)) return common >= 0 ? 1.0 : 0.0;
    return std::clamp(common / shorter, 0.0, 1.0);
}

bool keepsToEpipolarLines(const cv::Matx33d& h, const cv::Matx33d& f, const std::vector<Segment>& segments,
                          double maxDistance) {
    for (const Segment& s : segments)
        for (int end = 0; end < 2; ++end) {
            const cv::Vec3d p(s[2 * end], s[2 * end + 1], 1.0);
            const cv::Vec3d q = h * p, l = f * p;
            const double norm = std::hypot(l[0], l[1]);
            if (!(q[2] != 0) || !(norm > 0)) return false;
            const double d = std::fabs(l[0] * q[0] / q[2] + l[1] * q[1] / q[2] + l[2]) / norm;
            if (!(d <= maxDistance)) return false;
        }
    return true;
}

std::vector<MatchEvidence> gatherEvidence(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                                          const std::vector<SegmentMatch>& matches,
                                          const std::vector<MatchSource>& sources, const SegmentCarriers& carriers,
                                          const TwoViewGeometry& geometry, double scale) {
    std::vector<MatchEvidence> out(matches.size());
    const double unit = scale > 0 ? scale : 1.0;
    for (std::size_t k = 0; k < matches.size(); ++k) {
        const Segment& a = segments1[matches[k].image1Segment];
        const Segment& b = segments2[matches[k].image2Segment];
        MatchEvidence& e = out[k];
        e.origin = sources[k].origin;
        e.round = sources[k].round;
        e.foundResidual = e.planeResidual = e.extent = e.epipolarShare = kUnknown;
        if (sources[k].hasHomography) {
            const Segment m = mapSegment(sources[k].homography, a);
            e.foundResidual = lineResidual(m, b) / unit;
            e.extent = sharedExtent(m, b);
        }
        const std::size_t i = static_cast<std::size_t>(matches[k].image1Segment);
        if (i < carriers.known.size() && carriers.known[i]) {
            const Segment m = mapSegment(carriers.homography[i], a);
            e.planeResidual = lineResidual(m, b) / unit;
            e.extent = sharedExtent(m, b);
        }
        if (geometry.epipolar.verified) e.epipolarShare = epipolarShare(geometry.epipolar.fundamental, a, b);
    }
    return out;
}

// Three factors, each 1 for the strongest evidence:
//   - the fit: exp(-r^2 / 2) for the residual r (pixels at about 1000 px)
//     of the most precise model that carries the segment, the plane where
//     one does; 0.5 without any model (a descriptor or given seed);
//   - the route: a plane's correspondence that the seeds or the rounds
//     found too is backed twice (1); one the plane alone gives, 0.8; one no
//     plane backs, found by the homographies of line seeds only, 0.5;
//   - the epipolar band, where a fundamental matrix is verified: 0.5 plus
//     half the share of the partner inside it.
double confidenceOf(const MatchEvidence& e) {
    const bool plane = std::isfinite(e.planeResidual);
    double c = 0.5;
    if (plane)
        c = std::exp(-0.5 * e.planeResidual * e.planeResidual);
    else if (std::isfinite(e.foundResidual))
        c = std::exp(-0.5 * e.foundResidual * e.foundResidual);
    if (!plane)
        c *= 0.5;
    else if (e.origin == MatchOrigin::planeCarried)
        c *= 0.8;
    if (std::isfinite(e.epipolarShare)) c *= 0.5 + 0.5 * e.epipolarShare;
    return std::clamp(c, 0.0, 1.0);
}

}  // namespace linematch
