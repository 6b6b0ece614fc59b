#include "linematch/image_header.hpp"

// libjpeg reports errors through longjmp; its header needs <cstdio> first.
#include <cstdio>
#include <csetjmp>
#include <jpeglib.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <algorithm>
#include <cstdint>
#include <cstring>

namespace linematch {

namespace {

// The file through a window of 64 KiB, so that walking thousands of small
// JPEG markers or a long PNM comment costs a few reads, not one each.
class Bytes {
public:
    explicit Bytes(const ByteReader& read) : read_(read) {}

    // n bytes at offset, or false when the file ends first.
    bool at(std::size_t offset, unsigned char* out, std::size_t n) const {
        if (n > kWindow) return read_(offset, out, n) == n;
        if (offset < start_ || offset + n > start_ + filled_) {
            window_.resize(kWindow);
            start_ = offset;
            filled_ = read_(offset, window_.data(), kWindow);
        }
        if (offset + n > start_ + filled_) return false;
        std::memcpy(out, window_.data() + (offset - start_), n);
        return true;
    }

private:
    static constexpr std::size_t kWindow = 1 << 16;
    const ByteReader& read_;
    mutable std::vector<unsigned char> window_;
    mutable std::size_t start_ = 0, filled_ = 0;
};

std::uint64_t bigEndian(const unsigned char* p, int n) {
    std::uint64_t v = 0;
    for (int k = 0; k < n; ++k) v = (v << 8) | p[k];
    return v;
}

std::uint64_t littleEndian(const unsigned char* p, int n) {
    std::uint64_t v = 0;
    for (int k = n - 1; k >= 0; --k) v = (v << 8) | p[k];
    return v;
}

const char* const kNoSize = "its header gives no image size, so its size cannot be checked before decoding";
const char* const kNotInteger = "it holds floating-point samples; only images of 8- or 16-bit integers are read";

bool pngHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[24];
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (!b.at(0, p, 8) || std::memcmp(p, signature, 8) != 0) return false;
    h.format = "PNG";
    if (b.at(0, p, 24) && std::memcmp(p + 12, "IHDR", 4) == 0) {
        h.width = static_cast<long long>(bigEndian(p + 16, 4));
        h.height = static_cast<long long>(bigEndian(p + 20, 4));
    }
    return true;
}

// The first start-of-frame marker's size; markers are walked by their
// lengths, however many come first, so large EXIF blocks before it are
// skipped, not read. libjpeg reads nothing without a frame header, and
// cannot read a height given later (DNL): the size stays unknown then.
bool jpegHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[9];
    if (!b.at(0, p, 2) || p[0] != 0xFF || p[1] != 0xD8) return false;
    h.format = "JPEG";
    std::size_t pos = 2;
    for (;;) {
        if (!b.at(pos, p, 2) || p[0] != 0xFF) return true;
        const unsigned char m = p[1];
        if (m == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD8)) {  // markers without a length
            pos += 2;
            continue;
        }
        if (m == 0xD9 || m == 0xDA) return true;  // image data before any frame header
        if (!b.at(pos + 2, p, 2)) return true;
        const std::size_t length = static_cast<std::size_t>(bigEndian(p, 2));
        const bool frame = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (frame) {
            if (b.at(pos + 4, p, 5) && bigEndian(p + 1, 2) != 0) {
                h.height = static_cast<long long>(bigEndian(p + 1, 2));
                h.width = static_cast<long long>(bigEndian(p + 3, 2));
            }
            return true;
        }
        if (length < 2) return true;
        pos += 2 + length;
    }
}

// Every DIB header OpenCV reads: the 12-byte OS/2 one with 16-bit sizes,
// the others (16 to 124 bytes: OS/2 2.x, BITMAPINFOHEADER and its V2 to V5
// extensions) with signed 32-bit sizes at the same place; a negative
// height means rows top-down.
bool bmpHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[26];
    if (!b.at(0, p, 2) || p[0] != 'B' || p[1] != 'M') return false;
    h.format = "BMP";
    if (!b.at(0, p, 18)) return true;
    const std::uint64_t dib = littleEndian(p + 14, 4);
    if (dib == 12 && b.at(0, p, 22)) {
        h.width = static_cast<long long>(littleEndian(p + 18, 2));
        h.height = static_cast<long long>(littleEndian(p + 20, 2));
    } else if (dib >= 16 && b.at(0, p, 26)) {
        const auto w = static_cast<std::int32_t>(littleEndian(p + 18, 4));
        const auto ht = static_cast<std::int32_t>(littleEndian(p + 22, 4));
        h.width = std::llabs(w);
        h.height = std::llabs(ht);
    }
    return true;
}

