// Warps an image by a perspective map that moves each corner by up to a
// given share of the image size, optionally followed by a scale, a
// rotation and a tilt, and writes the warped image and the map (image ->
// warped image; nine numbers, row by row) as ground truth for the line
// matcher. With a scale, rotation or tilt the warped image gets the size
// that holds all of it. The image is read as the matcher reads its files
// (image_input.hpp: EXIF orientation applied, the size checked from the
// header), in its own colours and depth, so that the map holds for the
// picture linematch sees.
//
// usage: warp_image IMAGE OUT_IMAGE OUT_HOMOGRAPHY [--shift F] [--seed S]
//                   [--scale S] [--rotate DEG] [--tilt T] [--tilt-angle DEG]
#include "lineharvest/errors.hpp"
#include "linematch/front_end_error.hpp"
#include "linematch/homography_file.hpp"
#include "linematch/image_input.hpp"
#include "linematch/image_warp.hpp"
#include "linematch/matcher_options.hpp"

#include <opencv2/imgcodecs.hpp>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: warp_image IMAGE OUT_IMAGE OUT_HOMOGRAPHY [--shift F] [--seed S]\n"
    "                  [--scale S] [--rotate DEG] [--tilt T] [--tilt-angle DEG]\n"
    "  --shift F       largest corner move, as a share of the image width/height (0.12)\n"
    "  --seed S        seed of the corner moves (1)\n"
    "  --scale S       then scale by S (> 0; 1)\n"
    "  --rotate DEG    then rotate by DEG degrees, counter-clockwise (0)\n"
    "  --tilt T        then squeeze by 1/T (T >= 1; 1), as a plane seen obliquely\n"
    "  --tilt-angle DEG  direction of the squeeze, degrees from the x axis (0)\n"
    "IMAGE is read as linematch reads it: turned upright by its EXIF orientation.\n";

[[noreturn]] void usage(const std::string& message) {
    std::cerr << "warp_image: " << message << "\n" << kUsage;
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    double shift = 0.12;
    unsigned long seed = 1;
    linematch::ViewChange change;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--shift" || arg == "--seed" || arg == "--scale" || arg == "--rotate" || arg == "--tilt" ||
            arg == "--tilt-angle") {
            if (k + 1 >= argc) usage(arg + " needs a value");
            char* end = nullptr;
            const std::string value = argv[++k];
            if (arg == "--seed") {
                seed = std::strtoul(value.c_str(), &end, 10);
            } else {
                const double v = std::strtod(value.c_str(), &end);
                if (arg == "--shift") shift = v;
                else if (arg == "--scale") change.scale = v;
                else if (arg == "--rotate") change.rotation = v;
                else if (arg == "--tilt") change.tilt = v;
                else change.tiltAngle = v;
            }
            if (value.empty() || *end != '\0') usage(arg + " needs a number, got '" + lineharvest::inputExcerpt(value) + "'");
            continue;
        }
        if (arg.rfind("--", 0) == 0) usage("unknown option " + lineharvest::inputExcerpt(arg));
        positional.push_back(arg);
    }
    if (positional.size() != 3) usage("expected 3 arguments");
    try {
        // Not IMREAD_UNCHANGED: with it OpenCV ignores the EXIF orientation.
        const cv::Mat image = linematch::readImageFile(positional[0], linematch::FrontEndSettings{}.maxPixels,
                                                       cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
        cv::Matx33d h = linematch::cornerShiftHomography(image.size(), shift, static_cast<std::uint32_t>(seed));
        cv::Size canvas = image.size();
        if (!change.identity()) h = linematch::viewChangeHomography(image.size(), h, change, canvas);
        if (!cv::imwrite(positional[1], linematch::warpImage(image, h, canvas)))
            throw std::runtime_error("cannot write image " + positional[1]);
        linematch::writeHomographyFile(positional[2], h);
    } catch (const std::exception& e) {
        std::cerr << "warp_image: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
