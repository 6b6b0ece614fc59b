// lineharvest._core._match_to_folder: one run of the linematch command on
// two image files into a folder, through linematch::matchToFolder, the
// function the command itself calls: the same image checks, the same files
// (segments1.txt, segments2.txt, matches.txt, confidence.txt, matches.png
// unless picture is false, report.json last, renamed into place together),
// the same errors. lineharvest.match_pairs runs it once per pair, into a
// fresh folder that it renames into place when complete. The options are
// the matcher's table under match_images' keywords. The GIL is released
// from the first file read to the last file renamed.
#include "matcher_arguments.hpp"

#include "argument_error.hpp"
#include "array_arguments.hpp"

#include "linematch/evaluation.hpp"
#include "linematch/feature_cache.hpp"
#include "linematch/folder_run.hpp"

#include <pybind11/numpy.h>

#include <memory>
#include <string>

namespace pybinding {

namespace {

// The row figures of a run into a folder.
py::dict fillSummary(py::dict summary, const linematch::FolderRun& run) {
    const linematch::MatchResult& result = run.outcome.result;
    summary["segments1"] = result.segments1.size();
    summary["segments2"] = result.segments2.size();
    summary["matches"] = result.matches.size();
    summary["seconds"] = run.context.secondsTotal;
    if (run.outcome.scores) {
        const linematch::Score& final = run.outcome.scores->final;
        summary["precision"] = final.precision;
        summary["recall"] = final.recall;
    } else {
        summary["precision"] = py::none();
        summary["recall"] = py::none();
    }
    return summary;
}

linematch::FolderRunRequest folderRequest(py::handle image1, py::handle image2, py::handle outdir,
                                          py::handle homographyFile, bool picture) {
    linematch::FolderRunRequest request;
    request.image1 = pathArgument(image1, "image1");
    request.image2 = pathArgument(image2, "image2");
    request.outDir = pathArgument(outdir, "outdir");
    if (!homographyFile.is_none()) request.homographyFile = pathArgument(homographyFile, "homography_file");
    request.picture = picture;
    return request;
}

// A front-end failure of a run into a folder, raised naming the argument
// it is about, as match_images names it.
[[noreturn]] void raiseFolderFailure(const linematch::FrontEndError& e, const linematch::FolderRunRequest& request) {
    const std::string& path = e.path();
    raiseFrontEnd(e, path == request.image1          ? "image1"
                     : path == request.image2         ? "image2"
                     : e.errorKind() == ErrorKind::homographyFile ? "homography_file"
                                                                  : "outdir");
}

py::dict matchToFolder(py::handle image1, py::handle image2, py::handle outdir, py::dict options,
                       py::handle homographyFile, bool picture) {
    // Options first: a bad option is refused before any file is read.
    const linematch::FrontEndSettings settings = optionArguments(options);
    const linematch::FolderRunRequest request = folderRequest(image1, image2, outdir, homographyFile, picture);
    std::unique_ptr<linematch::FolderRun> run;
    try {
        py::gil_scoped_release unlocked;
        run = linematch::matchToFolder(request, settings);
    } catch (const linematch::FrontEndError& e) {
        raiseFolderFailure(e, request);
    }

    return fillSummary(py::dict(), *run);
}

void checkMatcherOptions(py::dict options) { optionArguments(options); }

// One pair of a collection: as _match_to_folder, from the images' cached
// features (linematch::matchCachedToFolder).
py::dict matchCachedToFolder(py::handle image1, py::handle image2, py::handle outdir, py::dict options,
                             py::handle features1, py::handle features2, py::handle homographyFile, bool picture,
                             bool overlapCheck) {
    const linematch::FrontEndSettings settings = optionArguments(options);
    const linematch::FolderRunRequest request = folderRequest(image1, image2, outdir, homographyFile, picture);
    const std::string file1 = pathArgument(features1, "features1"), file2 = pathArgument(features2, "features2");
    linematch::CachedPairRun run;
    try {
        py::gil_scoped_release unlocked;
        run = linematch::matchCachedToFolder(request, settings, file1, file2, overlapCheck);
    } catch (const linematch::FrontEndError& e) {
        raiseFolderFailure(e, request);
    } catch (const linematch::FeatureFileError& e) {
        throw py::value_error(std::string("features: ") + e.what());
    }
    py::dict summary;
    summary["status"] = run.run->outcome.result.status;
    summary["refused"] = py::make_tuple(run.features1.refused, run.features2.refused);
    summary["computed"] = py::make_tuple(run.features1.computed, run.features2.computed);
    return fillSummary(summary, *run.run);
}

// One image of a collection: its features from file, or computed and
// stored there (the first keypoint level up front).
py::dict extractToFile(py::handle image, py::handle file, py::dict options, bool overlapCheck) {
    const linematch::FrontEndSettings settings = optionArguments(options);
    const std::string path = pathArgument(image, "image"), where = pathArgument(file, "file");
    linematch::CachedFeatures cached;
    try {
        py::gil_scoped_release unlocked;
        cached = linematch::cachedFeatures(path, where, settings,
                                           linematch::collectionParts(overlapCheck && settings.matcher.points.enabled &&
                                                                      settings.matcher.points.affineViews));
    } catch (const linematch::FrontEndError& e) {
        raiseFrontEnd(e, "image");
    } catch (const linematch::FeatureFileError& e) {
        throw py::value_error(std::string("features: ") + e.what());
    }
    py::dict out;
    out["computed"] = cached.computed;
    out["refused"] = cached.refused;
    out["segments"] = cached.features.segments.size();
    out["size"] = py::make_tuple(cached.features.size.width, cached.features.size.height);
    return out;
}

// A features file as NumPy arrays: size (width, height), segments (N, 4),
// keypoints (K, 2) of the first level, settings (text). ValueError for a
// file that is damaged or no features file.
py::dict featureArrays(py::handle file) {
    const std::string where = pathArgument(file, "file");
    linematch::ImageFeatures f;
    try {
        py::gil_scoped_release unlocked;
        f = linematch::loadFeatures(where);
    } catch (const linematch::FeatureFileError& e) {
        throw py::value_error(e.what());
    }
    py::array_t<double> segments({static_cast<py::ssize_t>(f.segments.size()), py::ssize_t(4)});
    auto sw = segments.mutable_unchecked<2>();
    for (std::size_t k = 0; k < f.segments.size(); ++k)
        for (int c = 0; c < 4; ++c) sw(k, c) = f.segments[k][c];
    const std::vector<cv::Point2d>& points = f.keypoints[0].points;
    py::array_t<double> keypoints({static_cast<py::ssize_t>(points.size()), py::ssize_t(2)});
    auto kw = keypoints.mutable_unchecked<2>();
    for (std::size_t k = 0; k < points.size(); ++k) {
        kw(k, 0) = points[k].x;
        kw(k, 1) = points[k].y;
    }
    py::dict out;
    out["size"] = py::make_tuple(f.size.width, f.size.height);
    out["segments"] = segments;
    out["keypoints"] = keypoints;
    out["settings"] = f.settingsKey;
    py::list levels;
    for (int level = 0; level < linematch::kPointLevels; ++level) levels.append(f.hasKeypoints[level]);
    out["levels"] = levels;
    out["lbd"] = f.hasLbd;
    return out;
}

std::string featureKey(py::dict options) { return linematch::featureSettingsKey(optionArguments(options).matcher); }

}  // namespace

void bindMatchFolder(py::module_& m) {
    m.def("_match_to_folder", &matchToFolder, py::arg("image1"), py::arg("image2"), py::arg("outdir"),
          py::arg("options"), py::kw_only(), py::arg("homography_file"), py::arg("picture"),
          "The linematch command's run into a folder; use lineharvest.match_pairs.");
    m.def("_match_cached_to_folder", &matchCachedToFolder, py::arg("image1"), py::arg("image2"), py::arg("outdir"),
          py::arg("options"), py::arg("features1"), py::arg("features2"), py::kw_only(),
          py::arg("homography_file"), py::arg("picture"), py::arg("overlap_check"),
          "A collection's pair from the images' cached features; use lineharvest.match_pairs.");
    m.def("_extract_features", &extractToFile, py::arg("image"), py::arg("file"), py::arg("options"),
          py::kw_only(), py::arg("overlap_check"),
          "An image's features from file, or computed and stored there; use lineharvest.match_pairs.");
    m.def("_feature_arrays", &featureArrays, py::arg("file"), "A features file as NumPy arrays.");
    m.def("_feature_key", &featureKey, py::arg("options"),
          "The settings that change an image's features, as text.");
    m.def("_check_matcher_options", &checkMatcherOptions, py::arg("options"),
          "Refuses match_images options as match_images does.");
}

}  // namespace pybinding
