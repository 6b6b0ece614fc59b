// MATLAB/Octave entry point of the line matcher: converts the two images
// (uint8 arrays as the host holds them, or image file names) and the
// options, runs the matcher and returns the correspondences, the segments
// and a summary. Every failure becomes a host error "linematch:<kind>".
#include "mex_args.hpp"

#include "linematch/evaluation.hpp"
#include "linematch/matcher.hpp"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace {

using mexargs::CallError;

enum InputPosition { IN_IMAGE1, IN_IMAGE2, IN_OPTIONS, MAX_INPUTS };
constexpr int MIN_INPUTS = IN_OPTIONS;
enum OutputPosition { OUT_MATCHES, OUT_SEGMENTS1, OUT_SEGMENTS2, OUT_INFO, MAX_OUTPUTS };

const char* const kInputNames[MAX_INPUTS] = {"image 1", "image 2", "options"};

// A uint8 H x W (grey) or H x W x 3 (RGB) array, column-major, as an 8-bit
// OpenCV image; or a char row naming an image file.
cv::Mat imageInput(const mexargs::Inputs& in, int position) {
    const mxArray* a = in[position];
    if (mxIsChar(a)) {
        const std::string path = in.text(position, "badImage");
        // Checked first, so that OpenCV does not log its own warning; only a
        // regular file is opened at all (a FIFO without a writer would block
        // the host for good).
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error) || !std::ifstream(path).good())
            in.refuse("imageFile", position, "cannot open the image file '" + path + "'");
        const cv::Mat image = cv::imread(path, cv::IMREAD_GRAYSCALE);
        if (image.empty()) in.refuse("imageFile", position, "cannot read the image file '" + path + "'");
        return image;
    }
    if (!mxIsUint8(a) || mxIsComplex(a) || mxIsSparse(a))
        in.refuse("badImage", position, "must be a uint8 image (H x W or H x W x 3) or an image file name");
    const mwSize dims = mxGetNumberOfDimensions(a);
    const mwSize* size = mxGetDimensions(a);
    const mwSize channels = dims >= 3 ? size[2] : 1;
    if (dims > 3 || (channels != 1 && channels != 3) || size[0] < 1 || size[1] < 1)
        in.refuse("badImage", position, "must be H x W or H x W x 3 with H, W >= 1");
    if (size[0] > 100000 || size[1] > 100000) in.refuse("badImage", position, "is larger than 100000 pixels a side");
    const int rows = static_cast<int>(size[0]), cols = static_cast<int>(size[1]);
    const auto* data = static_cast<const unsigned char*>(mxGetData(a));
    cv::Mat image(rows, cols, channels == 3 ? CV_8UC3 : CV_8UC1);
    const std::size_t plane = static_cast<std::size_t>(rows) * cols;
    for (int r = 0; r < rows; ++r) {
        unsigned char* out = image.ptr<unsigned char>(r);
        for (int c = 0; c < cols; ++c)
            for (mwSize ch = 0; ch < channels; ++ch)
                out[c * channels + ch] = data[ch * plane + static_cast<std::size_t>(c) * rows + r];
    }
    if (channels == 3) cv::cvtColor(image, image, cv::COLOR_RGB2GRAY);
    return image;
}

// One numeric or logical scalar field of the options struct.
double optionScalar(const mexargs::Inputs& in, const mxArray* field, const char* name) {
    if ((!mxIsDouble(field) && !mxIsLogical(field)) || mxIsComplex(field) || mxGetNumberOfElements(field) != 1)
        in.refuse("badOptions", IN_OPTIONS, std::string("field ") + name + " must be a real scalar");
    const double v = mxIsLogical(field) ? (*mxGetLogicals(field) ? 1.0 : 0.0) : *mxGetPr(field);
    if (!std::isfinite(v)) in.refuse("badOptions", IN_OPTIONS, std::string("field ") + name + " must be finite");
    return v;
}

struct Options {
    linematch::MatcherSettings settings;
    bool hasTruth = false;
    cv::Matx33d truth;
};

