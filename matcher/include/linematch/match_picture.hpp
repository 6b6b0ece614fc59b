// The picture of a match result: image 1 left, image 2 right (dimmed), all
// segments in grey, seeds in blue, added correspondences in green; with a
// ground truth, false ones in red with a ring at their midpoints.
#pragma once

#include "linematch/evaluation.hpp"
#include "linematch/matcher.hpp"

#include <opencv2/core.hpp>

namespace linematch {

// BGR picture; image1/image2 may be empty (plain background of the
// segments' extent then).
cv::Mat drawMatches(const cv::Mat& image1, const cv::Mat& image2, const MatchResult& result,
                    const GroundTruth* truth = nullptr);

}  // namespace linematch
