// The one failure type of the matcher's front ends (the command, the MEX
// gateway, the Python binding): a kind that each front end turns into its
// own error (the MEX identifier "linematch:<kind>", a Python exception
// class, the command's exit status) and a message that already names the
// option or file. The kinds:
//   badOptions     an option that is unknown, of the wrong type or out of range
//   badImage       an image array of the wrong type or shape
//   imageFile      an image path that is missing, not a regular file, not
//                  readable (permissions) or not an image OpenCV decodes
//   damagedImage   a PNG or JPEG file that is truncated or corrupt
//   imageTooLarge  an image with more pixels than the limit (max_pixels)
//   homographyFile a homography file that cannot be read or holds no
//                  finite, non-singular 3x3 matrix
//   outputFile     an output file that cannot be written
//   opencv         any other OpenCV failure
// (outOfMemory and internal are the gateways' own.)
#pragma once

#include "lineharvest/errors.hpp"

#include <string>

namespace linematch {

class FrontEndError : public lineharvest::HarvestError {
public:
    FrontEndError(std::string kind, const std::string& message, std::string path = {})
        : lineharvest::HarvestError(std::move(kind), message), path_(std::move(path)) {}
    // The file the failure is about; empty when it is about no file.
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace linematch
