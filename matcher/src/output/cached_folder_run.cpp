#include "linematch/feature_cache.hpp"

namespace linematch {

CachedPairRun matchCachedToFolder(const FolderRunRequest& request, const FrontEndSettings& options,
                                  const std::string& features1, const std::string& features2, bool overlapCheck) {
    CachedPairRun out;
    out.run = matchToFolder(request, options, [&](const cv::Mat& image1, const cv::Mat& image2) {
        CachedPair pair = matchCachedPair(image1, image2, features1, features2, options, overlapCheck);
        out.features1 = std::move(pair.features1);
        out.features2 = std::move(pair.features2);
        return std::move(pair.result);
    });
    return out;
}

}  // namespace linematch
