// lineharvest._core._match_images: the two-image line matcher on NumPy
// images or image files. The Python wrapper lineharvest.match_images turns
// the dict returned here into a MatchResult. The images are copied (or
// read) and every option checked before the GIL is released.
#include "bindings.hpp"

#include "argument_error.hpp"
#include "array_arguments.hpp"
#include "matcher_arguments.hpp"

#include "linematch/evaluation.hpp"
#include "linematch/matcher.hpp"

#include <opencv2/imgcodecs.hpp>

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pybinding {

namespace {

std::string typeName(py::handle object) {
    return py::str(py::type::of(object).attr("__name__")).cast<std::string>();
}

bool isPathLike(py::handle object) {
    return py::isinstance<py::str>(object) || py::isinstance<py::bytes>(object) ||
           py::hasattr(object, "__fspath__");
}

}  // namespace

// An image file read by OpenCV (as grey, as the linematch command reads
// it, unless flags say otherwise). A path that is not a regular file (a
// directory, a FIFO that would block, a device) is refused before OpenCV
// opens it.
cv::Mat readImageFile(const std::string& path, const char* name, int flags) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw FileFailure("imageFile", std::string(name) + ": cannot open the image file '" + path + "': " +
                                           std::strerror(errno), path);
    if (!S_ISREG(info.st_mode))
        throw FileFailure("imageFile", std::string(name) + ": '" + path + "' is not a regular file", path);
    cv::Mat image;
    {
        py::gil_scoped_release unlocked;
        image = cv::imread(path, flags);
    }
    if (image.empty())
        throw FileFailure("imageFile", std::string(name) + ": cannot read '" + path + "' as an image", path);
    return image;
}

