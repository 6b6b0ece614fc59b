// Seeds from point matches. Keypoint descriptors (SIFT) survive the changes
// of scale, rotation and viewpoint under which line descriptors fail, and a
// few dozen verified point matches pin down the plane they lie on. So:
//   - keypoints of both images are matched (mutual best match, ratio test);
//   - the matches are verified by planes: the scene is taken to be
//     piecewise planar, and homographies are found one after the other
//     (robust fit, then the next plane on the matches left over), each
//     with its inliers;
//   - every image-1 segment with enough inliers of one plane around it is
//     carried into image 2 by that plane's homography, and its partner is
//     the image-2 segment it lands on (both ends near the partner's line,
//     same direction, most of both covered). A segment that lands on two
//     segments of different lines gets none.
// The seeds then go through the same checks as descriptor seeds.
#pragma once

#include "linematch/line_geometry.hpp"
#include "linematch/two_view_geometry.hpp"
#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <array>
#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace linematch {

struct PointSeedSettings {
    bool enabled = true;
    // Keypoints are detected on the images shrunk to this longest side
    // first (fast, and the same at any resolution of the same scene); when
    // fewer than enoughVerified matches are verified, again at
    // detailSide, and then on affine-simulated views (cv::AffineFeature)
    // at firstSide. The level with the most verified matches is kept.
    double firstSide = 640;
    double detailSide = 1280;
    int enoughVerified = 60;
    bool affineViews = true;
    double affineSide = 480;
    int maxKeypoints = 3000;       // strongest keypoints per image (0: all)
    int affineKeypoints = 300;     // strongest keypoints per simulated view
    double ratio = 0.8;            // best < ratio * second-best descriptor distance
    bool mutual = true;
    // Plane verification. Distances are pixels of an image of about 1000 px
    // a side and grow with the image (see image_scale.hpp).
    double inlierDistance = 3.0;   // reprojection error of an inlier
    int minInliers = 15;           // a plane needs this many inliers
    int maxPlanes = 6;
    // Seeds: an image-1 segment is carried by a plane when minNearby of its
    // inliers lie within supportRadius of the segment.
    double supportRadius = 80.0;
    int minNearby = 3;
    // A segment near inliers of two planes that carry it to places more
    // than lineDistance apart is carried by neither when the second has at
    // least this share of the first's nearby inliers (1 or more: never).
    double rivalShare = 0.3;
    // Where no fundamental matrix is verified, planes carry the segments
    // anywhere inside their inliers' region (see PlaneMap).
    bool wholeRegions = true;
    // A plane is not quite one homography (lens distortion, a slightly bent
    // surface, keypoints of coarse scales): a segment is carried by the
    // homography fitted to this many of the plane's inliers nearest to it
    // where the plane misses them by more than a fit to their noise would
    // (0: the plane's own homography everywhere).
    int localPoints = 24;
    double lineDistance = 2.0;     // both carried ends within this of the partner's line
    double minExtent = 0.8;        // seeds: common part / longer of the two segments
    double minOverlap = 0.5;       // other correspondences: common part / shorter
    bool addCarried = true;        // the other correspondences join the first round
    // Correspondences the transfer adds where a plane carries the image-1
    // segment must agree with it: both carried ends within this of the
    // partner's line (0: no such check). In a scene of planes alone (no
    // fundamental matrix verified) no more than lineDistance.
    double agreementDistance = 3.0;
    // The fundamental matrix: a robust fit (MAGSAC) to all point matches,
    // inliers within epipolarDistance (pixels at about 1000 px, see
    // image_scale.hpp) of their epipolar line; verified when it has
    // minInliers inliers and minOffPlane of them, and minOffPlaneShare of
    // all its inliers, lie on no plane (on one plane, or seen from a
    // rotating camera, the matrix is undetermined).
    bool fundamental = true;
    double epipolarDistance = 1.5;
    int minOffPlane = 12;
    double minOffPlaneShare = 0.05;  // and at least this share of its inliers
};

// One plane of the scene: its homography image 1 -> image 2 and the point
// matches it explains.
struct PointPlane {
    cv::Matx33d homography;
    std::vector<int> inliers;  // indices into the point matches
};


// The point stage's keypoint levels: 0 first (firstSide), 1 detail
// (detailSide), 2 affine-simulated views (affineSide).
constexpr int kPointLevels = 3;
double levelSide(const PointSeedSettings& settings, int level);

// Keypoints of one image at one level, in a fixed order, with their SIFT
// descriptors (CV_32F, one row per point). Coordinates are those of the
// given image.
struct KeypointSet {
    std::vector<cv::Point2d> points;
    cv::Mat descriptors;
};

// Keypoints detected on gray (8-bit, one channel) shrunk to longest side
// `side` (0: as it is); with affine, on affine-simulated views. Depends on
// the image and settings.maxKeypoints / affineKeypoints alone, so that it
// can be computed once per image and reused by every pair.
KeypointSet detectKeypoints(const cv::Mat& gray, const PointSeedSettings& settings, double side, bool affine);

// Mutual best matches of two keypoint sets passing the ratio test, one
// per pair of spots.
std::vector<PointCorrespondence> matchKeypointSets(const KeypointSet& keypoints1, const KeypointSet& keypoints2,
                                                   const PointSeedSettings& settings);

// Mutual best SIFT matches passing the ratio test, keypoints detected on
// the images shrunk to longest side `side` (0: as they are); with affine,
// on affine-simulated views. gray1, gray2: 8-bit, one channel. Coordinates
// are those of the given images. threads 2 or more: both images' keypoints
// at once (the same result).
std::vector<PointCorrespondence> matchKeypoints(const cv::Mat& gray1, const cv::Mat& gray2,
                                                const PointSeedSettings& settings, double side, bool affine,
                                                int threads = 1);

