// MATLAB/Octave entry point of the line matcher: converts the two images
// (uint8 arrays as the host holds them, or image file names) and the
// options, runs the matcher and returns the correspondences, the segments
// and a summary. Every failure becomes a host error "linematch:<kind>".
#include "mex_args.hpp"
#include "opencv_failure.hpp"

#include "lineharvest/errors.hpp"
#include "linematch/evaluation.hpp"
#include "linematch/front_end_error.hpp"
#include "linematch/homography_file.hpp"
#include "linematch/image_input.hpp"
#include "linematch/match_request.hpp"
#include "linematch/matcher.hpp"
#include "linematch/matcher_options.hpp"
#include "linematch/result_scores.hpp"
#include "linematch/segments.hpp"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <csignal>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

// Ctrl-C during a match. Octave takes SIGINT on a thread of its own and
// marks it in octave_interrupt_state (liboctave's, resolved from the host
// like the mx* functions), acting on it only once the MEX function returns.
// The matcher's progress callback, called as each stage starts, looks at
// it: the run stops there and the call fails with linematch:interrupted,
// the mark left for Octave to act on as for any Ctrl-C. The symbol is
// weak: another host (MATLAB) has none, and the MEX file still loads there,
// without this check.
#if defined(__GNUC__)
extern "C" __attribute__((weak)) sig_atomic_t octave_interrupt_state;
#define LINEMATCH_INTERRUPT_PENDING() (&octave_interrupt_state != nullptr && octave_interrupt_state > 0)
#else
#define LINEMATCH_INTERRUPT_PENDING() false
#endif

