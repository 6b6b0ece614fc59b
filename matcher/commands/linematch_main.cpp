// linematch: line-segment correspondences between two photographs of a
// mostly planar scene, with no ground truth.
//
// usage: linematch IMAGE1 IMAGE2 OUTDIR [--homography FILE] [options]
//
// Writes OUTDIR/matches.txt (0-based "i w" per line), OUTDIR/confidence.txt
// (one "%.4f" per match, in the same order), OUTDIR/segments1.txt and
// OUTDIR/segments2.txt ("x1 y1 x2 y2" per line, the indices matches.txt
// uses), OUTDIR/matches.png and OUTDIR/report.json, and prints the report.
// The files are complete or absent (see output_set.hpp): report.json is
// renamed into place last. The run itself is linematch::matchToFolder
// (folder_run.hpp), which lineharvest.match_pairs calls too. Exit status 0
// on success, 1 when an input cannot be read or an output cannot be
// written, 2 for a bad command line (the gateways' hostError, which the MEX
// and Python front ends report through as well).
#include "call_failure.hpp"
#include "opencv_failure.hpp"

#include "lineharvest/errors.hpp"
#include "linematch/folder_run.hpp"
#include "linematch/front_end_error.hpp"
#include "linematch/match_report.hpp"
#include "linematch/matcher_options.hpp"

#include <opencv2/core/utils/logger.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
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
    if (text.empty() || *end != '\0') usage(option + " needs a number, got '" + lineharvest::inputExcerpt(text) + "'");
    return v;
}

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
            usage("unknown option " + lineharvest::inputExcerpt(arg));
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
        // Failures are reported here, in one line; not also by OpenCV's log.
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
        linematch::FolderRunRequest request;
        request.image1 = positional[0];
        request.image2 = positional[1];
        request.outDir = positional[2];
        request.homographyFile = homographyFile;
        request.upperBound = upperBound;
        request.picture = picture;
        const std::unique_ptr<linematch::FolderRun> run = linematch::matchToFolder(request, options);
        // Not an error (the files are written and the exit status is 0),
        // but no answer either: said where a script or a person sees it.
        if (run->outcome.result.status == "thin_support")
            std::cerr << "linematch: thin support: "
                      << (run->outcome.result.rounds.empty() ? 0 : run->outcome.result.rounds[0].keptSeeds)
                      << " seeds survived the checks and no plane was verified; no correspondences returned\n";
        if (!quiet) std::cout << linematch::reportText(run->outcome, settings, run->context);
    } catch (...) {
        const mexargs::CallFailure failure =
            mexargs::describeFailure(std::current_exception(), mexargs::describeOpenCvFailure);
        std::cerr << "linematch: " << failure.message
                  << (failure.kind == lineharvest::ErrorKind::imageTooLarge ? " (see --max-pixels)" : "") << "\n";
        return mexargs::hostError(failure.kind).exitStatus;
    }
    return 0;
}
