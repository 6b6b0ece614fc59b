// Reading the matcher's input files the one way every front end does: only
// regular files are opened (a FIFO without a writer would block for good,
// /dev/zero would be read without end), permission problems are named, an
// image's size is checked from its header before it is decoded (a file of
// a few kilobytes can declare 60000 x 60000 pixels), a truncated or
// corrupt PNG or JPEG is refused as damaged, and OpenCV's failures become
// FrontEndErrors.
#pragma once

#include "lineharvest/error_kinds.hpp"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <string>

namespace linematch {

// FrontEndError(kind, "<what> <path>: <reason>") unless path names a
// regular file this process may read.
void requireReadableFile(const std::string& path, lineharvest::ErrorKind kind, const std::string& what);

// An image file as OpenCV decodes it with these flags (grey by default, as
// the matcher reads its files). FrontEndError kinds: imageFile (missing,
// not a regular file, not readable, not an image), imageTooLarge (more
// than maxPixels pixels, from the header when the format has one, and a
// file too large to hold such an image), damagedImage (a truncated or
// corrupt PNG or JPEG). The messages start "cannot read image <path>: ".
cv::Mat readImageFile(const std::string& path, double maxPixels, int flags = cv::IMREAD_GRAYSCALE);

// FrontEndError imageTooLarge when width x height is above maxPixels;
// what names the image ("image 1", "image <path>").
void checkImagePixels(long long width, long long height, double maxPixels, const std::string& what,
                      const std::string& path = {});

}  // namespace linematch
