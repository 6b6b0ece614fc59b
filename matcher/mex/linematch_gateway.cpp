// MATLAB/Octave entry point of the line matcher: converts the two images
// (uint8 arrays as the host holds them, or image file names) and the
// options, runs the matcher and returns the correspondences, the segments
// and a summary. Every failure becomes a host error "linematch:<kind>".
// For a collection of images (linematchpairs), a pair can be matched from
// the images' features files (options Features1, Features2), and two more
// call forms serve those files: linematch('features', IMAGE, FILE, ...)
// computes one image's features into its file, linematch('featurekey',
// ...) gives the settings text the files are named after.
#include "mex_args.hpp"
#include "opencv_failure.hpp"

#include "lineharvest/errors.hpp"
#include "linematch/evaluation.hpp"
#include "linematch/feature_cache.hpp"
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
#include <opencv2/imgproc.hpp>

#include <csignal>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <memory>
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
    // Features1, Features2: the images' features files (both or neither),
    // read when sound and of these settings, otherwise written.
    // OverlapCheck: a pair whose features show no overlap is answered
    // "no_overlap" from them.
    bool hasFeatures1 = false, hasFeatures2 = false;
    std::string features1, features2;
    bool hasOverlapCheck = false, overlapCheck = false;
    // The first option given that only a pair takes: the features modes
    // refuse it by name.
    std::string pairOnly;
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

// A features file name: a char row, not empty, without a NUL (which would
// cut the name short: another file).
std::string fileName(const mxArray* value, const std::string& name) {
    const std::size_t n = mxIsChar(value) ? mxGetNumberOfElements(value) : 0;
    const mxChar* chars = n ? mxGetChars(value) : nullptr;
    if (!mxIsChar(value) || mxGetM(value) != 1 || n == 0 || std::find(chars, chars + n, mxChar(0)) != chars + n)
        refuseOption("option " + name + " must be a file name (a char row)");
    char* text = mxArrayToString(value);
    if (!text) refuseOption("option " + name + " could not be converted to a string");
    const std::string path(text);
    mxFree(text);
    return path;
}

