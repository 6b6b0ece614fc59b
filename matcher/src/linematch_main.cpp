// linematch: line-segment correspondences between two photographs of a
// mostly planar scene, with no ground truth.
//
// usage: linematch IMAGE1 IMAGE2 OUTDIR [--homography FILE] [options]
//
// Writes OUTDIR/matches.txt (0-based "i w" per line), OUTDIR/segments1.txt
// and OUTDIR/segments2.txt ("x1 y1 x2 y2" per line, the indices matches.txt
// uses), OUTDIR/matches.png and OUTDIR/report.json, and prints the report.
// The files are complete or absent (see output_set.hpp): report.json is
// renamed into place last. Exit status 0 on success, 1 when an input cannot
// be read or an output cannot be written, 2 for a bad command line.
#include "linematch/evaluation.hpp"
#include "linematch/front_end_error.hpp"
#include "linematch/homography_file.hpp"
#include "linematch/image_input.hpp"
#include "linematch/match_picture.hpp"
#include "linematch/match_report.hpp"
#include "linematch/matcher.hpp"
#include "linematch/matcher_options.hpp"
#include "linematch/output_files.hpp"
#include "linematch/output_set.hpp"
#include "linematch/upper_bound.hpp"

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

std::string usageText() {
    std::string text =
        "usage: linematch IMAGE1 IMAGE2 OUTDIR [--homography FILE] [options]\n"
        "  FILE            ground-truth homography image 1 -> image 2 (an OpenCV matrix\n"
        "                  file .xml/.yml/.json, or nine numbers row by row); only scores\n"
        "                  the result, the matcher never reads it\n"
        "options:\n"
        "  --upper-bound   with FILE: also run the transfer seeded from the ground truth\n"
        "                  (the transfer's upper bound with perfect seeds) for comparison\n";
    for (const linematch::MatcherOption& o : linematch::matcherOptions()) {
        std::string head = std::string("  ") + o.flag;
        if (o.type != linematch::OptionType::onOff) head += " N";
        head.resize(std::max<std::size_t>(head.size() + 1, 22), ' ');
        text += head + o.meaning;
        text += o.type == linematch::OptionType::onOff ? std::string(": off")
                                                       : " (" + linematch::optionDefault(o) + ")";
        text += "\n";
    }
    text +=
        "  --no-picture        do not write matches.png\n"
        "  --quiet             print nothing on success\n"
        "  --verbose           print each stage as it starts (also without it when\n"
        "                      standard error is a terminal)\n";
    return text;
}

[[noreturn]] void usage(const std::string& message) {
    std::cerr << "linematch: " << message << "\n" << usageText();
    std::exit(2);
}

double number(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') usage(option + " needs a number, got '" + text + "'");
    return v;
}

std::string baseName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// SIGINT, SIGTERM and SIGHUP wait while the files are written and renamed:
// the folder then holds this run's files or the earlier ones, and the
// signal ends the process as soon as they are unblocked again.
class SignalsHeld {
public:
    SignalsHeld() {
        sigemptyset(&held_);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held_, s);
        sigprocmask(SIG_BLOCK, &held_, &before_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &before_, nullptr); }

private:
    sigset_t held_, before_;
};

}  // namespace

int main(int argc, char** argv) {
    linematch::FrontEndSettings options;
    std::vector<std::string> positional;
    std::string homographyFile;
    bool upperBound = false, picture = true, quiet = false, verbose = isatty(STDERR_FILENO) == 1;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        const auto value = [&]() -> std::string {
            if (k + 1 >= argc) usage(arg + " needs a value");
            return argv[++k];
        };
        if (arg == "-h" || arg == "--help") {
            std::cout << usageText();
            return 0;
        } else if (arg == "--homography") {
            homographyFile = value();
        } else if (arg == "--upper-bound") {
            upperBound = true;
        } else if (arg == "--no-picture") {
            picture = false;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (const linematch::MatcherOption* o = linematch::findOption(arg, linematch::OptionNaming::flag)) {
            try {
                linematch::applyOption(options, *o, o->type == linematch::OptionType::onOff ? 0 : number(arg, value()),
                                       arg);
            } catch (const linematch::FrontEndError& e) {
                usage(e.what());
            }
        } else if (arg.rfind("--", 0) == 0) {
            usage("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 3) usage("expected IMAGE1 IMAGE2 OUTDIR");
    if (upperBound && homographyFile.empty()) usage("--upper-bound needs --homography");
    linematch::MatcherSettings& settings = options.matcher;
    if (verbose)
        settings.progress = [](const std::string& stage, double fraction) {
            std::fprintf(stderr, "linematch: %3.0f%% %s\n", 100 * fraction, stage.c_str());
        };

    try {
        const auto started = std::chrono::steady_clock::now();
        const std::string& outDir = positional[2];
        // Failures are reported here, in one line; not also by OpenCV's log.
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
        const cv::Mat image1 = linematch::readImageFile(positional[0], options.maxPixels);
        const cv::Mat image2 = linematch::readImageFile(positional[1], options.maxPixels);
        std::optional<cv::Matx33d> truthHomography;
        if (!homographyFile.empty()) truthHomography = linematch::readHomographyFile(homographyFile);

        const linematch::MatchResult result = linematch::matchLines(image1, image2, settings);
        // Not an error (the files are written and the exit status is 0),
        // but no answer either: said where a script or a person sees it.
        if (result.status == "thin_support")
            std::cerr << "linematch: thin support: " << (result.rounds.empty() ? 0 : result.rounds[0].keptSeeds)
                      << " seeds survived the checks (fewer than " << settings.minSeeds
                      << "); no correspondences returned\n";
        linematch::ReportContext context;
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

        std::vector<unsigned char> png;
        if (picture && !cv::imencode(".png", linematch::drawMatches(image1, image2, result, truth.get()), png))
            throw linematch::FrontEndError("outputFile", "cannot encode " + outDir + "/matches.png");
        context.secondsTotal = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        {
            const SignalsHeld held;
            linematch::OutputSet out(outDir);
            out.add("segments1.txt", linematch::segmentFileText(result.segments1));
            out.add("segments2.txt", linematch::segmentFileText(result.segments2));
            out.add("matches.txt", linematch::matchFileText(result.matches));
            if (picture) out.add("matches.png", std::string(png.begin(), png.end()));
            else out.drop("matches.png");
            out.add("report.json", linematch::reportJson(result, settings, context));
            out.commit("report.json");
        }
        if (!quiet) std::cout << linematch::reportText(result, settings, context);
    } catch (const linematch::FrontEndError& e) {
        std::cerr << "linematch: " << e.what() << (e.kind() == "imageTooLarge" ? " (see --max-pixels)" : "") << "\n";
        return 1;
    } catch (const cv::Exception& e) {
        std::cerr << "linematch: OpenCV error: " << e.what() << "\n";
        return 1;
    } catch (const std::bad_alloc&) {
        std::cerr << "linematch: out of memory\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "linematch: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
