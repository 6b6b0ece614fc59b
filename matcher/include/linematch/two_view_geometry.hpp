// Two-view geometry verified by the point matches: the planes of the scene
// (see point_seeds.hpp) and, where the points do not all lie on one plane,
// the fundamental matrix. Each model keeps its inliers and how well it fits
// them, so that a correspondence can be judged by the most precise model
// that covers it, and the caller can see what the evidence supported.
#pragma once

#include "linematch/line_geometry.hpp"

#include <opencv2/core.hpp>

#include <vector>

namespace linematch {

// A plane: its homography image 1 -> image 2, its inliers (indices into the
// point matches) and the median distance, pixels of image 2, between an
// inlier's image-2 point and where the homography puts it.
struct PlaneModel {
    cv::Matx33d homography = cv::Matx33d::eye();
    std::vector<int> inliers;
    double medianResidual = 0;
};

// The fundamental matrix (x2' F x1 = 0), verified when enough point matches
// off the dominant plane support it: points on one plane leave it
// undetermined. medianResidual: median distance, pixels, of an inlier's
// image-2 point from the epipolar line of its image-1 point.
struct EpipolarModel {
    bool verified = false;
    cv::Matx33d fundamental = cv::Matx33d::zeros();
    int inliers = 0;
    int offPlaneInliers = 0;  // inliers no plane explains
    double medianResidual = 0;
};

struct TwoViewGeometry {
    std::vector<PlaneModel> planes;
    EpipolarModel epipolar;
};

}  // namespace linematch
