// lineharvest._core._match_images: the two-image line matcher on NumPy
// images or image files. The Python wrapper lineharvest.match_images turns
// the dict returned here into a MatchResult. The images are copied (or
// read) and every option checked before the GIL is released. The options
// are the matcher's one table (linematch/matcher_options.hpp), under their
// Python keywords. The matcher runs on a thread of its own while the
// calling thread waits without the GIL, hands the stages to the progress
// callable and checks for signals twenty times a second: Ctrl-C raises
// KeyboardInterrupt at once, and the matcher stops at its next stage.
#include "bindings.hpp"

#include "argument_error.hpp"
#include "array_arguments.hpp"
#include "matcher_arguments.hpp"

#include "lineharvest/errors.hpp"
#include "linematch/evaluation.hpp"
#include "linematch/front_end_error.hpp"
#include "linematch/homography_file.hpp"
#include "linematch/image_input.hpp"
#include "linematch/match_request.hpp"
#include "linematch/matcher.hpp"
#include "linematch/matcher_options.hpp"
#include "linematch/result_description.hpp"
#include "linematch/result_scores.hpp"
#include "linematch/segments.hpp"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
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

// A front-end failure as the Python error of its kind: files are
// FileError (an OSError) naming the path, a too large image
// ImageTooLargeError (a ValueError), the rest InputError.
[[noreturn]] void raiseFrontEnd(const linematch::FrontEndError& e, const std::string& name) {
    const ErrorKind kind = e.errorKind();
    const std::string message = name + ": " + e.what() + (kind == ErrorKind::imageTooLarge ? " (see max_pixels)" : "");
    if (lineharvest::categoryOf(kind) == lineharvest::FailureCategory::file) throw FileFailure(kind, message, e.path());
    refuseValue(kind, message);
}

namespace {

// An image file read the one way every front end reads it (grey, as the
// linematch command reads it, unless flags say otherwise).
cv::Mat readImageFile(const std::string& path, const char* name, double maxPixels, int flags = cv::IMREAD_GRAYSCALE) {
    try {
        py::gil_scoped_release unlocked;
        return linematch::readImageFile(path, maxPixels, flags);
    } catch (const linematch::FrontEndError& e) {
        raiseFrontEnd(e, name);
    }
}

// A uint8 array of shape (H, W), (H, W, 3) (BGR, as OpenCV holds colour)
// or (H, W, 4) (BGRA) as an image that owns a copy of the pixels, so that
// no other Python thread can change them while the matcher runs.
cv::Mat imageArray(py::handle object, const char* name, double maxPixels) {
    if (!py::isinstance<py::array>(object))
        refuseType(ErrorKind::badImage, std::string(name) + " must be a numpy.ndarray of uint8 or a path, got " +
                                            typeName(object));
    py::array array = py::reinterpret_borrow<py::array>(object);
    if (!array.dtype().is(py::dtype::of<std::uint8_t>()))
        refuseType(ErrorKind::badImage, std::string(name) + " must have dtype uint8, got dtype " +
                                            py::str(array.dtype()).cast<std::string>());
    const int channels = array.ndim() == 3 ? static_cast<int>(array.shape(2)) : 1;
    if ((array.ndim() != 2 && array.ndim() != 3) || (array.ndim() == 3 && channels != 3 && channels != 4))
        refuseValue(ErrorKind::badShape, std::string(name) + " must have shape (H, W), (H, W, 3) or (H, W, 4), got shape " +
                                             shapeText(array));
    if (array.shape(0) < 1 || array.shape(1) < 1)
        refuseValue(ErrorKind::badShape, std::string(name) + " must not be empty, got shape " + shapeText(array));
    try {
        linematch::checkImagePixels(array.shape(1), array.shape(0), maxPixels, "the image of shape " + shapeText(array));
    } catch (const linematch::FrontEndError& e) {
        raiseFrontEnd(e, name);
    }
    if (array.shape(0) > INT_MAX || array.shape(1) > INT_MAX)
        refuseValue(ErrorKind::imageTooLarge, std::string(name) + " has a side over 2^31, shape " + shapeText(array));
    // Any layout or stride: NumPy copies the pixels into a fresh C-ordered
    // buffer, which the image then copies once more into its own memory.
    py::array_t<std::uint8_t, py::array::c_style> packed = py::module_::import("numpy").attr("ascontiguousarray")(array);
    const cv::Mat view(static_cast<int>(array.shape(0)), static_cast<int>(array.shape(1)), CV_8UC(channels),
                       const_cast<std::uint8_t*>(packed.data()));
    return view.clone();
}

cv::Mat imageArgument(py::handle object, const char* name, double maxPixels) {
    if (isPathLike(object)) {
        const std::string path = pathArgument(object, name);
        return readImageFile(path, name, maxPixels);
    }
    return imageArray(object, name, maxPixels);
}

bool flagArgument(py::handle object, const char* name) {
    if (PyBool_Check(object.ptr())) return object.ptr() == Py_True;
    if (py::isinstance(object, py::module_::import("numpy").attr("bool_"))) return object.cast<bool>();
    refuseType(ErrorKind::badOptions, std::string(name) + " must be a bool, got " + typeName(object));
}

// A whole number (anything with __index__, not bool) as a double; one
// too large for 64 bits is infinite, and the range check refuses it.
double wholeArgument(py::handle object, const linematch::MatcherOption& option) {
    const char* name = option.key;
    if (PyBool_Check(object.ptr()) || !PyIndex_Check(object.ptr()))
        refuseType(ErrorKind::badOptions, std::string(name) + " must be an integer, got " + typeName(object));
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(object.ptr()));
    if (!index) throw py::error_already_set();
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
    // Beyond 64 bits, and so beyond every range: said with the number given
    // (a double of it would read "inf").
    if (overflow != 0)
        refuseValue(ErrorKind::badOptions, std::string(name) + " must be " + linematch::optionRange(option) + ", got " +
                                               lineharvest::inputExcerpt(py::str(index).cast<std::string>()));
    return static_cast<double>(value);
}

}  // namespace