// A number written in text at pos (after blanks and # comments), as PNM and
// PFM headers hold them; false when there is none.
bool textNumber(const Bytes& b, std::size_t& pos, long long& value, bool comments) {
    unsigned char c;
    for (;;) {
        if (!b.at(pos, &c, 1)) return false;
        if (std::isspace(c)) {
            ++pos;
        } else if (comments && c == '#') {
            while (b.at(pos, &c, 1) && c != '\n') ++pos;
        } else {
            break;
        }
    }
    if (c == '-' || c == '+') return false;
    if (!std::isdigit(c)) return false;
    value = 0;
    while (b.at(pos, &c, 1) && std::isdigit(c)) {
        if (value < (1LL << 40)) value = value * 10 + (c - '0');
        ++pos;
    }
    return true;
}

// P1..P6: magic, then width and height as text, with # comments of any
// length. P7 (PAM): lines "WIDTH w", "HEIGHT h" up to ENDHDR. PF, Pf: a
// float map, refused.
bool pnmHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[3];
    if (!b.at(0, p, 2) || p[0] != 'P') return false;
    if (p[1] == 'F' || p[1] == 'f') {
        h.format = "PFM";
        h.refusal = kNotInteger;
        return true;
    }
    if (p[1] == '7') {
        h.format = "PAM";
        std::size_t pos = 2;
        std::string line;
        unsigned char c;
        // Header lines are short; a header of more than 64 KiB is not read.
        while (pos < (1 << 16) && b.at(pos++, &c, 1)) {
            if (c != '\n') {
                line += static_cast<char>(c);
                continue;
            }
            if (line.rfind("ENDHDR", 0) == 0) break;
            for (const char* key : {"WIDTH", "HEIGHT"})
                if (line.rfind(key, 0) == 0 && line.size() > std::strlen(key) && std::isspace(line[std::strlen(key)])) {
                    const long long v = std::atoll(line.c_str() + std::strlen(key));
                    (key[0] == 'W' ? h.width : h.height) = v < 0 ? -1 : v;
                }
            line.clear();
        }
        return true;
    }
    if (p[1] < '1' || p[1] > '6') return false;
    h.format = "PNM";
    std::size_t pos = 2;
    long long width = -1, height = -1;
    if (textNumber(b, pos, width, true) && textNumber(b, pos, height, true)) {
        h.width = width;
        h.height = height;
    }
    return true;
}

// The first value of an integer TIFF field, of any integer type (BYTE,
// SHORT, LONG, SBYTE, SSHORT, SLONG; LONG8, SLONG8, IFD8 in BigTIFF);
// entry points at the field's type. Values that do not fit in the entry
// are read at its offset. False for other types and for no value.
struct TiffReader {
    const Bytes& b;
    bool little;
    bool big;  // BigTIFF: 8-byte counts and offsets, 20-byte entries

    std::uint64_t number(const unsigned char* q, int n) const { return little ? littleEndian(q, n) : bigEndian(q, n); }