void readOption(Options& o, const std::string& name, const mxArray* value) {
    if (!value) refuseOption("option " + lineharvest::inputExcerpt(name) + " is empty");
    const char* const pairOptions[][2] = {{"segments1", "Segments1"},     {"segments2", "Segments2"},
                                          {"seedmatches", "SeedMatches"}, {"pointmatches", "PointMatches"},
                                          {"homography", "Homography"},   {"features1", "Features1"},
                                          {"features2", "Features2"}};
    for (const auto& option : pairOptions)
        if (o.pairOnly.empty() && sameName(name, option[0])) o.pairOnly = option[1];
    if (sameName(name, "features1") || sameName(name, "features2")) {
        const bool first = sameName(name, "features1");
        (first ? o.features1 : o.features2) = fileName(value, first ? "Features1" : "Features2");
        (first ? o.hasFeatures1 : o.hasFeatures2) = true;
        return;
    }
    if (sameName(name, "overlapcheck")) {
        const double v = optionScalar(value, "OverlapCheck");
        if (v != 0 && v != 1) refuseOption("option OverlapCheck must be true or false");
        o.overlapCheck = v == 1;
        o.hasOverlapCheck = true;
        return;
    }
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

// A pair from features files: both files, detected segments (the files
// hold those), and an overlap check that answers from the features alone.
void checkFeatureFiles(const Options& o) {
    if (o.hasFeatures1 != o.hasFeatures2)
        refuseOption(std::string("option ") + (o.hasFeatures1 ? "Features2" : "Features1") + " is missing: give "
                     "Features1 and Features2 together, or neither");
    if (o.hasFeatures1 && o.hasSegments1)
        refuseOption("options Segments1, Segments2 cannot be matched from Features1, Features2: the features files "
                     "hold the segments detected in the images");
    if (o.hasOverlapCheck && !o.hasFeatures1)
        refuseOption("option OverlapCheck needs Features1 and Features2: the check looks at the images' features");
    if (o.overlapCheck && (!o.given.lines.empty() || !o.given.points.empty()))
        refuseOption("option OverlapCheck answers from the features alone: give SeedMatches or PointMatches "
                     "without it");
}

// The options from input `first` on: one scalar struct whose fields are
// option names, or name-value pairs; names in any case.
Options readOptions(int nrhs, const mxArray* prhs[], int first = IN_OPTIONS) {
    Options o;
    if (nrhs == first + 1 && mxIsStruct(prhs[first])) {
        const mxArray* s = prhs[first];
        if (mxGetNumberOfElements(s) != 1) refuseOption("the options struct must be a scalar struct");
        for (int k = 0; k < mxGetNumberOfFields(s); ++k)
            readOption(o, mxGetFieldNameByNumber(s, k), mxGetFieldByNumber(s, 0, k));
        checkSegmentPair(o);
        return o;
    }
    for (int k = first; k < nrhs; k += 2) {
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

// How a call used a features file.
struct FeatureUse {
    std::string file;
    bool computed = false;  // missing or unusable: computed from the image and written
    std::string refused;    // why an existing file was not used
};

FeatureUse featureUse(const std::string& file, const linematch::CachedFeatures& cached) {
    return {file, cached.computed, cached.refused};
}

// A 1 x N struct array (file, computed, refused), one element per file.
mxArray* featureUseStruct(const std::vector<FeatureUse>& uses) {
    const char* fields[] = {"file", "computed", "refused"};
    mxArray* s = mxCreateStructMatrix(1, uses.size(), 3, fields);
    for (std::size_t k = 0; k < uses.size(); ++k) {
        mxSetField(s, k, "file", mxCreateString(uses[k].file.c_str()));
        mxSetField(s, k, "computed", mxCreateLogicalScalar(uses[k].computed));
        mxSetField(s, k, "refused", mxCreateString(uses[k].refused.c_str()));
    }
    return s;
}

// The MEX side of the result description (result_description.hpp): names
// in camelCase (or the MEX file's own where a field gives one), numbers as
// doubles, a row record as a 1 x N row and a list of them as a matrix, one
// row per item, other records as structs and lists of them as 1 x N struct
// arrays, index pairs as 2 x K (one pair per column, as M), a list of
// values as K x 1. An absent record is left out; an absent matrix is [].
using linematch::ResultField;

std::string mexKey(const ResultField& f) { return f.mexName ? f.mexName : linematch::camelCase(f.name); }

std::vector<const ResultField*> mexFields(const ResultField& record) {
    std::vector<const ResultField*> out;
    for (const ResultField& f : record.fields)
        if ((f.shownIn & linematch::inMex) && (f.present || f.kind == ResultField::Kind::matrix)) out.push_back(&f);
    return out;
}

// A row record's numbers side by side; a row record inside it spliced in.
void rowValues(const ResultField& record, std::vector<double>& out) {
    for (const ResultField* f : mexFields(record)) {
        if (f->kind == ResultField::Kind::record) rowValues(*f, out);
        else out.push_back(f->number);
    }
}

mxArray* mexValue(const ResultField& f);

// A 1 x N struct array of these records, with the fields of `shape` (an
// empty array keeps them too).
mxArray* structArray(const std::vector<const ResultField*>& items, const ResultField& shape) {
    std::vector<std::string> keys;
    for (const ResultField* f : mexFields(shape)) keys.push_back(mexKey(*f));
    std::vector<const char*> names;
    for (const std::string& key : keys) names.push_back(key.c_str());
    mxArray* s = mxCreateStructMatrix(1, items.size(), static_cast<int>(names.size()), names.data());
    for (std::size_t k = 0; k < items.size(); ++k)
        for (const ResultField* f : mexFields(*items[k])) mxSetField(s, k, mexKey(*f).c_str(), mexValue(*f));
    return s;
}

mxArray* mexValue(const ResultField& f) {
    using Kind = ResultField::Kind;
    switch (f.kind) {
    case Kind::number:
    case Kind::count: return mxCreateDoubleScalar(f.number);
    case Kind::flag: return mxCreateLogicalScalar(f.number != 0);
    case Kind::text: return mxCreateString(f.text.c_str());
    case Kind::matrix: {
        if (!f.present) return mxCreateDoubleMatrix(0, 0, mxREAL);
        mxArray* m = mxCreateDoubleMatrix(f.rows, f.columns, mxREAL);
        double* p = mxGetPr(m);
        for (int r = 0; r < f.rows; ++r)
            for (int c = 0; c < f.columns; ++c)
                p[static_cast<std::size_t>(c) * f.rows + r] = f.values[static_cast<std::size_t>(r) * f.columns + c];
        return m;
    }
    case Kind::pairs:
    case Kind::values: {
        // Row by row (i, w) is column-major 2 x K; values are K x 1.
        mxArray* m = f.kind == Kind::pairs ? mxCreateDoubleMatrix(2, f.rows, mxREAL)
                                           : mxCreateDoubleMatrix(f.rows, 1, mxREAL);
        std::copy(f.values.begin(), f.values.end(), mxGetPr(m));
        return m;
    }
    case Kind::record: {
        if (!f.row) return structArray({&f}, f);
        std::vector<double> row;
        rowValues(f, row);
        return doubleRow(row);
    }
    case Kind::list: {
        const ResultField& shape = f.itemShape.at(0);
        if (!shape.row) {
            std::vector<const ResultField*> items;
            for (const ResultField& item : f.fields) items.push_back(&item);
            return structArray(items, shape);
        }
        std::vector<double> width;
        rowValues(shape, width);
        return rowMatrix(f.fields, static_cast<int>(width.size()), [](const ResultField& item, double* row) {
            std::vector<double> values;
            rowValues(item, values);
            std::copy(values.begin(), values.end(), row);
        });
    }
    }
    return mxCreateDoubleMatrix(0, 0, mxREAL);
}

// The result's fields in the description's order (score only with a
// ground truth), then features, only for a pair matched from features
// files.
mxArray* infoStruct(const ResultField& described, const std::vector<FeatureUse>& features) {
    mxArray* info = mexValue(described);
    if (!features.empty()) {
        mxAddField(info, "features");
        mxSetField(info, 0, "features", featureUseStruct(features));
    }
    return info;
}

// runMatch on a pair from the images' features files (matchCachedPair
// gives matchLines' result); uses says how each file was used.
linematch::MatchOutcome matchFromFeatureFiles(linematch::MatchRequest request, const Options& o,
                                              std::vector<FeatureUse>& uses) {
    linematch::FrontEndSettings frontEnd = o.settings;
    frontEnd.matcher = request.settings;
    const linematch::GivenSeeds given = request.given;
    return linematch::runMatch(std::move(request), [&](const cv::Mat& image1, const cv::Mat& image2) {
        linematch::CachedPair pair =
            linematch::matchCachedPair(image1, image2, o.features1, o.features2, frontEnd, o.overlapCheck, given);
        uses = {featureUse(o.features1, pair.features1), featureUse(o.features2, pair.features2)};
        return std::move(pair.result);
    });
}

void run(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    // Options first: a bad option is refused before any file is read.
    const Options options = readOptions(nrhs, prhs);
    checkFeatureFiles(options);
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
    std::vector<FeatureUse> features;
    try {
        if (options.hasFeatures1)
            outcome = matchFromFeatureFiles(std::move(request), options, features);
        else
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
    } catch (const linematch::FeatureFileError& e) {
        throw CallFailure{ErrorKind::outputFile, std::string("cannot store the features: ") + e.what()};
    }
    const linematch::MatchResult& result = outcome.result;
    const ResultField described = nlhs > OUT_INFO ? linematch::describeResult(outcome) : ResultField();
    // Outputs are created only once nothing can fail any more, so that no
    // array is left behind by an error.
    plhs[OUT_MATCHES] = matchMatrix(result.matches);
    if (nlhs > OUT_SEGMENTS1) plhs[OUT_SEGMENTS1] = segmentMatrix(result.segments1);
    if (nlhs > OUT_SEGMENTS2) plhs[OUT_SEGMENTS2] = segmentMatrix(result.segments2);
    if (nlhs > OUT_INFO) plhs[OUT_INFO] = infoStruct(described, features);
}

// linematch('features', IMAGE, FILE, options...): IMAGE's features in the
// features file FILE: read from it when it holds sound features of these
// settings, otherwise computed and written there (under another name,
// renamed into place). An image file is decoded only when the features
// are computed.
enum FeaturesInputPosition { FEATURES_MODE, FEATURES_IMAGE, FEATURES_FILE, FEATURES_OPTIONS };
const char* const kFeaturesInputNames[] = {"mode", "image", "features file"};

void refusePairOptions(const Options& o, const char* mode) {
    if (!o.pairOnly.empty())
        refuseOption("option " + o.pairOnly + " is for a pair, not for linematch('" + mode + "', ...)");
}

void runFeatures(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < FEATURES_OPTIONS)
        throw CallFailure{ErrorKind::nargin, "linematch('features', IMAGE, FILE, ...) expects an image and a features file, got " +
                                      std::to_string(nrhs - 1) + " inputs after 'features'"};
    if (nlhs > 1) throw CallFailure{ErrorKind::nargout, "linematch('features', ...) returns 1 output, " + std::to_string(nlhs) +
                                                 " requested"};
    const Options options = readOptions(nrhs, prhs, FEATURES_OPTIONS);
    refusePairOptions(options, "features");
    const mexargs::Inputs in(nrhs, prhs, kFeaturesInputNames, 3);
    if (!mxIsChar(in[FEATURES_FILE]) || mxIsEmpty(in[FEATURES_FILE]))
        in.refuse(ErrorKind::badOutputFile, FEATURES_FILE, "must be a file name (a char row)");
    const std::string file = in.text(FEATURES_FILE, ErrorKind::badOutputFile);
    const linematch::FeatureParts parts = linematch::collectionParts(options.settings.matcher, options.overlapCheck);
    linematch::CachedFeatures cached;
    try {
        if (mxIsChar(in[FEATURES_IMAGE])) {
            const std::string image = in.text(FEATURES_IMAGE, ErrorKind::badImage);
            try {
                // A missing or unreadable image is an error even where its
                // features are found.
                linematch::requireReadableFile(image, ErrorKind::imageFile, "cannot read image");
                cached = linematch::cachedFeatures(image, file, options.settings, parts);
            } catch (const linematch::FrontEndError& e) {
                in.refuse(e.errorKind(), FEATURES_IMAGE,
                          std::string(e.what()) +
                              (e.errorKind() == ErrorKind::imageTooLarge ? " (see the option MaxPixels)" : ""));
            }
        } else {
            cached = linematch::cachedFeatures(std::string(), file, options.settings, parts,
                                               imageInput(in, FEATURES_IMAGE, options));
        }
    } catch (const linematch::FeatureFileError& e) {
        throw CallFailure{ErrorKind::outputFile, std::string("cannot store the features: ") + e.what()};
    }
    const linematch::ImageFeatures& f = cached.features;
    const char* fields[] = {"segments", "size", "computed", "refused", "settings"};
    mxArray* info = mxCreateStructMatrix(1, 1, 5, fields);
    mxSetField(info, 0, "segments", segmentMatrix(f.segments));
    mxSetField(info, 0, "size", doubleRow({double(f.size.width), double(f.size.height)}));
    mxSetField(info, 0, "computed", mxCreateLogicalScalar(cached.computed));
    mxSetField(info, 0, "refused", mxCreateString(cached.refused.c_str()));
    mxSetField(info, 0, "settings", mxCreateString(f.settingsKey.c_str()));
    plhs[0] = info;
}

// linematch('featurekey', options...): the text of the settings that
// change an image's features; features files are named after its hash.
void runFeatureKey(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nlhs > 1) throw CallFailure{ErrorKind::nargout, "linematch('featurekey', ...) returns 1 output, " +
                                                 std::to_string(nlhs) + " requested"};
    const Options options = readOptions(nrhs, prhs, 1);
    refusePairOptions(options, "featurekey");
    plhs[0] = mxCreateString(linematch::featureSettingsKey(options.settings.matcher).c_str());
}

// The call form a first input names: "features", "featurekey", or "" for
// a pair (an image file of such a name is given as './features').
std::string callMode(int nrhs, const mxArray* prhs[]) {
    if (nrhs < 1 || !mxIsChar(prhs[0]) || mxGetM(prhs[0]) != 1) return "";
    const std::size_t n = mxGetNumberOfElements(prhs[0]);
    if (n != 8 && n != 10) return "";
    char* text = mxArrayToString(prhs[0]);
    const std::string mode = text ? text : "";
    mxFree(text);
    return mode == "features" || mode == "featurekey" ? mode : "";
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mexargs::runGateway(
        "linematch",
        [&] {
            const std::string mode = callMode(nrhs, prhs);
            if (mode == "features") return runFeatures(nlhs, plhs, nrhs, prhs);
            if (mode == "featurekey") return runFeatureKey(nlhs, plhs, nrhs, prhs);
            if (nrhs < MIN_INPUTS)
                throw CallFailure{ErrorKind::nargin, "expects 2 images and options, got " + std::to_string(nrhs) + " inputs"};
            if (nlhs > MAX_OUTPUTS)
                throw CallFailure{ErrorKind::nargout, "returns at most 4 outputs, " + std::to_string(nlhs) + " requested"};
            run(nlhs, plhs, nrhs, prhs);
        },
        mexargs::describeOpenCvFailure);
}