// The options given as keywords, checked against the matcher's table.
linematch::FrontEndSettings optionArguments(py::dict given) {
    linematch::FrontEndSettings settings;
    for (auto item : given) {
        const std::string key = py::str(item.first).cast<std::string>();
        const linematch::MatcherOption* option = linematch::findOption(key, linematch::OptionNaming::key);
        if (!option) refuseType(ErrorKind::badOptions, "match_images() got an unexpected keyword argument '" + lineharvest::inputExcerpt(key) + "'");
        double value = 0;
        switch (option->type) {
        case linematch::OptionType::real: value = realScalar(item.second, option->key); break;
        case linematch::OptionType::whole: value = wholeArgument(item.second, *option); break;
        case linematch::OptionType::onOff: value = flagArgument(item.second, option->key) ? 1 : 0; break;
        }
        try {
            linematch::applyOption(settings, *option, value, option->key);
        } catch (const linematch::FrontEndError& e) {
            refuseValue(e.errorKind(), e.what());
        }
    }
    return settings;
}

namespace {

cv::Matx33d homographyValue(py::handle object, const char* name) {
    const DoubleRows rows = doubleRows(object, name, 3, "(3, 3)");
    if (rows.rows != 3)
        refuseValue(ErrorKind::badShape, std::string(name) + " must have shape (3, 3), got shape " + shapeText(rows.array));
    cv::Matx33d h;
    for (int k = 0; k < 9; ++k) h.val[k] = rows.data[k];
    try {
        linematch::checkHomography(h, ErrorKind::badOptions, name);
    } catch (const linematch::FrontEndError& e) {
        refuseValue(e.errorKind(), e.what());
    }
    return h;
}

std::optional<cv::Matx33d> homographyArgument(py::handle object) {
    if (object.is_none()) return std::nullopt;
    return homographyValue(object, "homography");
}

// seed_matches: (K, 2) whole numbers, 0-based indices image 1, image 2
// (the convention of the returned matches); None is none.
std::vector<linematch::SegmentMatch> seedMatchesArgument(py::handle object) {
    std::vector<linematch::SegmentMatch> seeds;
    if (object.is_none()) return seeds;
    const DoubleRows pairs = doubleRows(object, "seed_matches", 2);
    for (int k = 0; k < pairs.rows; ++k) {
        const double i = pairs.data[2 * k], w = pairs.data[2 * k + 1];
        if (!(i >= 0 && w >= 0 && i <= INT_MAX && w <= INT_MAX && i == std::floor(i) && w == std::floor(w)))
            refuseValue(ErrorKind::badOptions, "seed_matches row " + std::to_string(k) +
                                                   " is not a pair of 0-based segment indices");
        seeds.push_back({static_cast<int>(i), static_cast<int>(w)});
    }
    return seeds;
}

// point_matches: (M, 4) finite x1 y1 x2 y2 in pixels; None is none.
std::vector<linematch::PointCorrespondence> pointMatchesArgument(py::handle object) {
    std::vector<linematch::PointCorrespondence> points;
    if (object.is_none()) return points;
    const DoubleRows rows = doubleRows(object, "point_matches", 4);
    for (int k = 0; k < rows.rows; ++k) {
        const double* v = rows.data + 4 * k;
        if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2]) || !std::isfinite(v[3]))
            refuseValue(ErrorKind::badOptions, "point_matches row " + std::to_string(k) + " is not finite");
        points.push_back({{v[0], v[1]}, {v[2], v[3]}});
    }
    return points;
}

