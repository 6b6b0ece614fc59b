// linematch: line-segment correspondences between two photographs of a
// mostly planar scene, with no ground truth.
//
// usage: linematch IMAGE1 IMAGE2 OUTDIR [--homography FILE] [options]
//
// Writes OUTDIR/matches.txt (0-based "i w" per line), OUTDIR/segments1.txt
// and OUTDIR/segments2.txt ("x1 y1 x2 y2" per line, the indices matches.txt
// uses), OUTDIR/matches.png and OUTDIR/report.json, and prints the report.
// Exit status 0 on success, 1 when an input cannot be read or an output
// cannot be written, 2 for a bad command line.
#include "linematch/evaluation.hpp"
#include "linematch/homography_file.hpp"
#include "linematch/match_picture.hpp"
#include "linematch/match_report.hpp"
#include "linematch/matcher.hpp"
#include "linematch/output_files.hpp"
#include "linematch/upper_bound.hpp"

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: linematch IMAGE1 IMAGE2 OUTDIR [--homography FILE] [options]\n"
    "  FILE            ground-truth homography image 1 -> image 2 (an OpenCV matrix\n"
    "                  file .xml/.yml/.json, or nine numbers row by row); only scores\n"
    "                  the result, the matcher never reads it\n"
    "options:\n"
    "  --upper-bound   with FILE: also run the transfer seeded from the ground truth\n"
    "                  (the transfer's upper bound with perfect seeds) for comparison\n"
    "  --min-length L  shortest segment kept, pixels (10)\n"
    "  --rounds N      most transfer rounds (3)\n"
    "  --ratio R       descriptor ratio test, best < R * second best (0.7; 1 = off)\n"
    "  --no-mutual     keep best matches that are not mutual\n"
    "  --no-checks     no seed checks (all three below off)\n"
    "  --no-support    keep seeds without neighbour support\n"
    "  --no-agreement  keep pair records whose neighbours do not vote for them\n"
    "  --no-refit      keep the pair records' endpoint homographies\n"
    "  --no-verify     keep transferred correspondences that their neighbours contradict\n"
    "  --no-one-line   keep correspondences that give a segment partners on two lines\n"
    "  --verify-distance D  pixels of the neighbour verification (2)\n"
    "  --threads N     threads of the whole matcher (1)\n"
    "  --no-points     no seeds from point matches\n"
    "  --no-lbd        no seeds from LBD descriptors\n"
    "  --lbd-below N   LBD seeds only when the points give fewer seeds than N (100; 0 = always)\n"
    "  --no-affine     no affine-simulated views when plain point matches are few\n"
    "  --plane-distance D  pixels a plane-carried correspondence may miss by (3; 0 = off)\n"
    "  --keypoint-side N  longest side keypoints are first detected at (640; 0 = as is)\n"
    "  --local-points N  inliers of a local fit per plane (24; 0 = the plane's homography)\n"
    "  --min-seeds N   fewer checked seeds: thin support, no answer (8)\n"
    "  --no-scale      neighbourhoods in pixels whatever the image size\n"
    "  --no-picture    do not write matches.png\n"
    "  --quiet         print nothing on success\n";

[[noreturn]] void usage(const std::string& message) {
    std::cerr << "linematch: " << message << "\n" << kUsage;
    std::exit(2);
}

double number(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') usage(option + " needs a number, got '" + text + "'");
    return v;
}

// Only regular files are handed to OpenCV: opening a FIFO without a writer
// would block the command for good.
cv::Mat readImage(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) throw std::runtime_error("cannot read image " + path);
    const cv::Mat image = cv::imread(path, cv::IMREAD_GRAYSCALE);
    if (image.empty()) throw std::runtime_error("cannot read image " + path);
    return image;
}

std::string baseName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

