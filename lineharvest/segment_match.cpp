#include "segment_match.hpp"

#include "geometry.hpp"

#include <cmath>

namespace lineharvest {

bool segmentsOverlap(const double* p, const double* q, const double* r, const double* s, double t) {
    double fr[2], fs[2];
    footOfPerpendicular(r, p, q, fr);
    footOfPerpendicular(s, p, q, fs);

    // A NaN value leaves its flag false.
    const bool rInside = dotFrom(fr, p, q) <= 0;
    const bool sInside = dotFrom(fs, p, q) <= 0;
    const bool pCovered = dotFrom(p, fr, fs) <= 0;
    const bool qCovered = dotFrom(q, fr, fs) <= 0;

    if (!rInside && !sInside && !pCovered && !qCovered) return false;
    if (rInside && sInside) return true;
    if (pCovered && qCovered) return true;

    const double lenOther = pointDistance(r, s);
    const double lenRef = pointDistance(p, q);
    // A partial overlap is rejected only when it falls short of t for both
    // segments; a NaN or infinite ratio never rejects.
    if (rInside) {
        const double o = pointDistance(fr, q);
        if (t > o / lenOther && t > o / lenRef) return false;
    }
    if (sInside) {
        const double o = pointDistance(fs, p);
        if (t > o / lenOther && t > o / lenRef) return false;
    }
    return true;
}

bool isSegmentMatch(const double* mapped, const double* candidate, const double* candidateLine,
                    const Thresholds& thresholds, double* meanDistance) {
    const double a = candidateLine[0], b = candidateLine[1], c = candidateLine[2];
    const double norm = std::sqrt(a * a + b * b);
    const double d1 = std::fabs(a * mapped[0] + b * mapped[1] + c) / norm;
    const double d2 = std::fabs(a * mapped[2] + b * mapped[3] + c) / norm;
    // Strict: a distance equal to the threshold, or NaN, passes.
    if (d1 > thresholds.maxLineDistance) return false;
    if (d2 > thresholds.maxLineDistance) return false;
    *meanDistance = (d1 + d2) / 2;

    double angle;
    signedAngleBetween(mapped, candidate, &angle);
    if (std::fabs(angle) > thresholds.maxAngleDifference) return false;

    return segmentsOverlap(candidate, candidate + 2, mapped, mapped + 2, thresholds.minOverlapRatio);
}

}  // namespace lineharvest