namespace {

using lineharvest::ErrorKind;
using mexargs::CallFailure;

enum InputPosition { IN_IMAGE1, IN_IMAGE2, IN_OPTIONS };
constexpr int MIN_INPUTS = IN_OPTIONS;
enum OutputPosition { OUT_MATCHES, OUT_SEGMENTS1, OUT_SEGMENTS2, OUT_INFO, MAX_OUTPUTS };

const char* const kInputNames[] = {"image 1", "image 2"};
constexpr int kNamedInputs = 2;

struct Options {
    linematch::FrontEndSettings settings;
    bool hasTruth = false;
    cv::Matx33d truth;
    linematch::GivenSeeds given;
    // Segments1, Segments2: the caller's segments, matched instead of
    // detected ones (both or neither).
    bool hasSegments1 = false, hasSegments2 = false;
    std::vector<linematch::Segment> segments1, segments2;
};

// A uint8 H x W (grey), H x W x 3 (RGB) or H x W x 4 (RGBA) array,
// column-major, as an 8-bit grey OpenCV image; or a char row naming an
// image file, read the one way every front end reads image files.
cv::Mat imageInput(const mexargs::Inputs& in, int position, const Options& o) {
    const mxArray* a = in[position];
    if (mxIsChar(a)) {
        const std::string path = in.text(position, ErrorKind::badImage);
        try {
            return linematch::readImageFile(path, o.settings.maxPixels);
        } catch (const linematch::FrontEndError& e) {
            in.refuse(e.errorKind(), position,
                      std::string(e.what()) +
                          (e.errorKind() == ErrorKind::imageTooLarge ? " (see the option MaxPixels)" : ""));
        }
    }
    if (!mxIsUint8(a) || mxIsComplex(a) || mxIsSparse(a))
        in.refuse(ErrorKind::badImage, position, "must be a uint8 image (H x W, H x W x 3 or H x W x 4) or an image file name");
    const mwSize dims = mxGetNumberOfDimensions(a);
    const mwSize* size = mxGetDimensions(a);
    const mwSize channels = dims >= 3 ? size[2] : 1;
    if (dims > 3 || (channels != 1 && channels != 3 && channels != 4) || size[0] < 1 || size[1] < 1)
        in.refuse(ErrorKind::badImage, position, "must be H x W, H x W x 3 or H x W x 4 with H, W >= 1");
    try {
        linematch::checkImagePixels(static_cast<long long>(size[1]), static_cast<long long>(size[0]),
                                    o.settings.maxPixels, "the image");
    } catch (const linematch::FrontEndError& e) {
        in.refuse(e.errorKind(), position, std::string(e.what()) + " (see the option MaxPixels)");
    }
    if (size[0] > 2147483647u || size[1] > 2147483647u) in.refuse(ErrorKind::imageTooLarge, position, "has a side over 2^31");
    const int rows = static_cast<int>(size[0]), cols = static_cast<int>(size[1]);
    const auto* data = static_cast<const unsigned char*>(mxGetData(a));
    cv::Mat image(rows, cols, CV_8UC(static_cast<int>(channels)));
    const std::size_t plane = static_cast<std::size_t>(rows) * cols;
    for (int r = 0; r < rows; ++r) {
        unsigned char* out = image.ptr<unsigned char>(r);
        for (int c = 0; c < cols; ++c)
            for (mwSize ch = 0; ch < channels; ++ch)
                out[c * channels + ch] = data[ch * plane + static_cast<std::size_t>(c) * rows + r];
    }
    if (channels == 3) cv::cvtColor(image, image, cv::COLOR_RGB2GRAY);
    if (channels == 4) cv::cvtColor(image, image, cv::COLOR_RGBA2GRAY);
    return image;
}

[[noreturn]] void refuseOption(const std::string& message) { throw CallFailure{ErrorKind::badOptions, message}; }


struct Interrupted {};

// One numeric or logical real scalar option value.
double optionScalar(const mxArray* value, const std::string& name) {
    if ((!mxIsDouble(value) && !mxIsLogical(value)) || mxIsComplex(value) || mxIsSparse(value) ||
        mxGetNumberOfElements(value) != 1)
        refuseOption("option " + name + " must be a real scalar");
    return mxIsLogical(value) ? (*mxGetLogicals(value) ? 1.0 : 0.0) : *mxGetPr(value);
}

// Option names are matched in any case; target is in lower case.
bool sameName(const std::string& name, const char* target) {
    std::size_t k = 0;
    for (; k < name.size() && target[k]; ++k)
        if (std::tolower(static_cast<unsigned char>(name[k])) != target[k]) return false;
    return k == name.size() && !target[k];
}

// A real double K x columns matrix of finite values (K may be 0), as the
// host holds it: column-major.
const double* finiteRows(const mxArray* value, mwSize columns, const std::string& name, const std::string& shape) {
    if (!mxIsDouble(value) || mxIsComplex(value) || mxIsSparse(value) || mxGetNumberOfDimensions(value) != 2 ||
        (static_cast<mwSize>(mxGetN(value)) != columns && !mxIsEmpty(value)))
        refuseOption("option " + name + " must be a real " + shape + " double matrix");
    const double* v = mxGetPr(value);
    for (std::size_t k = 0; k < mxGetNumberOfElements(value); ++k)
        if (!std::isfinite(v[k])) refuseOption("option " + name + " has a value that is not finite");
    return v;
}

// SeedMatches: K x 2, 0-based segment indices image 1, image 2 (the
// convention of the returned matches).
std::vector<linematch::SegmentMatch> seedMatches(const mxArray* value) {
    const double* v = finiteRows(value, 2, "SeedMatches", "K x 2");
    const std::size_t rows = mxIsEmpty(value) ? 0 : mxGetM(value);
    std::vector<linematch::SegmentMatch> seeds;
    for (std::size_t k = 0; k < rows; ++k) {
        const double i = v[k], w = v[rows + k];
        if (!(i >= 0 && w >= 0 && i <= 2147483647.0 && w <= 2147483647.0 && i == std::floor(i) && w == std::floor(w)))
            refuseOption("option SeedMatches row " + std::to_string(k + 1) +
                         " is not a pair of 0-based segment indices");
        seeds.push_back({static_cast<int>(i), static_cast<int>(w)});
    }
    return seeds;
}

// PointMatches: M x 4, x1 y1 x2 y2 in pixels.
std::vector<linematch::PointCorrespondence> pointMatches(const mxArray* value) {
    const double* v = finiteRows(value, 4, "PointMatches", "M x 4");
    const std::size_t rows = mxIsEmpty(value) ? 0 : mxGetM(value);
    std::vector<linematch::PointCorrespondence> points;
    for (std::size_t k = 0; k < rows; ++k)
        points.push_back({{v[k], v[rows + k]}, {v[2 * rows + k], v[3 * rows + k]}});
    return points;
}

// Segments1, Segments2: 4 x N, one segment [x1; y1; x2; y2] per column in
// 0-based pixels: the layout of the returned S1, S2, so that an earlier
// call's S1, S2 handed back reproduce that call. Checked here (see
// firstRefusedSegment) so that a bad list is refused by its name.
std::vector<linematch::Segment> segmentColumns(const mxArray* value, const std::string& name) {
    if (!mxIsDouble(value) || mxIsComplex(value) || mxIsSparse(value) || mxGetNumberOfDimensions(value) != 2 ||
        (mxGetM(value) != 4 && !mxIsEmpty(value)))
        refuseOption("option " + name + " must be a real 4 x N double matrix, one segment [x1; y1; x2; y2] per "
                     "column (as S1, S2 are returned)");
    const double* v = mxGetPr(value);
    const std::size_t columns = mxIsEmpty(value) ? 0 : mxGetN(value);
    std::vector<linematch::Segment> segments(columns);
    for (std::size_t k = 0; k < columns; ++k) std::copy(v + 4 * k, v + 4 * k + 4, segments[k].begin());
    std::string why;
    const long refused = linematch::firstRefusedSegment(segments, why);
    if (refused >= 0) refuseOption("option " + name + " column " + std::to_string(refused + 1) + " " + why);
    return segments;
}

void readOption(Options& o, const std::string& name, const mxArray* value) {
    if (!value) refuseOption("option " + lineharvest::inputExcerpt(name) + " is empty");
    if (sameName(name, "segments1") || sameName(name, "segments2")) {
        const bool first = sameName(name, "segments1");
        (first ? o.segments1 : o.segments2) = segmentColumns(value, first ? "Segments1" : "Segments2");
        (first ? o.hasSegments1 : o.hasSegments2) = true;
        return;
    }
    if (sameName(name, "seedmatches")) {
        o.given.lines = seedMatches(value);
        return;
    }
    if (sameName(name, "pointmatches")) {
        o.given.points = pointMatches(value);
        return;
    }
    if (sameName(name, "homography")) {
        if (!mxIsDouble(value) || mxIsComplex(value) || mxIsSparse(value) || mxGetM(value) != 3 || mxGetN(value) != 3)
            refuseOption("option Homography must be a real 3x3 double matrix");
        const double* h = mxGetPr(value);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) o.truth(r, c) = h[c * 3 + r];
        linematch::checkHomography(o.truth, ErrorKind::badOptions, "option Homography");
        o.hasTruth = true;
        return;
    }
    const linematch::MatcherOption* option = linematch::findOption(name, linematch::OptionNaming::mexName);
    if (!option) refuseOption("unknown option '" + lineharvest::inputExcerpt(name) + "'");
    linematch::applyOption(o.settings, *option, optionScalar(value, option->mexName),
                           std::string("option ") + option->mexName);
}

