#include "linematch/feature_cache.hpp"

#include "linematch/image_input.hpp"

#include <sys/stat.h>

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

CachedPairRun matchCachedToFolder(const FolderRunRequest& request, const FrontEndSettings& options,
                                  const std::string& features1, const std::string& features2, bool overlapCheck) {
    CachedPairRun out;
    const FeatureParts parts = collectionParts(overlapCheck && options.matcher.points.enabled &&
                                               options.matcher.points.affineViews);
    out.run = matchToFolder(request, options, [&](const cv::Mat& image1, const cv::Mat& image2) {
        out.features1 = cachedFeatures(request.image1, features1, options, parts, image1);
        out.features2 = cachedFeatures(request.image2, features2, options, parts, image2);
        if (overlapCheck && !mayOverlap(out.features1.features, out.features2.features, options.matcher))
            return noOverlapResult(out.features1.features, out.features2.features);
        // The images are at hand: whatever else the pair needs is computed
        // from them and stored for the image's other pairs.
        out.features1.features.gray = image1;
        out.features2.features.gray = image2;
        MatchResult result = matchFeatures(out.features1.features, out.features2.features, options.matcher);
        storeGrownFeatures(features1, out.features1.features);
        storeGrownFeatures(features2, out.features2.features);
        return result;
    });
    return out;
}

}  // namespace linematch