    bool value(const unsigned char* entry, long long& out) const {
        const std::uint64_t type = number(entry, 2);
        int size = 0;
        bool isSigned = false;
        switch (type) {
            case 1: size = 1; break;
            case 3: size = 2; break;
            case 4: size = 4; break;
            case 6: size = 1; isSigned = true; break;
            case 8: size = 2; isSigned = true; break;
            case 9: size = 4; isSigned = true; break;
            case 16: case 18: size = 8; break;
            case 17: size = 8; isSigned = true; break;
            default: return false;
        }
        const std::uint64_t count = number(entry + 2, big ? 8 : 4);
        if (count < 1) return false;
        const std::size_t room = big ? 8 : 4;
        unsigned char q[8];
        const unsigned char* v = entry + 2 + room;
        if (static_cast<std::uint64_t>(size) * count > room) {
            if (!b.at(static_cast<std::size_t>(number(v, static_cast<int>(room))), q, static_cast<std::size_t>(size)))
                return false;
            v = q;
        }
        const std::uint64_t raw = number(v, size);
        if (!isSigned) {
            out = raw > static_cast<std::uint64_t>(1LL << 62) ? (1LL << 62) : static_cast<long long>(raw);
            return true;
        }
        const int bits = 8 * size;
        long long signedValue = bits == 64 ? static_cast<long long>(raw)
                                           : static_cast<long long>(raw) - ((raw >> (bits - 1)) ? (1LL << bits) : 0);
        out = signedValue;
        return true;
    }
};

// The first image file directory's ImageWidth (256), ImageLength (257),
// BitsPerSample (258) and SampleFormat (339), in classic TIFF and BigTIFF.
bool tiffHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[20];
    if (!b.at(0, p, 8)) return false;
    const bool little = p[0] == 'I' && p[1] == 'I', bigEndianFile = p[0] == 'M' && p[1] == 'M';
    if (!little && !bigEndianFile) return false;
    const std::uint64_t version = little ? littleEndian(p + 2, 2) : bigEndian(p + 2, 2);
    if (version != 42 && version != 43) return false;
    h.format = version == 43 ? "BigTIFF" : "TIFF";
    const TiffReader r{b, little, version == 43};
    std::uint64_t ifd = 0;
    if (r.big) {
        if (!b.at(0, p, 16) || r.number(p + 4, 2) != 8) return true;
        ifd = r.number(p + 8, 8);
    } else {
        ifd = r.number(p + 4, 4);
    }
    const std::size_t countSize = r.big ? 8 : 2, entrySize = r.big ? 20 : 12;
    if (!b.at(static_cast<std::size_t>(ifd), p, countSize)) return true;
    const std::uint64_t entries = r.number(p, static_cast<int>(countSize));
    long long width = -2, height = -2, bits = 8, sampleFormat = 1;
    for (std::uint64_t e = 0; e < entries && e < 4096; ++e) {
        const std::size_t at = static_cast<std::size_t>(ifd + countSize + entrySize * e);
        if (!b.at(at, p, entrySize)) break;
        const std::uint64_t tag = r.number(p, 2);
        long long v = 0;
        if (tag == 256 || tag == 257) {
            (tag == 256 ? width : height) = r.value(p + 2, v) ? v : -3;
        } else if (tag == 258 && r.value(p + 2, v)) {
            bits = v;
        } else if (tag == 339 && r.value(p + 2, v)) {
            sampleFormat = v;
        }
    }
    if (width == -3 || height == -3) {
        h.refusal = "its ImageWidth or ImageLength field is not an integer";
    } else if (width == -2 || height == -2) {
        h.refusal = "its first image has no ImageWidth or ImageLength field";
    } else if (width <= 0 || height <= 0) {
        h.refusal = "its header gives a size of " + std::to_string(width) + " x " + std::to_string(height);
    } else {
        h.width = width;
        h.height = height;
    }
    if (h.refusal.empty() && sampleFormat == 3) h.refusal = kNotInteger;
    if (h.refusal.empty() && bits > 16)
        h.refusal = "it holds " + std::to_string(bits) + "-bit samples; only images of 8- or 16-bit integers are read";
    return true;
}

// RIFF "WEBP" with a VP8 (lossy), VP8L (lossless) or VP8X (extended) chunk
// first.
bool webpHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[30];
    if (!b.at(0, p, 16) || std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WEBP", 4) != 0) return false;
    h.format = "WebP";
    if (!b.at(0, p, 30)) return true;
    if (std::memcmp(p + 12, "VP8 ", 4) == 0 && p[23] == 0x9d && p[24] == 0x01 && p[25] == 0x2a) {
        h.width = static_cast<long long>(littleEndian(p + 26, 2) & 0x3fff);
        h.height = static_cast<long long>(littleEndian(p + 28, 2) & 0x3fff);
    } else if (std::memcmp(p + 12, "VP8L", 4) == 0 && p[20] == 0x2f) {
        const std::uint64_t bits = littleEndian(p + 21, 4);
        h.width = static_cast<long long>((bits & 0x3fff) + 1);
        h.height = static_cast<long long>(((bits >> 14) & 0x3fff) + 1);
    } else if (std::memcmp(p + 12, "VP8X", 4) == 0) {
        h.width = static_cast<long long>(littleEndian(p + 24, 3) + 1);
        h.height = static_cast<long long>(littleEndian(p + 27, 3) + 1);
    }
    return true;
}

