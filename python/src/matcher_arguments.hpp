// What the matcher's bindings share (only in a build with the line
// matcher): the image files read as the linematch command reads them, and
// the matcher options checked once for match_images and match_pairs.
#pragma once

#include "bindings.hpp"

#include "linematch/matcher.hpp"

#include <opencv2/imgcodecs.hpp>

#include <string>

namespace pybinding {

// An image file read by OpenCV, grey unless flags say otherwise. A path
// that is not a regular file is refused before OpenCV opens it. FileFailure
// "imageFile" naming the argument when it cannot be read. Takes the GIL,
// releases it while decoding.
cv::Mat readImageFile(const std::string& path, const char* name, int flags = cv::IMREAD_GRAYSCALE);

// The matcher settings of match_images' keyword arguments, each checked
// (ArgumentTypeError / InputError naming the argument).
linematch::MatcherSettings matcherSettings(py::handle minLength, py::handle ratio, py::handle rounds,
                                           py::handle mutual, py::handle checks, py::handle verify,
                                           py::handle oneLine, py::handle threads);

// lineharvest._core._match_to_folder and _check_matcher_options
// (bind_match_folder.cpp).
void bindMatchFolder(py::module_& m);

}  // namespace pybinding
