// What stands behind each correspondence the matcher returns, and the
// confidence made of it. A correspondence is as good as the model that put
// the image-1 segment onto its partner: a plane verified by many point
// matches carries a segment to within a pixel, a homography fitted to two
// line seeds less surely, and a descriptor match without any model is a
// guess that its neighbours happened to confirm. The epipolar band of a
// verified fundamental matrix is a second, independent test.
#pragma once

#include "linematch/point_seeds.hpp"
#include "linematch/two_view_geometry.hpp"
#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

namespace linematch {

// How a correspondence was found.
enum class MatchOrigin : std::uint8_t { givenSeed, pointSeed, lbdSeed, planeCarried, transfer };

// The homography that found a correspondence (the plane's for point seeds
// and carried ones, the pair record's for transferred ones); none for
// descriptor and given seeds.
struct MatchSource {
    MatchOrigin origin = MatchOrigin::transfer;
    int round = 0;
    bool hasHomography = false;
    cv::Matx33d homography = cv::Matx33d::eye();
};

struct MatchEvidence {
    MatchOrigin origin = MatchOrigin::transfer;
    int round = 0;
    // Farther end of the image-1 segment, carried by the homography that
    // found it (found) or by the plane that carries it (plane), from the
    // partner's line; pixels of an image of about 1000 px. NaN without one.
    double foundResidual = 0, planeResidual = 0;
    // Common part of the carried segment and the partner over the longer
    // (0 to 1), by the plane where one carries it, else by the homography
    // that found it; NaN without either.
    double extent = 0;
    // Share of the partner within the epipolar band of the image-1
    // segment's ends (0 to 1); NaN without a verified fundamental matrix or
    // where the partner runs along the epipolar lines.
    double epipolarShare = 0;
};

// The evidence of every correspondence; sources[k] belongs to matches[k].
// scale: the image scale (image_scale.hpp) the residuals are divided by.
std::vector<MatchEvidence> gatherEvidence(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                                          const std::vector<SegmentMatch>& matches,
                                          const std::vector<MatchSource>& sources, const SegmentCarriers& carriers,
                                          const TwoViewGeometry& geometry, double scale);

// Share of segment2 inside the band that the epipolar lines of segment1's
// ends cut out of segment2's line, over the shorter of segment2 and the
// band; NaN where segment2 runs within a few degrees of the epipolar lines
// (the band is then undetermined).
double epipolarShare(const cv::Matx33d& fundamental, const Segment& segment1, const Segment& segment2);

// True when h carries every end of the segments to within maxDistance
// pixels of that end's epipolar line under the fundamental matrix.
bool keepsToEpipolarLines(const cv::Matx33d& h, const cv::Matx33d& fundamental, const std::vector<Segment>& segments,
                          double maxDistance);

// Confidence in [0, 1] from the evidence: the fit of the carrying model,
// the routes that found the correspondence and the epipolar band (see the
// .cpp for the factors). It orders the matches; it is not a calibrated
// probability.
double confidenceOf(const MatchEvidence& evidence);

}  // namespace linematch
