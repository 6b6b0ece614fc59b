#include "linematch/image_header.hpp"

// libjpeg reports errors through longjmp; its header needs <cstdio> first.
#include <cstdio>
#include <csetjmp>
#include <jpeglib.h>

#include <array>
#include <cctype>
#include <algorithm>
#include <cstdint>
#include <cstring>

namespace linematch {

namespace {

struct Bytes {
    const ByteReader& read;
    // n bytes at offset, or false when the file ends first.
    bool at(std::size_t offset, unsigned char* out, std::size_t n) const { return read(offset, out, n) == n; }
};

std::uint32_t bigEndian(const unsigned char* p, int n) {
    std::uint32_t v = 0;
    for (int k = 0; k < n; ++k) v = (v << 8) | p[k];
    return v;
}

std::uint32_t littleEndian(const unsigned char* p, int n) {
    std::uint32_t v = 0;
    for (int k = n - 1; k >= 0; --k) v = (v << 8) | p[k];
    return v;
}

bool pngHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[24];
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (!b.at(0, p, 24) || std::memcmp(p, signature, 8) != 0) return false;
    h.format = "PNG";
    if (std::memcmp(p + 12, "IHDR", 4) == 0) {
        h.width = bigEndian(p + 16, 4);
        h.height = bigEndian(p + 20, 4);
    }
    return true;
}

// The first start-of-frame marker's size; markers are walked by their
// lengths, so large EXIF blocks before it are skipped, not read.
bool jpegHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[9];
    if (!b.at(0, p, 2) || p[0] != 0xFF || p[1] != 0xD8) return false;
    h.format = "JPEG";
    std::size_t pos = 2;
    for (int markers = 0; markers < 10000; ++markers) {
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
        const std::size_t length = bigEndian(p, 2);
        const bool frame = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (frame) {
            if (b.at(pos + 4, p, 5)) {
                // A height of 0 is given later (DNL): the header does not say.
                if (bigEndian(p + 1, 2) != 0) h.height = bigEndian(p + 1, 2);
                h.width = bigEndian(p + 3, 2);
            }
            return true;
        }
        if (length < 2) return true;
        pos += 2 + length;
    }
    return true;
}

bool bmpHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[26];
    if (!b.at(0, p, 2) || p[0] != 'B' || p[1] != 'M') return false;
    h.format = "BMP";
    if (!b.at(0, p, 26)) return true;
    const std::uint32_t dib = littleEndian(p + 14, 4);
    if (dib == 12) {
        h.width = littleEndian(p + 18, 2);
        h.height = littleEndian(p + 20, 2);
    } else if (dib >= 40) {
        const auto w = static_cast<std::int32_t>(littleEndian(p + 18, 4));
        const auto ht = static_cast<std::int32_t>(littleEndian(p + 22, 4));
        h.width = w < 0 ? -static_cast<long long>(w) : w;
        h.height = ht < 0 ? -static_cast<long long>(ht) : ht;  // negative: rows top-down
    }
    return true;
}

// P1..P6: magic, then width and height as text, with # comments.
bool pnmHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[512];
    const std::size_t n = b.read(0, p, sizeof p);
    if (n < 2 || p[0] != 'P' || p[1] < '1' || p[1] > '6') return false;
    h.format = "PNM";
    std::size_t k = 2;
    long long values[2];
    for (long long& v : values) {
        for (;;) {
            while (k < n && std::isspace(p[k])) ++k;
            if (k < n && p[k] == '#') {
                while (k < n && p[k] != '\n') ++k;
                continue;
            }
            break;
        }
        if (k >= n || !std::isdigit(p[k])) return true;
        v = 0;
        while (k < n && std::isdigit(p[k]) && v < (1LL << 40)) v = v * 10 + (p[k++] - '0');
    }
    h.width = values[0];
    h.height = values[1];
    return true;
}

// The first image file directory's ImageWidth (256) and ImageLength (257).
bool tiffHeader(const Bytes& b, ImageHeader& h) {
    unsigned char p[12];
    if (!b.at(0, p, 8)) return false;
    const bool little = std::memcmp(p, "II*\0", 4) == 0;
    if (!little && std::memcmp(p, "MM\0*", 4) != 0) return false;
    h.format = "TIFF";
    const auto number = [&](const unsigned char* q, int n) { return little ? littleEndian(q, n) : bigEndian(q, n); };
    const std::size_t ifd = number(p + 4, 4);
    if (!b.at(ifd, p, 2)) return true;
    const std::uint32_t entries = number(p, 2);
    for (std::uint32_t e = 0; e < entries && e < 1000; ++e) {
        if (!b.at(ifd + 2 + 12 * e, p, 12)) return true;
        const std::uint32_t tag = number(p, 2), type = number(p + 2, 2);
        if (tag != 256 && tag != 257) continue;
        const long long v = type == 3 ? number(p + 8, 2) : type == 4 ? number(p + 8, 4) : -1;
        (tag == 256 ? h.width : h.height) = v;
    }
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
    const Bytes b{read};
    ImageHeader h;
    if (pngHeader(b, h) || jpegHeader(b, h) || bmpHeader(b, h) || pnmHeader(b, h) || tiffHeader(b, h)) return h;
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
