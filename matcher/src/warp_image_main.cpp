// Warps an image by a perspective map that moves each corner by up to a
// given share of the image size, and writes the warped image and the map
// (image -> warped image; nine numbers, row by row) as ground truth for the
// line matcher.
//
// usage: warp_image IMAGE OUT_IMAGE OUT_HOMOGRAPHY [--shift F] [--seed S]
#include "linematch/homography_file.hpp"
#include "linematch/image_warp.hpp"

#include <opencv2/imgcodecs.hpp>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: warp_image IMAGE OUT_IMAGE OUT_HOMOGRAPHY [--shift F] [--seed S]\n"
    "  --shift F  largest corner move, as a share of the image width/height (0.12)\n"
    "  --seed S   seed of the corner moves (1)\n";

[[noreturn]] void usage(const std::string& message) {
    std::cerr << "warp_image: " << message << "\n" << kUsage;
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    double shift = 0.12;
    unsigned long seed = 1;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--shift" || arg == "--seed") {
            if (k + 1 >= argc) usage(arg + " needs a value");
            char* end = nullptr;
            const std::string value = argv[++k];
            if (arg == "--shift") shift = std::strtod(value.c_str(), &end);
            else seed = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0') usage(arg + " needs a number, got '" + value + "'");
            continue;
        }
        if (arg.rfind("--", 0) == 0) usage("unknown option " + arg);
        positional.push_back(arg);
    }
    if (positional.size() != 3) usage("expected 3 arguments");
    try {
        const cv::Mat image = cv::imread(positional[0], cv::IMREAD_UNCHANGED);
        if (image.empty()) throw std::runtime_error("cannot read image " + positional[0]);
        const cv::Matx33d h = linematch::cornerShiftHomography(image.size(), shift, static_cast<std::uint32_t>(seed));
        if (!cv::imwrite(positional[1], linematch::warpImage(image, h)))
            throw std::runtime_error("cannot write image " + positional[1]);
        linematch::writeHomographyFile(positional[2], h);
    } catch (const std::exception& e) {
        std::cerr << "warp_image: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
