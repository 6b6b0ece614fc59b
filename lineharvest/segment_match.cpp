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

bool isSegmentMatch(cv::Mat firstMapped, cv::Mat secondMapped, cv::Mat candidateSegment,
                    cv::Mat candidateLine, double maxLineDistance, double maxAngleDifference,
                    double minOverlapRatio, double* meanDistance) {
    const double d1 = pointLineDistance(candidateLine, firstMapped);
    const double d2 = pointLineDistance(candidateLine, secondMapped);
    // Strict: a distance equal to the threshold, or NaN, passes.
    if (d1 > maxLineDistance) return false;
    if (d2 > maxLineDistance) return false;
    *meanDistance = (d1 + d2) / 2;

    const double mappedSegment[4] = {firstMapped.at<double>(0, 0), firstMapped.at<double>(1, 0),
                                     secondMapped.at<double>(0, 0), secondMapped.at<double>(1, 0)};
    const double* candidate = candidateSegment.ptr<double>();
    double angle;
    signedAngleBetween(mappedSegment, candidate, &angle);
    if (std::fabs(angle) > maxAngleDifference) return false;

    const double mappedFirst[2] = {mappedSegment[0], mappedSegment[1]};
    const double mappedSecond[2] = {mappedSegment[2], mappedSegment[3]};
    return segmentsOverlap(candidate, candidate + 2, mappedFirst, mappedSecond, minOverlapRatio);
}

}  // namespace lineharvest
