// The one failure type of the matcher's front ends (the command, the MEX
// gateway, the Python binding): a kind of the catalogue
// (lineharvest/error_kinds.hpp) that each front end reports as its own
// error (see the gateways' hostError), and a message that already names the
// option or file. The kinds it raises:
//   badOptions     an option that is unknown, of the wrong type or out of range
//   imageFile      an image path that is missing, not a regular file, not
//                  readable (permissions) or not an image OpenCV decodes
//   damagedImage   a PNG or JPEG file that is truncated or corrupt
//   imageTooLarge  an image with more pixels than the limit (max_pixels)
//   homographyFile a homography file that cannot be read or holds no
//                  finite, non-singular 3x3 matrix
//   outputFile     an output file that cannot be written
#pragma once

#include "lineharvest/errors.hpp"

#include <string>

namespace linematch {

class FrontEndError : public lineharvest::HarvestError {
public:
    FrontEndError(lineharvest::ErrorKind kind, const std::string& message, std::string path = {})
        : lineharvest::HarvestError(kind, message), path_(std::move(path)) {}
    // The file the failure is about; empty when it is about no file.
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace linematch