Options readOptions(const mexargs::Inputs& in) {
    Options o;
    if (!in.has(IN_OPTIONS)) return o;
    const mxArray* s = in[IN_OPTIONS];
    if (!mxIsStruct(s) || mxGetNumberOfElements(s) != 1)
        in.refuse("badOptions", IN_OPTIONS, "must be a scalar struct");
    auto& st = o.settings;
    for (int k = 0; k < mxGetNumberOfFields(s); ++k) {
        const std::string name = mxGetFieldNameByNumber(s, k);
        const mxArray* f = mxGetFieldByNumber(s, 0, k);
        if (!f) in.refuse("badOptions", IN_OPTIONS, "field " + name + " is empty");
        if (name == "Homography") {
            if (!mxIsDouble(f) || mxIsComplex(f) || mxIsSparse(f) || mxGetM(f) != 3 || mxGetN(f) != 3)
                in.refuse("badOptions", IN_OPTIONS, "field Homography must be a real 3x3 double matrix");
            const double* h = mxGetPr(f);
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c) {
                    o.truth(r, c) = h[c * 3 + r];
                    if (!std::isfinite(o.truth(r, c)))
                        in.refuse("badOptions", IN_OPTIONS, "field Homography must be finite");
                }
            o.hasTruth = true;
            continue;
        }
        const double v = optionScalar(in, f, name.c_str());
        const auto whole = [&](double lo, double hi) {
            if (!(v >= lo && v <= hi) || v != std::floor(v))
                in.refuse("badOptions", IN_OPTIONS,
                          "field " + name + " must be a whole number in " + std::to_string(static_cast<int>(lo)) +
                              ".." + std::to_string(static_cast<int>(hi)));
            return static_cast<int>(v);
        };
        if (name == "Rounds") st.maxRounds = whole(1, 100);
        else if (name == "Threads") st.threads = st.transfer.threads = whole(1, 256);
        else if (name == "Ratio") {
            if (!(v > 0 && v <= 1)) in.refuse("badOptions", IN_OPTIONS, "field Ratio must lie in (0, 1]");
            st.descriptor.ratio = v;
        } else if (name == "MinLength") {
            if (!(v >= 1)) in.refuse("badOptions", IN_OPTIONS, "field MinLength must be at least 1");
            st.minSegmentLength = v;
        } else if (name == "Mutual") st.descriptor.mutual = v != 0;
        else if (name == "SeedChecks")
            st.checks.neighbourSupport = st.checks.pairAgreement = st.checks.lineRefit = v != 0;
        else if (name == "Verify") st.verification.enabled = v != 0;
        else if (name == "OneLine") st.singlePartnerLine = v != 0;
        else in.refuse("badOptions", IN_OPTIONS, "unknown field " + name);
    }
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
mxArray* doubleRow(std::initializer_list<double> values) {
    mxArray* m = mxCreateDoubleMatrix(1, values.size(), mxREAL);
    double* out = mxGetPr(m);
    for (double v : values) *out++ = v;
    return m;
}

mxArray* scoreRow(const linematch::Score& s) {
    return doubleRow({double(s.matches), double(s.correct), s.precision, s.recall});
}

mxArray* infoStruct(const linematch::MatchResult& r, const Options& o, const linematch::GroundTruth* truth) {
    const char* fields[] = {"descriptorMatches", "seeds", "rounds", "seconds", "score"};
    mxArray* info = mxCreateStructMatrix(1, 1, o.hasTruth ? 5 : 4, fields);
    mxSetField(info, 0, "descriptorMatches", matchMatrix(r.descriptorMatches));
    mxSetField(info, 0, "seeds", matchMatrix(r.seeds));
    // One row per round: seeds, kept seeds, pair records, transferred,
    // refused, added, next seeds.
    mxArray* rounds = mxCreateDoubleMatrix(r.rounds.size(), 7, mxREAL);
    double* p = mxGetPr(rounds);
    const std::size_t n = r.rounds.size();
    for (std::size_t k = 0; k < n; ++k) {
        const auto& s = r.rounds[k];
        const double row[7] = {double(s.seeds), double(s.keptSeeds), double(s.records), double(s.transferred),
                               double(s.rejected), double(s.added), double(s.newSeeds)};
        for (int c = 0; c < 7; ++c) p[c * n + k] = row[c];
    }
    mxSetField(info, 0, "rounds", rounds);
    mxSetField(info, 0, "seconds",
               doubleRow({r.secondsSegments, r.secondsDescriptors, r.secondsChecks, r.secondsTransfer}));
    if (truth) {
        const char* scoreFields[] = {"trueCorrespondences", "descriptorAlone", "seeds", "final"};
        mxArray* score = mxCreateStructMatrix(1, 1, 4, scoreFields);
        mxSetField(score, 0, "trueCorrespondences", mxCreateDoubleScalar(static_cast<double>(truth->size())));
        mxSetField(score, 0, "descriptorAlone", scoreRow(truth->score(r.descriptorMatches)));
        mxSetField(score, 0, "seeds", scoreRow(truth->score(r.seeds)));
        mxSetField(score, 0, "final", scoreRow(truth->score(r.matches)));
        mxSetField(info, 0, "score", score);
    }
    return info;
}

void run(int nlhs, mxArray* plhs[], const mexargs::Inputs& in) {
    const Options options = readOptions(in);
    const cv::Mat image1 = imageInput(in, IN_IMAGE1);
    const cv::Mat image2 = imageInput(in, IN_IMAGE2);
    const linematch::MatchResult result = linematch::matchLines(image1, image2, options.settings);
    std::unique_ptr<linematch::GroundTruth> truth;
    if (options.hasTruth)
        truth = std::make_unique<linematch::GroundTruth>(result.segments1, result.segments2, options.truth);
    // Outputs are created only once nothing can fail any more, so that no
    // array is left behind by an error.
    plhs[OUT_MATCHES] = matchMatrix(result.matches);
    if (nlhs > OUT_SEGMENTS1) plhs[OUT_SEGMENTS1] = segmentMatrix(result.segments1);
    if (nlhs > OUT_SEGMENTS2) plhs[OUT_SEGMENTS2] = segmentMatrix(result.segments2);
    if (nlhs > OUT_INFO) plhs[OUT_INFO] = infoStruct(result, options, truth.get());
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mexargs::runGateway("linematch", [&] {
        if (nrhs < MIN_INPUTS || nrhs > MAX_INPUTS)
            throw CallError{"nargin", "expects 2 inputs (3 with options), got " + std::to_string(nrhs)};
        if (nlhs > MAX_OUTPUTS)
            throw CallError{"nargout", "returns at most 4 outputs, " + std::to_string(nlhs) + " requested"};
        run(nlhs, plhs, mexargs::Inputs(nrhs, prhs, kInputNames, MAX_INPUTS));
    });
}
