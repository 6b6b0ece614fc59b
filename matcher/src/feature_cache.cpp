#include "linematch/feature_cache.hpp"

#include "linematch/image_input.hpp"

#include <sys/stat.h>

#include <string>

namespace linematch {

namespace {

bool exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

// A cache entry is read only when it is a regular file of its own: a
// symbolic link there (to anything) is replaced, never followed.
bool regularFile(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

CachedFeatures cachedFeatures(const std::string& image, const std::string& file, const FrontEndSettings& options,
                              FeatureParts parts, const cv::Mat& gray) {
    CachedFeatures out;
    const std::string key = featureSettingsKey(options.matcher);
    if (exists(file)) {
        try {
            if (!regularFile(file)) throw FeatureFileError(file + ": not a regular file");
            out.features = loadFeatures(file);
            if (out.features.settingsKey != key)
                throw FeatureFileError(file + ": features of other settings (" + out.features.settingsKey + ")");
            // The caller names the file after the image; an image of
            // another size (changed since, or misnamed) is not this one.
            if (!gray.empty() && out.features.size != gray.size())
                throw FeatureFileError(file + ": features of another image (" + std::to_string(out.features.size.width) +
                                       " x " + std::to_string(out.features.size.height) + " pixels, the image has " +
                                       std::to_string(gray.cols) + " x " + std::to_string(gray.rows) + ")");
        } catch (const FeatureFileError& e) {
            out.refused = e.what();
            out.features = ImageFeatures();
        }
    }
    const bool usable = !out.features.settingsKey.empty();
    if (usable) {
        // Parts asked for that the file lacks are added from the image.
        const bool lacking = (parts.first && !out.features.hasKeypoints[0]) ||
                             (parts.detail && !out.features.hasKeypoints[1]) ||
                             (parts.affine && !out.features.hasKeypoints[2]) || (parts.lbd && !out.features.hasLbd);
        if (!lacking) return out;
        out.features.gray = gray.empty() ? readImageFile(image, options.maxPixels) : gray;
        completeFeatures(out.features, options.matcher, parts);
        storeGrownFeatures(file, out.features);
        return out;
    }
    out.features =
        extractFeatures(gray.empty() ? readImageFile(image, options.maxPixels) : gray, options.matcher, parts);
    out.computed = true;
    saveFeatures(file, out.features);
    return out;
}

void storeGrownFeatures(const std::string& file, ImageFeatures& features) {
    if (!features.grown) return;
    try {
        if (!regularFile(file)) throw FeatureFileError(file + ": not a regular file");
        const ImageFeatures stored = loadFeatures(file);
        if (stored.settingsKey == features.settingsKey && stored.size == features.size &&
            stored.segments == features.segments) {
            for (int level = 0; level < kPointLevels; ++level)
                if (stored.hasKeypoints[level] && !features.hasKeypoints[level]) {
                    features.keypoints[level] = stored.keypoints[level];
                    features.hasKeypoints[level] = true;
                }
            if (stored.hasLbd && !features.hasLbd) {
                features.lbd = stored.lbd;
                features.hasLbd = true;
            }
        }
    } catch (const FeatureFileError&) {
        // Missing or unusable: replaced by these features below.
    }
    saveFeatures(file, features);
    features.grown = false;
}

FeatureParts collectionParts(bool overlapCheck) {
    FeatureParts parts;
    parts.affine = overlapCheck;
    return parts;
}

FeatureParts collectionParts(const MatcherSettings& settings, bool overlapCheck) {
    // The affine views' keypoints serve the overlap check only where the
    // point stage would use them.
    return collectionParts(overlapCheck && settings.points.enabled && settings.points.affineViews);
}

CachedPair matchCachedPair(const cv::Mat& image1, const cv::Mat& image2, const std::string& features1,
                           const std::string& features2, const FrontEndSettings& options, bool overlapCheck,
                           const GivenSeeds& given) {
    CachedPair out;
    const FeatureParts parts = collectionParts(options.matcher, overlapCheck);
    // The images are given: the paths are never read.
    out.features1 = cachedFeatures(std::string(), features1, options, parts, image1);
    out.features2 = cachedFeatures(std::string(), features2, options, parts, image2);
    if (overlapCheck && !mayOverlap(out.features1.features, out.features2.features, options.matcher)) {
        out.result = noOverlapResult(out.features1.features, out.features2.features);
        return out;
    }
    // The images are at hand: whatever else the pair needs is computed
    // from them and stored for the image's other pairs.
    out.features1.features.gray = image1;
    out.features2.features.gray = image2;
    out.result = matchFeatures(out.features1.features, out.features2.features, options.matcher, given);
    storeGrownFeatures(features1, out.features1.features);
    storeGrownFeatures(features2, out.features2.features);
    return out;
}

}  // namespace linematch