// segments1, segments2: (N, 4) finite x1 y1 x2 y2, the pixels of the
// returned segments, so that an earlier result's segments handed back
// reproduce that run; None is none. Checked here (see firstRefusedSegment)
// so that a bad list is refused by its name.
std::optional<std::vector<linematch::Segment>> segmentsArgument(py::handle object, const char* name) {
    if (object.is_none()) return std::nullopt;
    const DoubleRows rows = doubleRows(object, name, 4);
    std::vector<linematch::Segment> segments(static_cast<std::size_t>(rows.rows));
    for (int k = 0; k < rows.rows; ++k)
        std::copy(rows.data + 4 * k, rows.data + 4 * k + 4, segments[static_cast<std::size_t>(k)].begin());
    std::string why;
    const long refused = linematch::firstRefusedSegment(segments, why);
    if (refused >= 0) refuseValue(ErrorKind::badOptions, std::string(name) + " row " + std::to_string(refused) + " " + why);
    return segments;
}

// Python's side of the result description (result_description.hpp):
// names as described, counts as int, a matrix as a float64 array of its
// shape, index pairs as an int64 (K, 2) array, values as a float64 (K,)
// array, records as dicts and lists as lists; an absent field is None.
py::object pythonValue(const linematch::ResultField& f) {
    using Kind = linematch::ResultField::Kind;
    if (!f.present) return py::none();
    switch (f.kind) {
    case Kind::number: return py::float_(f.number);
    case Kind::count: return py::int_(static_cast<long long>(f.number));
    case Kind::flag: return py::bool_(f.number != 0);
    case Kind::text: return py::str(f.text);
    case Kind::matrix: {
        py::array_t<double> out({static_cast<py::ssize_t>(f.rows), static_cast<py::ssize_t>(f.columns)});
        std::copy(f.values.begin(), f.values.end(), out.mutable_data());
        return std::move(out);
    }
    case Kind::pairs: {
        py::array_t<std::int64_t> out({static_cast<py::ssize_t>(f.rows), py::ssize_t{2}});
        std::transform(f.values.begin(), f.values.end(), out.mutable_data(),
                       [](double v) { return static_cast<std::int64_t>(v); });
        return std::move(out);
    }
    case Kind::values: {
        py::array_t<double> out(static_cast<py::ssize_t>(f.rows));
        std::copy(f.values.begin(), f.values.end(), out.mutable_data());
        return std::move(out);
    }
    case Kind::record: {
        py::dict d;
        for (const linematch::ResultField& field : f.fields)
            if (field.shownIn & linematch::inPython) d[py::str(field.name)] = pythonValue(field);
        return std::move(d);
    }
    case Kind::list: {
        py::list items;
        for (const linematch::ResultField& item : f.fields) items.append(pythonValue(item));
        return std::move(items);
    }
    }
    return py::none();
}

py::dict scoreDict(const linematch::Score& s) {
    py::dict d;
    d["matches"] = s.matches;
    d["correct"] = s.correct;
    d["precision"] = s.precision;
    d["recall"] = s.recall;
    return d;
}

// The fields of MatchResult.
py::dict resultDict(const linematch::MatchOutcome& outcome) {
    return pythonValue(linematch::describeResult(outcome)).cast<py::dict>();
}

// One matcher run on its own thread; the calling thread waits for it.
struct Run {
    linematch::MatchRequest request;
    bool givenSegments = false;  // the request held the caller's segments
    linematch::MatchOutcome outcome;
    std::exception_ptr failure;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<std::string, double>> stages;  // told, not yet handed to Python
    bool finished = false;
    std::atomic<bool> cancelled{false};
};

