// lineharvest._core._match_to_folder: one run of the linematch command on
// two image files, writing the command's files into a folder the caller
// made: matches.txt, segments1.txt, segments2.txt, matches.png (unless
// picture is false) and report.json, through the writers the command
// calls, so that they are byte for byte the command's files (report.json
// apart from its timings). lineharvest.match_pairs runs it once per pair,
// into a fresh folder that it renames into place when complete.
//
// The images are read and the homography file parsed with the GIL held
// (OpenCV's decoding releases it); the matching, the scoring and the
// writing run without it.
#include "matcher_arguments.hpp"

#include "argument_error.hpp"
#include "array_arguments.hpp"

#include "linematch/evaluation.hpp"
#include "linematch/homography_file.hpp"
#include "linematch/match_picture.hpp"
#include "linematch/match_report.hpp"
#include "linematch/output_files.hpp"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace pybinding {

namespace {

std::string baseName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// The command's output files, in the command's order, report.json last.
void writeOutputs(const std::string& folder, const cv::Mat& image1, const cv::Mat& image2,
                  const linematch::MatchResult& result, const linematch::MatcherSettings& settings,
                  const linematch::ReportContext& context, bool picture) {
    const std::string dir = folder + "/";
    linematch::writeSegmentFile(dir + "segments1.txt", result.segments1);
    linematch::writeSegmentFile(dir + "segments2.txt", result.segments2);
    linematch::writeMatchFile(dir + "matches.txt", result.matches);
    if (picture && !cv::imwrite(dir + "matches.png", linematch::drawMatches(image1, image2, result, context.truth)))
        throw std::runtime_error("cannot write " + dir + "matches.png");
    std::ofstream json(dir + "report.json");
    json << linematch::reportJson(result, settings, context);
    json.close();
    if (!json) throw std::runtime_error("cannot write " + dir + "report.json");
}

py::dict matchToFolder(py::handle image1, py::handle image2, py::handle outdir, py::handle homographyFile,
                       bool picture, py::handle minLength, py::handle ratio, py::handle rounds, py::handle mutual,
                       py::handle checks, py::handle verify, py::handle oneLine, py::handle threads) {
    const linematch::MatcherSettings settings =
        matcherSettings(minLength, ratio, rounds, mutual, checks, verify, oneLine, threads);
    const std::string path1 = pathArgument(image1, "image1");
    const std::string path2 = pathArgument(image2, "image2");
    const std::string folder = pathArgument(outdir, "outdir");
    const std::string truthPath = homographyFile.is_none() ? std::string() : pathArgument(homographyFile, "homography");

    // The command's order: the clock starts before the images are read.
    const auto started = std::chrono::steady_clock::now();
    const cv::Mat first = readImageFile(path1, "image1");
    const cv::Mat second = readImageFile(path2, "image2");
    std::optional<cv::Matx33d> truthHomography;
    if (!truthPath.empty()) {
        try {
            truthHomography = linematch::readHomographyFile(truthPath);
        } catch (const std::runtime_error& e) {
            throw FileFailure("homographyFile", std::string("homography: ") + e.what(), truthPath);
        }
    }
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        throw FileFailure("outputFile", "outdir: '" + folder + "' is not a directory", folder);

    linematch::MatchResult result;
    std::unique_ptr<linematch::GroundTruth> truth;
    linematch::ReportContext context;
    {
        py::gil_scoped_release unlocked;
        result = linematch::matchLines(first, second, settings);
        context.secondsTotal = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        context.image1 = baseName(path1);
        context.image2 = baseName(path2);
        if (truthHomography) {
            context.homographyFile = baseName(truthPath);
            truth = std::make_unique<linematch::GroundTruth>(result.segments1, result.segments2, *truthHomography);
            context.truth = truth.get();
        }
        try {
            writeOutputs(folder, first, second, result, settings, context, picture);
        } catch (const std::runtime_error& e) {
            throw FileFailure("outputFile", e.what(), folder);
        }
    }

    py::dict summary;
    summary["segments1"] = result.segments1.size();
    summary["segments2"] = result.segments2.size();
    summary["matches"] = result.matches.size();
    summary["seconds"] = context.secondsTotal;
    if (truth) {
        const linematch::Score final = truth->score(result.matches);
        summary["precision"] = final.precision;
        summary["recall"] = final.recall;
    } else {
        summary["precision"] = py::none();
        summary["recall"] = py::none();
    }
    return summary;
}

void checkMatcherOptions(py::handle minLength, py::handle ratio, py::handle rounds, py::handle mutual,
                         py::handle checks, py::handle verify, py::handle oneLine, py::handle threads) {
    matcherSettings(minLength, ratio, rounds, mutual, checks, verify, oneLine, threads);
}

}  // namespace

void bindMatchFolder(py::module_& m) {
    m.def("_match_to_folder", &matchToFolder, py::arg("image1"), py::arg("image2"), py::arg("outdir"), py::kw_only(),
          py::arg("homography_file"), py::arg("picture"), py::arg("min_length"), py::arg("ratio"), py::arg("rounds"),
          py::arg("mutual"), py::arg("checks"), py::arg("verify"), py::arg("one_line"), py::arg("threads"),
          "The linematch command's run into a folder; use lineharvest.match_pairs.");
    m.def("_check_matcher_options", &checkMatcherOptions, py::kw_only(), py::arg("min_length"), py::arg("ratio"),
          py::arg("rounds"), py::arg("mutual"), py::arg("checks"), py::arg("verify"), py::arg("one_line"),
          py::arg("threads"), "Refuses match_images options as match_images does.");
}

}  // namespace pybinding
