// Reading a 3x3 homography: an OpenCV matrix file (.xml, .yml, .yaml,
// .json; the first matrix in it) or a text file of nine numbers, row by row.
#pragma once

#include <opencv2/core.hpp>

#include <stdexcept>
#include <string>

namespace linematch {

// std::runtime_error with a message naming the file when it cannot be read,
// holds no 3x3 matrix or nine numbers, or holds a value that is not finite.
cv::Matx33d readHomographyFile(const std::string& path);

// Nine numbers, row by row, "%.17g" so that reading them back gives the same
// doubles.
void writeHomographyFile(const std::string& path, const cv::Matx33d& homography);

}  // namespace linematch
