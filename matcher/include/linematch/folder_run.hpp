// The linematch command's run from its input files to its output folder:
// the two images read through image_input, the homography file (only to
// score the result), the matcher through runMatch, and the output set (segments1.txt,
// segments2.txt, matches.txt, confidence.txt, matches.png, report.json
// last) committed as output_set.hpp describes. The command and
// lineharvest.match_pairs both call matchToFolder, so that a batch's pair
// folders hold what the command writes for that pair, byte for byte
// (report.json apart from its timings).
#pragma once

#include "linematch/evaluation.hpp"
#include "linematch/match_report.hpp"
#include "linematch/match_request.hpp"
#include "linematch/matcher.hpp"
#include "linematch/matcher_options.hpp"
#include "linematch/upper_bound.hpp"

#include <memory>
#include <string>

namespace linematch {

struct FolderRunRequest {
    std::string image1, image2;  // image files, read as grey
    std::string outDir;          // made (with its parents) when missing
    std::string homographyFile;  // ground truth image 1 -> image 2; empty for none
    bool upperBound = false;     // with homographyFile: the ground-truth-seeded run beside the matcher
    bool picture = true;         // matches.png; without it an earlier run's is removed
};

// What one run found; context is what the report was written from (its
// truth and upperBound point into this object, which is therefore neither
// copied nor moved).
struct FolderRun {
    FolderRun() = default;
    FolderRun(const FolderRun&) = delete;
    FolderRun& operator=(const FolderRun&) = delete;

    // runMatch's outcome: the result, and with a homography file its
    // truth and scores.
    MatchOutcome outcome;
    UpperBoundRun bound;  // with upperBound
    ReportContext context;               // secondsTotal: files read, matched, picture drawn
};

// One run. FrontEndError (imageFile, damagedImage, imageTooLarge,
// homographyFile, outputFile) on its inputs and outputs; the matcher's own
// exceptions (cv::Exception, std::bad_alloc, what settings.progress
// throws) pass through, and the folder is then left as it was. SIGINT,
// SIGTERM and SIGHUP are held on the calling thread while the files are
// written and renamed into place, so that a signal ends a command after
// the commit, not in the middle of it.
std::unique_ptr<FolderRun> matchToFolder(const FolderRunRequest& request, const FrontEndSettings& options);

// The same run with another way to the pair's result from the two images
// as read (grey), as runMatch takes it (match_request.hpp).
std::unique_ptr<FolderRun> matchToFolder(const FolderRunRequest& request, const FrontEndSettings& options,
                                         const PairMatcher& match);

}  // namespace linematch