// One list of segments alone would leave the other image's to detection,
// and SeedMatches would index a mixture: refused.
void checkSegmentPair(const Options& o) {
    if (o.hasSegments1 != o.hasSegments2)
        refuseOption(std::string("option ") + (o.hasSegments1 ? "Segments2" : "Segments1") + " is missing: give "
                     "Segments1 and Segments2 together, or neither");
}

// The options after the two images: one scalar struct whose fields are
// option names, or name-value pairs; names in any case.
Options readOptions(int nrhs, const mxArray* prhs[]) {
    Options o;
    if (nrhs == IN_OPTIONS + 1 && mxIsStruct(prhs[IN_OPTIONS])) {
        const mxArray* s = prhs[IN_OPTIONS];
        if (mxGetNumberOfElements(s) != 1) refuseOption("the options struct must be a scalar struct");
        for (int k = 0; k < mxGetNumberOfFields(s); ++k)
            readOption(o, mxGetFieldNameByNumber(s, k), mxGetFieldByNumber(s, 0, k));
        checkSegmentPair(o);
        return o;
    }
    for (int k = IN_OPTIONS; k < nrhs; k += 2) {
        const mxArray* name = prhs[k];
        if (!mxIsChar(name) || mxGetM(name) != 1)
            refuseOption("input " + std::to_string(k + 1) +
                         " must be an option name (a char row) or the options struct");
        char* text = mxArrayToString(name);
        const std::string option = text ? text : "";
        mxFree(text);
        if (k + 1 >= nrhs) refuseOption("option " + lineharvest::inputExcerpt(option) + " needs a value");
        readOption(o, option, prhs[k + 1]);
    }
    checkSegmentPair(o);
    return o;
}

