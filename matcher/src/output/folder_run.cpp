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
#include <utility>
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
    // The one way every front end runs the matcher and scores its result.
    MatchRequest matchRequest;
    matchRequest.image1 = image1;
    matchRequest.image2 = image2;
    matchRequest.settings = settings;
    matchRequest.truth = truthHomography;
    run->outcome = runMatch(std::move(matchRequest), match);
    const MatchResult& result = run->outcome.result;
    ReportContext& context = run->context;
    context.image1 = baseName(request.image1);
    context.image2 = baseName(request.image2);
    if (truthHomography) {
        context.homographyFile = baseName(request.homographyFile);
        context.truth = run->outcome.truth.get();
        if (request.upperBound) {
            run->bound = groundTruthSeededRun(result.segments1, result.segments2, *truthHomography, image2.size(),
                                              settings.transfer, settings.threads);
            context.upperBound = &run->bound;
        }
    }

    const std::string& outDir = request.outDir;
    std::vector<unsigned char> png;
    if (request.picture && !cv::imencode(".png", drawMatches(image1, image2, result, context.truth), png))
        throw FrontEndError(lineharvest::ErrorKind::outputFile, "cannot encode " + outDir + "/matches.png");
    context.secondsTotal = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    {
        // Held from the first temporary file to the last rename: a signal
        // leaves neither a half-renamed set nor temporary files behind.
        const SignalsHeld held;
        // A killed run's temporaries of these files go (see OutputSet).
        OutputSet out(outDir, {"segments1.txt", "segments2.txt", "matches.txt", "confidence.txt", "matches.png",
                               "report.json"});
        out.add("segments1.txt", segmentFileText(result.segments1));
        out.add("segments2.txt", segmentFileText(result.segments2));
        out.add("matches.txt", matchFileText(result.matches));
        out.add("confidence.txt", confidenceFileText(result.confidence));
        if (request.picture) out.add("matches.png", std::string(png.begin(), png.end()));
        else out.drop("matches.png");
        out.add("report.json", reportJson(run->outcome, options, context));
        out.commit("report.json");
    }
    return run;
}

}  // namespace linematch
