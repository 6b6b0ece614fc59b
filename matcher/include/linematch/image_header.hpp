// What an image file says about itself before it is decoded: its size from
// the header of every format OpenCV decodes (PNG, JPEG, BMP, PNM and PAM,
// TIFF and BigTIFF, WebP, JPEG 2000, Sun raster), why it is not read
// (floating-point or 32-bit samples: OpenEXR, Radiance HDR, PFM, such
// TIFFs; a header without a size), and whether a PNG or JPEG is whole (a
// truncated or corrupt one decodes to a partial picture with only a warning
// on standard error).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace linematch {

// Reads up to n bytes at offset into out and returns how many it read
// (fewer at the end of the file).
using ByteReader = std::function<std::size_t(std::size_t offset, unsigned char* out, std::size_t n)>;

struct ImageHeader {
    std::string format;       // "PNG", "JPEG", "BMP", "PNM", "TIFF", ...; empty when no format OpenCV decodes
    long long width = -1;     // -1 when the header does not say
    long long height = -1;
    // Why the file is not decoded ("it holds floating-point samples; ...",
    // "its header gives no image size, ..."); empty when it may be. Set
    // whenever the size is unknown: no file is decoded blind.
    std::string refusal;
};

ImageHeader readImageHeader(const ByteReader& read);

// Why the file is damaged ("truncated: no IEND chunk", "corrupt: chunk
// IDAT fails its CRC", libjpeg's warning), or an empty string when it is
// whole or not a PNG or JPEG.
std::string imageDamage(const std::vector<unsigned char>& file);

}  // namespace linematch