int main(int argc, char** argv) {
    linematch::MatcherSettings settings;
    std::vector<std::string> positional;
    std::string homographyFile;
    bool upperBound = false, picture = true, quiet = false;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        const auto value = [&]() -> std::string {
            if (k + 1 >= argc) usage(arg + " needs a value");
            return argv[++k];
        };
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--homography") {
            homographyFile = value();
        } else if (arg == "--upper-bound") {
            upperBound = true;
        } else if (arg == "--rounds") {
            const double v = number(arg, value());
            if (!(v >= 1 && v <= 100) || v != static_cast<int>(v)) usage("--rounds must be a whole number in 1..100");
            settings.maxRounds = static_cast<int>(v);
        } else if (arg == "--ratio") {
            const double v = number(arg, value());
            if (!(v > 0 && v <= 1)) usage("--ratio must lie in (0, 1]");
            settings.descriptor.ratio = v;
        } else if (arg == "--min-length") {
            const double v = number(arg, value());
            if (!(v >= 1 && v <= 1e6)) usage("--min-length must lie in [1, 1e6]");
            settings.minSegmentLength = v;
        } else if (arg == "--threads") {
            const double v = number(arg, value());
            if (!(v >= 1 && v <= 256) || v != static_cast<int>(v)) usage("--threads must be a whole number in 1..256");
            settings.threads = settings.transfer.threads = static_cast<int>(v);
        } else if (arg == "--no-points") {
            settings.points.enabled = false;
        } else if (arg == "--no-lbd") {
            settings.lbdSeeds = false;
        } else if (arg == "--lbd-below") {
            const double v = number(arg, value());
            if (!(v >= 0 && v <= 1e9) || v != static_cast<int>(v)) usage("--lbd-below must be a whole number >= 0");
            settings.lbdBelow = static_cast<int>(v);
        } else if (arg == "--no-affine") {
            settings.points.affineViews = false;
        } else if (arg == "--no-carried") {
            settings.points.addCarried = false;
        } else if (arg == "--no-scale") {
            settings.scaleWithImage = false;
        } else if (arg == "--plane-distance") {
            const double v = number(arg, value());
            if (!(v >= 0 && v <= 1e6)) usage("--plane-distance must lie in [0, 1e6]");
            settings.points.agreementDistance = v;
        } else if (arg == "--point-line-distance") {
            const double v = number(arg, value());
            if (!(v > 0 && v <= 1e6)) usage("--point-line-distance must lie in (0, 1e6]");
            settings.points.lineDistance = v;
        } else if (arg == "--keypoint-side") {
            const double v = number(arg, value());
            if (!(v >= 0 && v <= 1e5)) usage("--keypoint-side must lie in [0, 1e5]");
            settings.points.firstSide = v;
        } else if (arg == "--local-points") {
            const double v = number(arg, value());
            if (!(v >= 0 && v <= 1e6) || v != static_cast<int>(v)) usage("--local-points must be a whole number >= 0");
            settings.points.localPoints = static_cast<int>(v);
        } else if (arg == "--min-seeds") {
            const double v = number(arg, value());
            if (!(v >= 0 && v <= 1e6) || v != static_cast<int>(v)) usage("--min-seeds must be a whole number >= 0");
            settings.minSeeds = static_cast<int>(v);
        } else if (arg == "--no-mutual") {
            settings.descriptor.mutual = false;
        } else if (arg == "--no-checks") {
            settings.checks.neighbourSupport = settings.checks.pairAgreement = settings.checks.lineRefit = false;
        } else if (arg == "--no-support") {
            settings.checks.neighbourSupport = false;
        } else if (arg == "--no-agreement") {
            settings.checks.pairAgreement = false;
        } else if (arg == "--no-refit") {
            settings.checks.lineRefit = false;
        } else if (arg == "--no-verify") {
            settings.verification.enabled = false;
        } else if (arg == "--no-one-line") {
            settings.singlePartnerLine = false;
        } else if (arg == "--verify-distance") {
            // NaN or a negative distance would refuse every correspondence
            // the verification judges, without a word.
            const double v = number(arg, value());
            if (!(v > 0 && v <= 1e6)) usage("--verify-distance must lie in (0, 1e6]");
            settings.verification.lineDistance = v;
        } else if (arg == "--no-picture") {
            picture = false;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg.rfind("--", 0) == 0) {
            usage("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 3) usage("expected IMAGE1 IMAGE2 OUTDIR");
    if (upperBound && homographyFile.empty()) usage("--upper-bound needs --homography");

    try {
        const auto started = std::chrono::steady_clock::now();
        const std::string& outDir = positional[2];
        // Failures are reported here, in one line; not also by OpenCV's log.
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
        const cv::Mat image1 = readImage(positional[0]);
        const cv::Mat image2 = readImage(positional[1]);
        std::optional<cv::Matx33d> truthHomography;
        if (!homographyFile.empty()) truthHomography = linematch::readHomographyFile(homographyFile);
        std::error_code error;
        std::filesystem::create_directories(outDir, error);
        if (!std::filesystem::is_directory(outDir)) throw std::runtime_error("cannot create directory " + outDir);

        const linematch::MatchResult result = linematch::matchLines(image1, image2, settings);
        // Not an error (the files are written and the exit status is 0),
        // but no answer either: said where a script or a person sees it.
        if (result.status == "thin_support")
            std::cerr << "linematch: thin support: " << (result.rounds.empty() ? 0 : result.rounds[0].keptSeeds)
                      << " seeds survived the checks (fewer than " << settings.minSeeds
                      << "); no correspondences returned\n";
        linematch::ReportContext context;
        context.secondsTotal =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        context.image1 = baseName(positional[0]);
        context.image2 = baseName(positional[1]);

        std::unique_ptr<linematch::GroundTruth> truth;
        linematch::UpperBoundRun bound;
        if (truthHomography) {
            context.homographyFile = baseName(homographyFile);
            truth = std::make_unique<linematch::GroundTruth>(result.segments1, result.segments2, *truthHomography);
            context.truth = truth.get();
            if (upperBound) {
                bound = linematch::groundTruthSeededRun(result.segments1, result.segments2, *truthHomography,
                                                        image2.size(), settings.transfer);
                context.upperBound = &bound;
            }
        }

        const std::string dir = outDir + "/";
        linematch::writeSegmentFile(dir + "segments1.txt", result.segments1);
        linematch::writeSegmentFile(dir + "segments2.txt", result.segments2);
        linematch::writeMatchFile(dir + "matches.txt", result.matches);
        if (picture && !cv::imwrite(dir + "matches.png", linematch::drawMatches(image1, image2, result, truth.get())))
            throw std::runtime_error("cannot write " + dir + "matches.png");
        {
            std::ofstream json(dir + "report.json");
            json << linematch::reportJson(result, settings, context);
            json.close();
            if (!json) throw std::runtime_error("cannot write " + dir + "report.json");
        }
        if (!quiet) std::cout << linematch::reportText(result, settings, context);
    } catch (const std::exception& e) {
        std::cerr << "linematch: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
