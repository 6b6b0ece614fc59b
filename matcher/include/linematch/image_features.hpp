// What the matcher computes from one image alone, as a value of its own:
// the segments, the keypoints of each level of the point stage and the LBD
// descriptors of the segments. A collection of images computes them once
// per image and matches any number of pairs from them (matchFeatures), and
// keeps them in a file between runs (saveFeatures / loadFeatures).
//
// A pair matched from features gives exactly what matchLines gives on the
// two images: matchLines is extractFeatures on both images followed by
// matchFeatures.
#pragma once

#include "linematch/matcher.hpp"
#include "linematch/point_seeds.hpp"
#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace linematch {

// The parts beyond the segments that extractFeatures computes up front.
// The point stage uses the detail level and the affine views only for
// pairs whose first level verifies too few matches, and LBD descriptors
// only when the points give few seeds (MatcherSettings::lbdBelow).
struct FeatureParts {
    bool first = true;
    bool detail = false;
    bool affine = false;
    bool lbd = false;
    static FeatureParts all() { return {true, true, true, true}; }
};

struct ImageFeatures {
    cv::Size size;                  // of the image
    std::vector<Segment> segments;  // LSD, as matchLines detects them
    // Per level of the point stage (kPointLevels): whether it is computed,
    // and its keypoints.
    std::array<bool, kPointLevels> hasKeypoints{};
    std::array<KeypointSet, kPointLevels> keypoints;
    bool hasLbd = false;
    cv::Mat lbd;                    // CV_8U, one 32-byte row per segment
    // featureSettingsKey of the settings the features were computed with:
    // a pair is matched only from features of the settings it runs with.
    std::string settingsKey;

    // The grey image the missing parts are computed from when a pair needs
    // them; empty for features read from a file. Never stored.
    cv::Mat gray;
    // Set when matchFeatures computed a part that was missing: the
    // features are then worth storing again.
    bool grown = false;
};

// A pair needs a part that its features lack and that they cannot compute
// (no image attached).
struct MissingFeatures : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A features file that cannot be read, is damaged, of another format
// version, or of other settings.
struct FeatureFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The settings that change what extractFeatures computes (segment length,
// keypoint sides and counts), as text. Features of equal keys are
// interchangeable.
std::string featureSettingsKey(const MatcherSettings& settings);

// image: 8-bit, 1, 3 or 4 channels (turned to grey as matchLines does).
// std::invalid_argument for an empty image or another type. The result
// keeps the grey image (see ImageFeatures::gray).
ImageFeatures extractFeatures(const cv::Mat& image, const MatcherSettings& settings, FeatureParts parts = {});

// Computes the parts of `parts` that features lack, from features.gray
// (MissingFeatures when it is empty).
void completeFeatures(ImageFeatures& features, const MatcherSettings& settings, FeatureParts parts);

// The pair (features1, features2) as matchLines matches the two images.
// The parts a pair needs and the features lack are computed from their
// image (and added to them, see grown) or, without one, MissingFeatures is
// thrown. std::invalid_argument for features of other settings than these
// and for given seeds as matchLines refuses them.
MatchResult matchFeatures(ImageFeatures& features1, ImageFeatures& features2, const MatcherSettings& settings = {},
                          const GivenSeeds& given = {});

// The matcher's own completion of a pair's features: level `level` of
// both images' keypoints, or both images' LBD descriptors, computed where
// missing (side by side with sideBySide) and marked grown.
void completePairLevel(ImageFeatures& features1, ImageFeatures& features2, const MatcherSettings& settings,
                       int level, bool sideBySide);
void completePairLbd(ImageFeatures& features1, ImageFeatures& features2, bool sideBySide);

// Whether two images may overlap, from their features alone and at a small
// share of the pair's cost: the first-level keypoints and, where both
// features hold them, the affine views' are matched approximately (a k-d
// tree, ratio test) and a homography is fitted robustly with a generous
// tolerance. False only when no level gives a plane of
// settings.points.minInliers inliers: the point stage could then verify no
// plane either (it needs that many), and the pair gets no answer from the
// points. A pair may still have been answered by LBD seeds alone; callers
// that must give exactly matchLines' answer do not ask.
bool mayOverlap(const ImageFeatures& features1, const ImageFeatures& features2, const MatcherSettings& settings);

// The answer to a pair that does not overlap: its segments, no
// correspondences, status "no_overlap".
MatchResult noOverlapResult(const ImageFeatures& features1, const ImageFeatures& features2);

// The features file: a magic, a format version, the payload (sizes, then
// the arrays, little-endian) and a 64-bit checksum of the payload. The
// grey image is not stored. saveFeatures writes a temporary file beside
// path and renames it into place, so that path holds a whole file or none;
// FeatureFileError when that fails.
void saveFeatures(const std::string& path, const ImageFeatures& features);
std::string featureFileBytes(const ImageFeatures& features);

// FeatureFileError for a file that cannot be read, that is not a features
// file, of another version, truncated, damaged (checksum) or inconsistent.
ImageFeatures loadFeatures(const std::string& path);
ImageFeatures featuresFromBytes(const std::string& bytes, const std::string& where);

}  // namespace linematch
