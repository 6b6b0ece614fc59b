#include "linematch/folder_run.hpp"

#include "linematch/front_end_error.hpp"
#include "linematch/homography_file.hpp"
#include "linematch/image_input.hpp"
#include "linematch/match_picture.hpp"
#include "linematch/output_files.hpp"
#include "linematch/output_set.hpp"

#include <opencv2/imgcodecs.hpp>

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace linematch {

namespace {

std::string baseName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// SIGINT, SIGTERM and SIGHUP wait on the calling thread while the files
// are written and renamed: the folder then holds this run's files or the
// earlier ones, and a signal sent meanwhile is taken as soon as they are
// unblocked again.
class SignalsHeld {
public:
    SignalsHeld() {
        sigemptyset(&held_);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held_, s);
        pthread_sigmask(SIG_BLOCK, &held_, &before_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t held_, before_;
};

}  // namespace

std::unique_ptr<FolderRun> matchToFolder(const FolderRunRequest& request, const FrontEndSettings& options) {
    return matchToFolder(request, options, PairMatcher());
}

std::unique_ptr<FolderRun> matchToFolder(const FolderRunRequest& request, const FrontEndSettings& options,
                                         const PairMatcher& match) {
    const MatcherSettings& settings = options.matcher;
    // The report's total time starts before the files are read.
    const auto started = std::chrono::steady_clock::now();
    const cv::Mat image1 = readImageFile(request.image1, options.maxPixels);
    const cv::Mat image2 = readImageFile(request.image2, options.maxPixels);
    std::optional<cv::Matx33d> truthHomography;
    if (!request.homographyFile.empty()) truthHomography = readHomographyFile(request.homographyFile);

    auto run = std::make_unique<FolderRun>();
    run->result = match ? match(image1, image2) : matchLines(image1, image2, settings);
    // confidence.txt is read line by line beside matches.txt: a list of
    // another length would pair the values with the wrong matches.
    if (run->result.confidence.size() != run->result.matches.size())
        throw std::logic_error("the matcher gave " + std::to_string(run->result.confidence.size()) +
                               " confidences for " + std::to_string(run->result.matches.size()) + " matches");
    ReportContext& context = run->context;
    context.image1 = baseName(request.image1);
    context.image2 = baseName(request.image2);
    if (truthHomography) {
        context.homographyFile = baseName(request.homographyFile);
        run->truth = std::make_unique<GroundTruth>(run->result.segments1, run->result.segments2, *truthHomography);
        context.truth = run->truth.get();
        if (request.upperBound) {
            run->bound = groundTruthSeededRun(run->result.segments1, run->result.segments2, *truthHomography,
                                              image2.size(), settings.transfer, settings.threads);
            context.upperBound = &run->bound;
        }
    }

    const std::string& outDir = request.outDir;
    std::vector<unsigned char> png;
    if (request.picture && !cv::imencode(".png", drawMatches(image1, image2, run->result, run->truth.get()), png))
        throw FrontEndError(lineharvest::ErrorKind::outputFile, "cannot encode " + outDir + "/matches.png");
    context.secondsTotal = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    {
        // Held from the first temporary file to the last rename: a signal
        // leaves neither a half-renamed set nor temporary files behind.
        const SignalsHeld held;
        // A killed run's temporaries of these files go (see OutputSet).
        OutputSet out(outDir, {"segments1.txt", "segments2.txt", "matches.txt", "confidence.txt", "matches.png",
                               "report.json"});
        out.add("segments1.txt", segmentFileText(run->result.segments1));
        out.add("segments2.txt", segmentFileText(run->result.segments2));
        out.add("matches.txt", matchFileText(run->result.matches));
        out.add("confidence.txt", confidenceFileText(run->result.confidence));
        if (request.picture) out.add("matches.png", std::string(png.begin(), png.end()));
        else out.drop("matches.png");
        out.add("report.json", reportJson(run->result, options, context));
        out.commit("report.json");
    }
    return run;
}

}  // namespace linematch