// Thrown by the progress callback of a cancelled run: the matcher stops at
// the stage boundary.
struct Cancelled {};

// Runs the caller gave up on (Ctrl-C) may still be inside a stage; the
// interpreter waits for them at exit instead of unloading the code they run.
std::mutex aliveMutex;
std::condition_variable aliveChanged;
int runsAlive = 0;

void work(const std::shared_ptr<Run>& run) {
    Run* r = run.get();  // the callback must not own the run it belongs to
    r->request.settings.progress = [r](const std::string& stage, double fraction) {
        if (r->cancelled) throw Cancelled{};
        {
            const std::lock_guard<std::mutex> lock(r->mutex);
            r->stages.emplace_back(stage, fraction);
        }
        r->changed.notify_all();
    };
    try {
        r->outcome = linematch::runMatch(std::move(r->request));
    } catch (...) {
        r->failure = std::current_exception();
    }
    {
        const std::lock_guard<std::mutex> lock(r->mutex);
        r->finished = true;
    }
    r->changed.notify_all();
    {
        const std::lock_guard<std::mutex> lock(aliveMutex);
        --runsAlive;
    }
    aliveChanged.notify_all();
}

void waitForRuns() {
    py::gil_scoped_release unlocked;
    std::unique_lock<std::mutex> lock(aliveMutex);
    aliveChanged.wait_for(lock, std::chrono::seconds(60), [] { return runsAlive == 0; });
}

// Waits for the run, handing its stages to progress (when not None) and
// checking for signals every 50 ms. An exception there (KeyboardInterrupt,
// or one the callable raised) cancels the run and leaves at once.
void waitFor(const std::shared_ptr<Run>& run, py::handle progress) {
    for (;;) {
        std::deque<std::pair<std::string, double>> stages;
        bool finished = false;
        {
            py::gil_scoped_release unlocked;
            std::unique_lock<std::mutex> lock(run->mutex);
            run->changed.wait_for(lock, std::chrono::milliseconds(50),
                                  [&] { return run->finished || !run->stages.empty(); });
            stages.swap(run->stages);
            finished = run->finished;
        }
        try {
            if (!progress.is_none())
                for (const auto& [stage, fraction] : stages) progress(stage, fraction);
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        } catch (...) {
            run->cancelled = true;
            throw;
        }
        if (finished) return;
    }
}

py::dict matchImages(py::handle image1, py::handle image2, py::dict options, py::handle homography,
                     py::handle progress, py::handle seedMatches, py::handle pointMatches, py::handle segments1,
                     py::handle segments2) {
    // Options first: a bad option is refused before any file is read.
    const linematch::FrontEndSettings settings = optionArguments(options);
    if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
        refuseType(ErrorKind::badOptions, "progress must be callable or None, got " + typeName(progress));
    auto run = std::make_shared<Run>();
    linematch::MatchRequest& request = run->request;
    request.settings = settings.matcher;
    request.truth = homographyArgument(homography);
    request.given.lines = seedMatchesArgument(seedMatches);
    request.given.points = pointMatchesArgument(pointMatches);
    // One list alone would leave the other image's to detection, and
    // seed_matches would index a mixture.
    if (segments1.is_none() != segments2.is_none())
        refuseValue(ErrorKind::badOptions, std::string(segments1.is_none() ? "segments1" : "segments2") +
                                               " is missing: give segments1 and segments2 together, or neither");
    request.segments1 = segmentsArgument(segments1, "segments1");
    request.segments2 = segmentsArgument(segments2, "segments2");
    run->givenSegments = request.segments1.has_value();
    request.image1 = imageArgument(image1, "image1", settings.maxPixels);
    request.image2 = imageArgument(image2, "image2", settings.maxPixels);
    {
        const std::lock_guard<std::mutex> lock(aliveMutex);
        ++runsAlive;
    }
    std::thread(work, run).detach();
    waitFor(run, progress);
    if (run->failure) {
        try {
            std::rethrow_exception(run->failure);
        } catch (const linematch::GivenSeedOutOfRange& e) {
            // Checked by the core against the segment lists (detected ones
            // are known only now).
            refuseValue(ErrorKind::badOptions, std::string("seed_matches: ") + e.what() +
                                                   (run->givenSegments
                                                        ? " (the indices refer to the rows of the given segments1, segments2)"
                                                        : " (the indices refer to the segments detected with these images "
                                                          "and options: the segments1, segments2 of an earlier result, or "
                                                          "give them as segments1=, segments2=)"));
        } catch (const linematch::ImageTooLargeForDescriptor& e) {
            refuseValue(ErrorKind::imageTooLarge, e.what());
        }
    }
    return resultDict(run->outcome);
}

