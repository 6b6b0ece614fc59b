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
#include "linematch/folder_run.hpp"

#include <memory>
#include <string>

namespace pybinding {

namespace {

py::dict matchToFolder(py::handle image1, py::handle image2, py::handle outdir, py::dict options,
                       py::handle homographyFile, bool picture) {
    // Options first: a bad option is refused before any file is read.
    const linematch::FrontEndSettings settings = optionArguments(options);
    linematch::FolderRunRequest request;
    request.image1 = pathArgument(image1, "image1");
    request.image2 = pathArgument(image2, "image2");
    request.outDir = pathArgument(outdir, "outdir");
    if (!homographyFile.is_none()) request.homographyFile = pathArgument(homographyFile, "homography_file");
    request.picture = picture;

    std::unique_ptr<linematch::FolderRun> run;
    try {
        py::gil_scoped_release unlocked;
        run = linematch::matchToFolder(request, settings);
    } catch (const linematch::FrontEndError& e) {
        // The argument the failure is about, as match_images names it.
        const std::string& path = e.path();
        raiseFrontEnd(e, path == request.image1          ? "image1"
                         : path == request.image2         ? "image2"
                         : e.kind() == "homographyFile"   ? "homography_file"
                                                          : "outdir");
    }

    const linematch::MatchResult& result = run->result;
    py::dict summary;
    summary["segments1"] = result.segments1.size();
    summary["segments2"] = result.segments2.size();
    summary["matches"] = result.matches.size();
    summary["seconds"] = run->context.secondsTotal;
    if (run->truth) {
        const linematch::Score final = run->truth->score(result.matches);
        summary["precision"] = final.precision;
        summary["recall"] = final.recall;
    } else {
        summary["precision"] = py::none();
        summary["recall"] = py::none();
    }
    return summary;
}

void checkMatcherOptions(py::dict options) { optionArguments(options); }

}  // namespace

void bindMatchFolder(py::module_& m) {
    m.def("_match_to_folder", &matchToFolder, py::arg("image1"), py::arg("image2"), py::arg("outdir"),
          py::arg("options"), py::kw_only(), py::arg("homography_file"), py::arg("picture"),
          "The linematch command's run into a folder; use lineharvest.match_pairs.");
    m.def("_check_matcher_options", &checkMatcherOptions, py::arg("options"),
          "Refuses match_images options as match_images does.");
}

}  // namespace pybinding
