// What an image file says about itself before it is decoded: its size from
// the header (PNG, JPEG, BMP, PNM, TIFF), and whether a PNG or JPEG is
// whole (a truncated or corrupt one decodes to a partial picture with only
// a warning on standard error).
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
    std::string format;       // "PNG", "JPEG", "BMP", "PNM", "TIFF"; empty when not one of them
    long long width = -1;     // -1 when the header does not say
    long long height = -1;
};

ImageHeader readImageHeader(const ByteReader& read);

// Why the file is damaged ("truncated: no IEND chunk", "corrupt: chunk
// IDAT fails its CRC", libjpeg's warning), or an empty string when it is
// whole or not a PNG or JPEG.
std::string imageDamage(const std::vector<unsigned char>& file);

}  // namespace linematch