mxArray* matchMatrix(const std::vector<linematch::SegmentMatch>& matches) {
    mxArray* m = mxCreateDoubleMatrix(2, matches.size(), mxREAL);
    double* out = mxGetPr(m);
    for (const auto& x : matches) {
        *out++ = x.image1Segment;
        *out++ = x.image2Segment;
    }
    return m;
}

mxArray* segmentMatrix(const std::vector<linematch::Segment>& segments) {
    mxArray* m = mxCreateDoubleMatrix(4, segments.size(), mxREAL);
    double* out = mxGetPr(m);
    for (const auto& s : segments)
        for (double v : s) *out++ = v;
    return m;
}

// A 1xN double row holding these values.
template <class Values>
mxArray* doubleRow(const Values& values) {
    mxArray* m = mxCreateDoubleMatrix(1, values.size(), mxREAL);
    double* out = mxGetPr(m);
    for (double v : values) *out++ = v;
    return m;
}
mxArray* doubleRow(std::initializer_list<double> values) { return doubleRow<std::initializer_list<double>>(values); }

// A double matrix with one row per item, filled by fill(item, row) with
// `columns` values (MATLAB's column-major layout).
template <class Items, class Fill>
mxArray* rowMatrix(const Items& items, int columns, const Fill& fill) {
    const std::size_t n = items.size();
    mxArray* m = mxCreateDoubleMatrix(n, columns, mxREAL);
    double* p = mxGetPr(m);
    std::vector<double> row(static_cast<std::size_t>(columns));
    for (std::size_t k = 0; k < n; ++k) {
        fill(items[k], row.data());
        for (int c = 0; c < columns; ++c) p[c * n + k] = row[static_cast<std::size_t>(c)];
    }
    return m;
}

mxArray* scoreRow(const linematch::Score& s) {
    return doubleRow({double(s.matches), double(s.correct), s.precision, s.recall});
}

// A 3 x 3 double matrix (the host's column-major layout).
mxArray* matrix3(const cv::Matx33d& m) {
    mxArray* out = mxCreateDoubleMatrix(3, 3, mxREAL);
    double* p = mxGetPr(out);
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) p[c * 3 + r] = m(r, c);
    return out;
}

