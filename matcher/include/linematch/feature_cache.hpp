// Features of a collection's images kept in files between pairs and runs
// (image_features.hpp). The caller names each image's file (the collection
// runner names it after the image's bytes and featureSettingsKey); a file
// that cannot be read, is damaged or holds features of other settings is
// never trusted: the features are computed again and the file replaced.
#pragma once

#include "linematch/folder_run.hpp"
#include "linematch/image_features.hpp"
#include "linematch/matcher_options.hpp"

#include <memory>
#include <string>

namespace linematch {

struct CachedFeatures {
    ImageFeatures features;
    bool computed = false;  // the file was missing or unusable: computed from the image
    std::string refused;    // why an existing file was not used (empty when it was, or was missing)
};

// The features of image file `image` (read as the command reads it) from
// `file`, or computed (parts) and stored there. With image already read,
// pass it as gray to spare reading it again. FrontEndError for the image
// file as matchToFolder raises it; FeatureFileError when the features
// cannot be stored.
CachedFeatures cachedFeatures(const std::string& image, const std::string& file, const FrontEndSettings& options,
                              FeatureParts parts, const cv::Mat& gray = {});

// Stores features that a pair completed (ImageFeatures::grown), merged
// with the parts another pair may have stored in the file meanwhile.
void storeGrownFeatures(const std::string& file, ImageFeatures& features);

// A pair from its images' features files: each image's features loaded
// from its file, or computed from the image (given as read, grey) and
// stored there; the parts the pair needs beyond them computed from the
// images and stored back. With overlapCheck, a pair that mayOverlap rules
// out is answered "no_overlap" from the features (the affine views'
// keypoints are then computed, once per image, if the files lack them);
// otherwise the result is matchLines' on the two images. The MEX gateway
// and matchCachedToFolder both match a collection's pairs here.
struct CachedPair {
    MatchResult result;
    CachedFeatures features1, features2;
};
CachedPair matchCachedPair(const cv::Mat& image1, const cv::Mat& image2, const std::string& features1,
                           const std::string& features2, const FrontEndSettings& options, bool overlapCheck,
                           const GivenSeeds& given = {});

struct CachedPairRun {
    std::unique_ptr<FolderRun> run;
    CachedFeatures features1, features2;
};

// matchToFolder on the pair's cached features: the same folder, byte for
// byte (report.json apart from its timings). The parts the pair needs and
// the files lack are computed from the images and stored back. With
// overlapCheck, a pair that mayOverlap rules out is answered "no_overlap"
// from the features (the affine views' keypoints are then computed, once
// per image, if the files lack them).
CachedPairRun matchCachedToFolder(const FolderRunRequest& request, const FrontEndSettings& options,
                                  const std::string& features1, const std::string& features2,
                                  bool overlapCheck = false);

// What a collection computes for each image up front: the first level, and
// the affine views where the overlap check needs them.
FeatureParts collectionParts(bool overlapCheck);
// The same for a pair run with these settings: the affine views only where
// the point stage uses them.
FeatureParts collectionParts(const MatcherSettings& settings, bool overlapCheck);

}  // namespace linematch
