// Reading a 3x3 homography: an OpenCV matrix file (.xml, .yml, .yaml,
// .json; the first matrix in it) or a text file of nine numbers, row by row.
#pragma once

#include "lineharvest/error_kinds.hpp"

#include <opencv2/core.hpp>

#include <stdexcept>
#include <string>

namespace linematch {

// FrontEndError "homographyFile" with a message naming the file when it is
// not a readable regular file, holds no 3x3 matrix or nine numbers, or
// holds a matrix that checkHomography refuses.
cv::Matx33d readHomographyFile(const std::string& path);

// FrontEndError(kind, "<what> must hold finite numbers" / "<what> must not
// be singular"): the one check of a ground-truth homography, wherever it
// comes from.
void checkHomography(const cv::Matx33d& homography, lineharvest::ErrorKind kind, const std::string& what);

// Nine numbers, row by row, "%.17g" so that reading them back gives the same
// doubles.
void writeHomographyFile(const std::string& path, const cv::Matx33d& homography);

}  // namespace linematch