// Planes found one after the other; each plane's inliers are removed
// before the next is sought. scale multiplies the pixel distances.
std::vector<PointPlane> findPlanes(const std::vector<PointCorrespondence>& matches, const PointSeedSettings& settings,
                                   double scale);

// The planes after the first that the segments confirm: a plane is kept
// when, over the image-1 segments it would carry, it puts clearly more of
// them onto image-2 lines than any plane kept before it.
std::vector<PointPlane> prunePlanesByLines(const std::vector<PointCorrespondence>& matches,
                                           std::vector<PointPlane> planes, const std::vector<Segment>& segments1,
                                           const std::vector<Segment>& segments2, const PointSeedSettings& settings,
                                           double scale);

// The fundamental matrix of the matches (see PointSeedSettings::fundamental);
// not verified when there are too few matches or too few off the planes.
EpipolarModel fitEpipolar(const std::vector<PointCorrespondence>& matches, const std::vector<PointPlane>& planes,
                          const PointSeedSettings& settings, double scale);

// The planes with the median residual of their inliers.
std::vector<PlaneModel> planeModels(const std::vector<PointCorrespondence>& matches,
                                    const std::vector<PointPlane>& planes);

// Which plane carries an image-1 segment: the one with the most inliers
// within the support radius of it, when it has at least minNearby there.
class PlaneMap {
public:
    PlaneMap() = default;
    // wholeRegions: the scene is planes alone (no fundamental matrix
    // verified beyond them), so a plane also carries the segments within
    // its inliers' convex hull (widened by the support radius) that no
    // plane's nearby inliers claim.
    PlaneMap(const std::vector<PointCorrespondence>& matches, const std::vector<PointPlane>& planes,
             const PointSeedSettings& settings, double scale, bool wholeRegions = false);
    // The homography carrying s (see PointSeedSettings::localPoints), or
    // false when no plane carries it.
    bool carrier(const Segment& s, cv::Matx33d& homography) const;
    bool empty() const { return planes_.empty(); }

private:
    std::vector<std::vector<PointCorrespondence>> inliers_;  // per plane
    std::vector<cv::Matx33d> planes_;
    std::vector<std::vector<cv::Point2f>> hulls_;  // of each plane's image-1 inliers
    bool wholeRegions_ = false;
    double radius_ = 0;
    int minNearby_ = 0;
    double rivalShare_ = 1.0;
    double rivalDistance_ = 0;
    int localPoints_ = 0;
    // Local fits per (plane, grid cell), made when first asked for; a
    // PlaneMap is therefore not for use by several threads at once.
    std::pair<bool, cv::Matx33d> localFit(int plane, const cv::Point2d& centre) const;
    mutable std::map<std::array<long, 3>, std::pair<bool, cv::Matx33d>> localFits_;
};

// The homography carrying each segment of a list, found once.
struct SegmentCarriers {
    std::vector<char> known;               // per segment: a plane carries it
    std::vector<cv::Matx33d> homography;   // valid where known
};
SegmentCarriers carriersOf(const std::vector<Segment>& segments, const PlaneMap& planes);

struct PointSeedResult {
    std::vector<PointCorrespondence> matches;  // after the ratio and mutual tests
    std::vector<PointPlane> planes;
    TwoViewGeometry geometry;                  // the planes with their residuals, the epipolar model
    int verified = 0;                          // matches some plane explains
    int level = 0;                             // 0 first, 1 detail, 2 affine-simulated views
    std::vector<SegmentMatch> seeds;           // by increasing image-1 segment
    std::vector<SegmentMatch> carried;         // all the planes give, seeds included
    SegmentCarriers carriers;                  // of the image-1 segments
};

// For every match flagged in `judge` (all when judge is empty): false when
// a plane carries its image-1 segment and does not carry it onto the
// partner's line (both ends within maxDistance). Others are true.
std::vector<char> agreesWithPlanes(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                                   const std::vector<SegmentMatch>& matches, const std::vector<char>& judge,
                                   const SegmentCarriers& carriers, double maxDistance);

// Correspondences from planes and their inliers (see the file comment):
// carried holds every unambiguous one (overlap of minOverlap of the shorter
// segment), seeds those that cover minExtent of the longer, one per
// image-2 segment. Both by increasing image-1 segment.
void correspondencesFromPlanes(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                               const SegmentCarriers& carriers, const PointSeedSettings& settings,
                               std::vector<SegmentMatch>& seeds, std::vector<SegmentMatch>& carried);

// The whole stage on images; given (non-empty) point matches replace the
// keypoint matching (a caller's own point matcher).
// threads 2 or more: both images' keypoints at once (the same result).
PointSeedResult pointSeeds(const cv::Mat& gray1, const cv::Mat& gray2, const std::vector<Segment>& segments1,
                           const std::vector<Segment>& segments2, const PointSeedSettings& settings, double scale,
                           const std::vector<PointCorrespondence>& given = {}, int threads = 1);

// Both images' keypoints at a level (see kPointLevels). The stage asks for
// a level only when the levels before it verified too few matches, so the
// source may compute them when first asked.
using KeypointLevels = std::function<std::pair<const KeypointSet*, const KeypointSet*>(int level)>;

// The same stage on keypoints computed beforehand (image_features.hpp):
// the sizes of the two images and their keypoints per level.
PointSeedResult pointSeeds(cv::Size size1, cv::Size size2, const KeypointLevels& keypoints,
                           const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                           const PointSeedSettings& settings, double scale,
                           const std::vector<PointCorrespondence>& given = {});

}  // namespace linematch