namespace {

// A uint8 array of shape (H, W) or (H, W, 3) (BGR, as OpenCV holds colour)
// as an image that owns a copy of the pixels, so that no other Python
// thread can change them while the matcher runs.
cv::Mat imageArray(py::handle object, const char* name) {
    if (!py::isinstance<py::array>(object))
        refuseType("badImage", std::string(name) + " must be a numpy.ndarray of uint8 or a path, got " +
                                   typeName(object));
    py::array array = py::reinterpret_borrow<py::array>(object);
    if (!array.dtype().is(py::dtype::of<std::uint8_t>()))
        refuseType("badImage", std::string(name) + " must have dtype uint8, got dtype " +
                                   py::str(array.dtype()).cast<std::string>());
    const bool colour = array.ndim() == 3;
    if ((array.ndim() != 2 && !colour) || (colour && array.shape(2) != 3))
        refuseValue("badShape", std::string(name) + " must have shape (H, W) or (H, W, 3), got shape " +
                                    shapeText(array));
    if (array.shape(0) < 1 || array.shape(1) < 1)
        refuseValue("badShape", std::string(name) + " must not be empty, got shape " + shapeText(array));
    if (array.shape(0) > 100000 || array.shape(1) > 100000)
        refuseValue("badShape", std::string(name) + " is larger than 100000 pixels a side, shape " +
                                    shapeText(array));
    // Any layout or stride: NumPy copies the pixels into a fresh C-ordered
    // buffer, which the image then copies once more into its own memory.
    py::array_t<std::uint8_t, py::array::c_style> packed = py::module_::import("numpy").attr("ascontiguousarray")(array);
    const cv::Mat view(static_cast<int>(array.shape(0)), static_cast<int>(array.shape(1)), colour ? CV_8UC3 : CV_8UC1,
                       const_cast<std::uint8_t*>(packed.data()));
    return view.clone();
}

cv::Mat imageArgument(py::handle object, const char* name) {
    if (isPathLike(object)) {
        const std::string path = pathArgument(object, name);
        return readImageFile(path, name);
    }
    return imageArray(object, name);
}

bool flagArgument(py::handle object, const char* name) {
    if (PyBool_Check(object.ptr())) return object.ptr() == Py_True;
    if (py::isinstance(object, py::module_::import("numpy").attr("bool_"))) return object.cast<bool>();
    refuseType("badOptions", std::string(name) + " must be a bool, got " + typeName(object));
}

int wholeInRange(py::handle object, const char* name, int lo, int hi) {
    const int v = integerScalar(object, name);
    if (v < lo || v > hi)
        refuseValue("badOptions", std::string(name) + " must lie in " + std::to_string(lo) + ".." + std::to_string(hi) +
                                     ", got " + std::to_string(v));
    return v;
}

std::optional<cv::Matx33d> homographyArgument(py::handle object) {
    if (object.is_none()) return std::nullopt;
    const DoubleRows rows = doubleRows(object, "homography", 3);
    if (rows.rows != 3)
        refuseValue("badShape", "homography must have shape (3, 3), got shape " + shapeText(rows.array));
    cv::Matx33d h;
    for (int k = 0; k < 9; ++k) {
        h.val[k] = rows.data[k];
        if (!std::isfinite(h.val[k])) refuseValue("badOptions", "homography must hold finite numbers");
    }
    if (std::fabs(cv::determinant(h)) == 0) refuseValue("badOptions", "homography must not be singular");
    return h;
}

py::array_t<std::int64_t> matchArray(const std::vector<linematch::SegmentMatch>& matches) {
    py::array_t<std::int64_t> out({static_cast<py::ssize_t>(matches.size()), py::ssize_t{2}});
    std::int64_t* p = out.mutable_data();
    for (const auto& m : matches) {
        *p++ = m.image1Segment;
        *p++ = m.image2Segment;
    }
    return out;
}

py::array_t<double> segmentArray(const std::vector<linematch::Segment>& segments) {
    py::array_t<double> out({static_cast<py::ssize_t>(segments.size()), py::ssize_t{4}});
    double* p = out.mutable_data();
    for (const auto& s : segments)
        for (double v : s) *p++ = v;
    return out;
}

py::dict scoreDict(const linematch::Score& s) {
    py::dict d;
    d["matches"] = s.matches;
    d["correct"] = s.correct;
    d["precision"] = s.precision;
    d["recall"] = s.recall;
    return d;
}

// The "ground_truth" object of the command's report.json, with the figures
// at full precision.
py::dict scoreReport(const linematch::MatchResult& r, const linematch::GroundTruth& truth) {
    py::dict d;
    d["true_correspondences"] = truth.size();
    d["descriptor_alone"] = scoreDict(truth.score(r.descriptorMatches));
    d["seeds"] = scoreDict(truth.score(r.seeds));
    py::list rounds;
    std::vector<linematch::SegmentMatch> soFar = r.seeds;
    for (const auto& added : r.roundMatches) {
        soFar.insert(soFar.end(), added.begin(), added.end());
        py::dict round;
        round["added"] = scoreDict(truth.score(added));
        round["so_far"] = scoreDict(truth.score(soFar));
        rounds.append(round);
    }
    d["rounds"] = rounds;
    d["final"] = scoreDict(truth.score(r.matches));
    return d;
}

py::dict resultDict(const linematch::MatchResult& r, const linematch::GroundTruth* truth) {
    py::dict d;
    d["matches"] = matchArray(r.matches);
    d["segments1"] = segmentArray(r.segments1);
    d["segments2"] = segmentArray(r.segments2);
    d["descriptor_matches"] = matchArray(r.descriptorMatches);
    d["seeds"] = matchArray(r.seeds);
    py::list roundMatches, rounds;
    for (const auto& added : r.roundMatches) roundMatches.append(matchArray(added));
    for (const auto& s : r.rounds) {
        py::dict round;
        round["seeds"] = s.seeds;
        round["seeds_kept"] = s.keptSeeds;
        round["pair_records"] = s.records;
        round["transferred"] = s.transferred;
        round["rejected"] = s.rejected;
        round["added"] = s.added;
        round["new_seeds"] = s.newSeeds;
        rounds.append(round);
    }
    d["round_matches"] = roundMatches;
    d["rounds"] = rounds;
    py::dict seconds;
    seconds["segments"] = r.secondsSegments;
    seconds["descriptors"] = r.secondsDescriptors;
    seconds["seed_checks"] = r.secondsChecks;
    seconds["transfer"] = r.secondsTransfer;
    d["seconds"] = seconds;
    d["scores"] = truth ? py::object(scoreReport(r, *truth)) : py::object(py::none());
    return d;
}

}  // namespace