// The models the point matches verified: planes, a 1 x P struct array
// (H, inliers, medianResidual), and fundamental, a struct whose F is empty
// unless the fundamental matrix was verified. Inliers are counts: the
// point matches they would index are not returned.
mxArray* geometryStruct(const linematch::TwoViewGeometry& g) {
    const char* planeFields[] = {"H", "inliers", "medianResidual"};
    mxArray* planes = mxCreateStructMatrix(1, g.planes.size(), 3, planeFields);
    for (std::size_t k = 0; k < g.planes.size(); ++k) {
        const linematch::PlaneModel& p = g.planes[k];
        mxSetField(planes, k, "H", matrix3(p.homography));
        mxSetField(planes, k, "inliers", mxCreateDoubleScalar(static_cast<double>(p.inliers.size())));
        mxSetField(planes, k, "medianResidual", mxCreateDoubleScalar(p.medianResidual));
    }
    const linematch::EpipolarModel& e = g.epipolar;
    const char* fundamentalFields[] = {"verified", "F", "inliers", "offPlaneInliers", "medianResidual"};
    mxArray* fundamental = mxCreateStructMatrix(1, 1, 5, fundamentalFields);
    mxSetField(fundamental, 0, "verified", mxCreateLogicalScalar(e.verified));
    mxSetField(fundamental, 0, "F", e.verified ? matrix3(e.fundamental) : mxCreateDoubleMatrix(0, 0, mxREAL));
    mxSetField(fundamental, 0, "inliers", mxCreateDoubleScalar(e.inliers));
    mxSetField(fundamental, 0, "offPlaneInliers", mxCreateDoubleScalar(e.offPlaneInliers));
    mxSetField(fundamental, 0, "medianResidual", mxCreateDoubleScalar(e.medianResidual));
    const char* fields[] = {"planes", "fundamental"};
    mxArray* geometry = mxCreateStructMatrix(1, 1, 2, fields);
    mxSetField(geometry, 0, "planes", planes);
    mxSetField(geometry, 0, "fundamental", fundamental);
    return geometry;
}

// scores: only with a ground truth.
mxArray* infoStruct(const linematch::MatchResult& r, const linematch::ResultScores* scores) {
    // status last but one: score, the last, is there only with a ground truth.
    const char* fields[] = {"descriptorMatches", "seeds", "rounds", "seconds", "confidence", "geometry", "status",
                            "score"};
    mxArray* info = mxCreateStructMatrix(1, 1, scores ? 8 : 7, fields);
    // "ok", or "thin_support": too few seeds survived the checks, no matches.
    mxSetField(info, 0, "status", mxCreateString(r.status.c_str()));
    mxSetField(info, 0, "descriptorMatches", matchMatrix(r.descriptorMatches));
    mxSetField(info, 0, "seeds", matchMatrix(r.seeds));
    // One row per round: seeds, kept seeds, pair records, transferred,
    // refused, added, next seeds.
    const auto& roundFields = linematch::roundFields();
    const int columns = static_cast<int>(roundFields.size());
    mxSetField(info, 0, "rounds", rowMatrix(r.rounds, columns, [&](const linematch::RoundSummary& s, double* row) {
                   for (const linematch::RoundField& f : roundFields) *row++ = double(s.*f.value);
               }));
    // The point stage last: the first four keep the places callers index.
    std::vector<double> seconds;
    for (const linematch::StageSeconds& stage : linematch::stageSeconds()) seconds.push_back(r.*stage.seconds);
    mxSetField(info, 0, "seconds", doubleRow(seconds));
    // K x 1, row k for column k of M.
    mxSetField(info, 0, "confidence", rowMatrix(r.confidence, 1, [](double v, double* row) { row[0] = v; }));
    mxSetField(info, 0, "geometry", geometryStruct(r.geometry));
    if (scores) {
        const char* scoreFields[] = {"trueCorrespondences", "descriptorAlone", "seeds", "rounds", "final",
                                     "averagePrecision", "confidentHalfPrecision"};
        mxArray* score = mxCreateStructMatrix(1, 1, 7, scoreFields);
        mxSetField(score, 0, "trueCorrespondences",
                   mxCreateDoubleScalar(static_cast<double>(scores->trueCorrespondences)));
        mxSetField(score, 0, "descriptorAlone", scoreRow(scores->descriptorAlone));
        mxSetField(score, 0, "seeds", scoreRow(scores->seeds));
        // One row per round: the seeds and the additions so far.
        mxSetField(score, 0, "rounds", rowMatrix(scores->rounds, 4, [](const auto& round, double* row) {
                       const linematch::Score& s = round.soFar;
                       const double values[4] = {double(s.matches), double(s.correct), s.precision, s.recall};
                       std::copy(values, values + 4, row);
                   }));
        mxSetField(score, 0, "final", scoreRow(scores->final));
        mxSetField(score, 0, "averagePrecision", mxCreateDoubleScalar(scores->averagePrecision));
        mxSetField(score, 0, "confidentHalfPrecision", mxCreateDoubleScalar(scores->confidentHalfPrecision));
        mxSetField(info, 0, "score", score);
    }
    return info;
}