// A JPEG 2000 codestream's SIZ marker segment at pos: the reference grid
// less its offset, and the components' depths.
void jpeg2000Size(const Bytes& b, std::size_t pos, ImageHeader& h) {
    unsigned char p[42];
    if (!b.at(pos, p, 42) || p[0] != 0xFF || p[1] != 0x51) return;
    const std::uint64_t xs = bigEndian(p + 6, 4), ys = bigEndian(p + 10, 4);
    const std::uint64_t x0 = bigEndian(p + 14, 4), y0 = bigEndian(p + 18, 4);
    if (xs <= x0 || ys <= y0) return;
    h.width = static_cast<long long>(xs - x0);
    h.height = static_cast<long long>(ys - y0);
    const std::uint64_t components = bigEndian(p + 38, 2);
    for (std::uint64_t c = 0; c < components && c < 16384; ++c) {
        unsigned char s;
        if (!b.at(pos + 40 + 3 * c, &s, 1)) break;
        if ((s & 0x7f) + 1 > 16) {
            h.refusal = "it holds " + std::to_string((s & 0x7f) + 1) +
                        "-bit samples; only images of 8- or 16-bit integers are read";
            return;
        }
    }
}

// A bare codestream (FF 4F FF 51) or a JP2 file, whose boxes are walked to
// the codestream box.
bool jpeg2000Header(const Bytes& b, ImageHeader& h) {
    unsigned char p[16];
    static const unsigned char jp2[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', '\r', '\n', 0x87, '\n'};
    if (b.at(0, p, 4) && p[0] == 0xFF && p[1] == 0x4F && p[2] == 0xFF && p[3] == 0x51) {
        h.format = "JPEG 2000";
        jpeg2000Size(b, 2, h);
        return true;
    }
    if (!b.at(0, p, 12) || std::memcmp(p, jp2, 12) != 0) return false;
    h.format = "JPEG 2000";
    std::size_t pos = 12;
    for (int boxes = 0; boxes < 1000 && b.at(pos, p, 8); ++boxes) {
        std::uint64_t length = bigEndian(p, 4), header = 8;
        if (length == 1) {
            if (!b.at(pos + 8, p + 8, 8)) return true;
            length = bigEndian(p + 8, 8);
            header = 16;
        }
        if (std::memcmp(p + 4, "jp2c", 4) == 0) {
            jpeg2000Size(b, static_cast<std::size_t>(pos + header + 2), h);
            return true;
        }
        if (length < header) return true;  // 0: the box runs to the end of the file
        pos += static_cast<std::size_t>(length);
    }
    return true;
}

bool sunRasterHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[12];
    if (!b.at(0, p, 4) || bigEndian(p, 4) != 0x59a66a95u) return false;
    h.format = "Sun raster";
    if (b.at(0, p, 12)) {
        h.width = static_cast<long long>(bigEndian(p + 4, 4));
        h.height = static_cast<long long>(bigEndian(p + 8, 4));
    }
    return true;
}

// Formats of floating-point samples, refused by their signatures: OpenEXR
// and Radiance HDR.
bool floatHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[10];
    if (b.at(0, p, 4) && p[0] == 0x76 && p[1] == 0x2f && p[2] == 0x31 && p[3] == 0x01) {
        h.format = "OpenEXR";
    } else if ((b.at(0, p, 10) && std::memcmp(p, "#?RADIANCE", 10) == 0) ||
               (b.at(0, p, 6) && std::memcmp(p, "#?RGBE", 6) == 0)) {
        h.format = "Radiance HDR";
    } else {
        return false;
    }
    h.refusal = kNotInteger;
    return true;
}