// score_matches: any list of correspondences scored with the project's
// ground-truth rule (2 px, same direction, overlap 0.5).
py::dict scoreMatches(py::handle matches, py::handle segments1, py::handle segments2, py::handle homography) {
    const DoubleRows s1 = doubleRows(segments1, "segments1", 4);
    const DoubleRows s2 = doubleRows(segments2, "segments2", 4);
    const DoubleRows pairs = doubleRows(matches, "matches", 2);
    const cv::Matx33d h = homographyValue(homography, "homography");
    std::vector<linematch::Segment> a(s1.rows), b(s2.rows);
    for (int k = 0; k < s1.rows; ++k) std::copy(s1.data + 4 * k, s1.data + 4 * k + 4, a[k].begin());
    for (int k = 0; k < s2.rows; ++k) std::copy(s2.data + 4 * k, s2.data + 4 * k + 4, b[k].begin());
    std::vector<linematch::SegmentMatch> list;
    for (int k = 0; k < pairs.rows; ++k) {
        const double i = pairs.data[2 * k], w = pairs.data[2 * k + 1];
        if (!(i >= 0 && i < s1.rows && i == std::floor(i)) || !(w >= 0 && w < s2.rows && w == std::floor(w)))
            refuseValue(ErrorKind::badIndex, "matches row " + std::to_string(k) + " is not a pair of 0-based indices into "
                                             "segments1 and segments2");
        list.push_back({static_cast<int>(i), static_cast<int>(w)});
    }
    linematch::Score score;
    std::size_t trueCorrespondences = 0;
    {
        py::gil_scoped_release unlocked;
        const linematch::GroundTruth truth(a, b, h);
        score = truth.score(list);
        trueCorrespondences = truth.size();
    }
    py::dict d = scoreDict(score);
    d["true_correspondences"] = trueCorrespondences;
    return d;
}

// The option table for the Python wrapper: its signature and its help.
py::list optionTable() {
    py::list rows;
    for (const linematch::MatcherOption& o : linematch::matcherOptions()) {
        const double v = o.get(linematch::FrontEndSettings{});
        py::object value = o.type == linematch::OptionType::onOff ? py::object(py::bool_(v != 0))
                           : o.type == linematch::OptionType::whole ? py::object(py::int_(static_cast<long long>(v)))
                                                                    : py::object(py::float_(v));
        const char* type = o.type == linematch::OptionType::onOff ? "bool"
                           : o.type == linematch::OptionType::whole ? "int" : "float";
        rows.append(py::make_tuple(o.key, type, value, linematch::optionRange(o), o.meaning, o.flag, o.mexName));
    }
    return rows;
}

// Test hook: an image file as OpenCV reads it (grey, or BGR colour), so
// that the tests can hand the same pixels over as an array.
py::array_t<std::uint8_t> readImage(py::handle path, bool colour) {
    const std::string file = pathArgument(path, "path");
    const cv::Mat image =
        readImageFile(file, "path", linematch::FrontEndSettings{}.maxPixels, colour ? cv::IMREAD_COLOR : cv::IMREAD_GRAYSCALE);
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
    m.def("_match_images", &matchImages, py::arg("image1"), py::arg("image2"), py::arg("options"),
          py::arg("homography"), py::arg("progress"), py::arg("seed_matches"), py::arg("point_matches"),
          py::arg("segments1"), py::arg("segments2"),
          "The line matcher; use lineharvest.match_images, which documents the arguments.");
    m.def("_score_matches", &scoreMatches, py::arg("matches"), py::arg("segments1"), py::arg("segments2"),
          py::arg("homography"), "Use lineharvest.score_matches.");
    m.def("_matcher_options", &optionTable);
    py::module_::import("atexit").attr("register")(py::cpp_function(&waitForRuns));
    m.def("_read_image", &readImage, py::arg("path"), py::arg("colour"));
    bindMatchFolder(m);
}

}  // namespace pybinding