void run(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    // Options first: a bad option is refused before any file is read.
    const Options options = readOptions(nrhs, prhs);
    const mexargs::Inputs in(nrhs, prhs, kInputNames, kNamedInputs);
    const cv::Mat image1 = imageInput(in, IN_IMAGE1, options);
    const cv::Mat image2 = imageInput(in, IN_IMAGE2, options);
    linematch::MatchRequest request;
    request.image1 = image1;
    request.image2 = image2;
    request.settings = options.settings.matcher;
    request.settings.progress = [](const std::string&, double) {
        if (LINEMATCH_INTERRUPT_PENDING()) throw Interrupted{};
    };
    if (options.hasSegments1) {
        request.segments1 = options.segments1;
        request.segments2 = options.segments2;
    }
    request.given = options.given;
    // Scored only where the caller asks for INFO.
    if (options.hasTruth && nlhs > OUT_INFO) request.truth = options.truth;
    linematch::MatchOutcome outcome;
    try {
        outcome = linematch::runMatch(std::move(request));
    } catch (const Interrupted&) {
        throw CallFailure{ErrorKind::interrupted, "interrupted (Ctrl-C) before the match was finished"};
    } catch (const linematch::GivenSeedOutOfRange& e) {
        // Checked by the core against the segment lists (detected ones are
        // known only now).
        refuseOption(std::string("option SeedMatches: ") + e.what() +
                     (options.hasSegments1 ? " (the indices refer to the columns of Segments1, Segments2)"
                                           : " (the indices refer to the segments detected with these images and "
                                             "options: the S1, S2 of an earlier call, or give them as Segments1, "
                                             "Segments2)"));
    } catch (const linematch::ImageTooLargeForDescriptor& e) {
        throw CallFailure{ErrorKind::imageTooLarge, e.what()};
    }
    const linematch::MatchResult& result = outcome.result;
    const linematch::ResultScores* scores = outcome.scores ? &*outcome.scores : nullptr;
    // Outputs are created only once nothing can fail any more, so that no
    // array is left behind by an error.
    plhs[OUT_MATCHES] = matchMatrix(result.matches);
    if (nlhs > OUT_SEGMENTS1) plhs[OUT_SEGMENTS1] = segmentMatrix(result.segments1);
    if (nlhs > OUT_SEGMENTS2) plhs[OUT_SEGMENTS2] = segmentMatrix(result.segments2);
    if (nlhs > OUT_INFO) plhs[OUT_INFO] = infoStruct(result, scores);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mexargs::runGateway(
        "linematch",
        [&] {
            if (nrhs < MIN_INPUTS)
                throw CallFailure{ErrorKind::nargin, "expects 2 images and options, got " + std::to_string(nrhs) + " inputs"};
            if (nlhs > MAX_OUTPUTS)
                throw CallFailure{ErrorKind::nargout, "returns at most 4 outputs, " + std::to_string(nlhs) + " requested"};
            run(nlhs, plhs, nrhs, prhs);
        },
        mexargs::describeOpenCvFailure);
}