// DICOM, which OpenCV decodes through GDCM: its size lies in data elements
// of several encodings, not read here.
bool dicomHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[4];
    if (!b.at(128, p, 4) || std::memcmp(p, "DICM", 4) != 0) return false;
    h.format = "DICOM";
    return true;
}

std::uint32_t crc32(const unsigned char* data, std::size_t n, std::uint32_t crc = 0) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t k = 0; k < 256; ++k) {
            std::uint32_t c = k;
            for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[k] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t k = 0; k < n; ++k) crc = table[(crc ^ data[k]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// Every chunk whole and with its CRC, up to IEND.
std::string pngDamage(const std::vector<unsigned char>& f) {
    std::size_t pos = 8;
    while (pos + 12 <= f.size()) {
        const std::size_t length = bigEndian(&f[pos], 4);
        if (length > f.size() - pos - 12) return "truncated inside a chunk";
        const std::string type(reinterpret_cast<const char*>(&f[pos + 4]), 4);
        if (crc32(&f[pos + 4], length + 4) != bigEndian(&f[pos + 8 + length], 4))
            return "corrupt: chunk " + type + " fails its CRC";
        if (type == "IEND") return "";
        pos += 12 + length;
    }
    return "truncated: no IEND chunk";
}

struct JpegCheck {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
};

void jpegFailed(j_common_ptr info) {
    auto* check = reinterpret_cast<JpegCheck*>(info->err);
    info->err->format_message(info, check->message);
    std::longjmp(check->escape, 1);
}

// Keeps the first warning instead of printing it.
void jpegMessage(j_common_ptr info, int level) {
    auto* check = reinterpret_cast<JpegCheck*>(info->err);
    if (level >= 0) return;
    if (check->message[0] == '\0') info->err->format_message(info, check->message);
    ++info->err->num_warnings;
}

// Decodes the file at an eighth of its size (all of the entropy-coded data
// is still read) and keeps libjpeg's first warning or error. Only plain C
// objects live between setjmp and longjmp.
std::string jpegDamage(const std::vector<unsigned char>& f) {
    jpeg_decompress_struct info;
    JpegCheck check;
    std::memset(&info, 0, sizeof info);
    check.message[0] = '\0';
    info.err = jpeg_std_error(&check.manager);
    check.manager.error_exit = jpegFailed;
    check.manager.emit_message = jpegMessage;
    if (setjmp(check.escape)) {
        jpeg_destroy_decompress(&info);
        return check.message;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, f.data(), static_cast<unsigned long>(f.size()));
    jpeg_read_header(&info, TRUE);
    info.scale_num = 1;
    info.scale_denom = 8;
    info.out_color_space = JCS_GRAYSCALE;
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);
    // The row lives in libjpeg's own pool, freed with the decompressor.
    JSAMPARRAY rows = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                                info.output_width * info.output_components, 1);
    while (info.output_scanline < info.output_height) jpeg_read_scanlines(&info, rows, 1);
    jpeg_finish_decompress(&info);
    const std::string damage = info.err->num_warnings ? check.message : "";
    jpeg_destroy_decompress(&info);
    return damage;
}

}  // namespace

ImageHeader readImageHeader(const ByteReader& read) {
    const Bytes b(read);
    ImageHeader h;
    if (pngHeader(b, h) || jpegHeader(b, h) || bmpHeader(b, h) || pnmHeader(b, h) || tiffHeader(b, h) ||
        webpHeader(b, h) || jpeg2000Header(b, h) || sunRasterHeader(b, h) || floatHeader(b, h) || dicomHeader(b, h)) {
        if (h.refusal.empty() && (h.width < 0 || h.height < 0)) h.refusal = kNoSize;
        return h;
    }
    return ImageHeader{};
}

std::string imageDamage(const std::vector<unsigned char>& file) {
    const auto reader = [&](std::size_t offset, unsigned char* out, std::size_t n) -> std::size_t {
        if (offset >= file.size()) return 0;
        const std::size_t m = std::min(n, file.size() - offset);
        std::memcpy(out, file.data() + offset, m);
        return m;
    };
    const std::string format = readImageHeader(reader).format;
    if (format == "PNG") return pngDamage(file);
    if (format == "JPEG") return jpegDamage(file);
    return "";
}

}  // namespace linematch