linematch::MatcherSettings matcherSettings(py::handle minLength, py::handle ratio, py::handle rounds,
                                           py::handle mutual, py::handle checks, py::handle verify,
                                           py::handle oneLine, py::handle threads) {
    linematch::MatcherSettings settings;
    settings.minSegmentLength = realScalar(minLength, "min_length");
    if (!(settings.minSegmentLength >= 1 && settings.minSegmentLength <= 1e6))
        refuseValue("badOptions", "min_length must lie in [1, 1e6]");
    settings.descriptor.ratio = realScalar(ratio, "ratio");
    if (!(settings.descriptor.ratio > 0 && settings.descriptor.ratio <= 1))
        refuseValue("badOptions", "ratio must lie in (0, 1]");
    settings.maxRounds = wholeInRange(rounds, "rounds", 1, 100);
    settings.descriptor.mutual = flagArgument(mutual, "mutual");
    settings.checks.neighbourSupport = settings.checks.pairAgreement = settings.checks.lineRefit =
        flagArgument(checks, "checks");
    settings.verification.enabled = flagArgument(verify, "verify");
    settings.singlePartnerLine = flagArgument(oneLine, "one_line");
    settings.transfer.threads = wholeInRange(threads, "threads", 1, 256);
    return settings;
}

namespace {

py::dict matchImages(py::handle image1, py::handle image2, py::handle minLength, py::handle ratio, py::handle rounds,
                     py::handle mutual, py::handle checks, py::handle verify, py::handle oneLine, py::handle threads,
                     py::handle homography) {
    // Options first: a bad option is refused before any file is read.
    const linematch::MatcherSettings settings =
        matcherSettings(minLength, ratio, rounds, mutual, checks, verify, oneLine, threads);
    const std::optional<cv::Matx33d> truthHomography = homographyArgument(homography);

    const cv::Mat first = imageArgument(image1, "image1");
    const cv::Mat second = imageArgument(image2, "image2");

    linematch::MatchResult result;
    std::unique_ptr<linematch::GroundTruth> truth;
    {
        py::gil_scoped_release unlocked;
        result = linematch::matchLines(first, second, settings);
        if (truthHomography)
            truth = std::make_unique<linematch::GroundTruth>(result.segments1, result.segments2, *truthHomography);
    }
    return resultDict(result, truth.get());
}

// Test hook: an image file as OpenCV reads it (grey, or BGR colour), so
// that the tests can hand the same pixels over as an array.
py::array_t<std::uint8_t> readImage(py::handle path, bool colour) {
    const std::string file = pathArgument(path, "path");
    const cv::Mat image = readImageFile(file, "path", colour ? cv::IMREAD_COLOR : cv::IMREAD_GRAYSCALE);
    std::vector<py::ssize_t> shape{image.rows, image.cols};
    if (colour) shape.push_back(3);
    py::array_t<std::uint8_t> out(shape);
    const std::size_t rowBytes = static_cast<std::size_t>(image.cols) * image.channels();
    for (int r = 0; r < image.rows; ++r)
        std::memcpy(out.mutable_data() + r * rowBytes, image.ptr<std::uint8_t>(r), rowBytes);
    return out;
}

}  // namespace

void bindMatcher(py::module_& m) {
    m.def("_match_images", &matchImages, py::arg("image1"), py::arg("image2"), py::kw_only(),
          py::arg("min_length"), py::arg("ratio"), py::arg("rounds"), py::arg("mutual"), py::arg("checks"),
          py::arg("verify"), py::arg("one_line"), py::arg("threads"), py::arg("homography"),
          "The line matcher; use lineharvest.match_images, which documents the arguments.");
    m.def("_read_image", &readImage, py::arg("path"), py::arg("colour"));
    bindMatchFolder(m);
}

}  // namespace pybinding
