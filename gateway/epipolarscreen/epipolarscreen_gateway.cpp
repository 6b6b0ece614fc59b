// MATLAB/Octave entry point of the epipolar screen:
//   E = epipolarscreen(S1, S2, F, RATIO)
//   E = epipolarscreen(S1, S2, F, RATIO, PATH)
// checks the inputs, runs the screen of the lineharvest core and returns the
// N1xN2 0/1 matrix; with a non-empty PATH it also writes the matrix as
// Ecandidates.txt-format text there. Errors are "epipolarscreen:<kind>".
#include "mex.h"

#include "lineharvest/epipolar.hpp"
#include "mex_args.hpp"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using lineharvest::ErrorKind;

enum InputPosition { IN_SEGMENTS1, IN_SEGMENTS2, IN_MATRIX, IN_RATIO, IN_PATH, IN_MAX };
constexpr int kRequiredInputs = IN_PATH;

const char* const kInputNames[IN_MAX] = {"S1", "S2", "F", "RATIO", "PATH"};

// A 4xN real double matrix of segments (an empty array of any shape holds
// none): "badSegments" otherwise.
lineharvest::SegmentArray segments(const mexargs::Inputs& in, int position) {
    const double* data = in.realDoubles(position);
    const mxArray* a = in[position];
    if (mxIsEmpty(a)) return {data, 0};
    if (mxGetNumberOfDimensions(a) != 2 || mxGetM(a) != 4) {
        in.refuse(ErrorKind::badSegments, position, "must be a 4xN matrix, one segment [x1; y1; x2; y2] per column");
    }
    if (mxGetN(a) > static_cast<std::size_t>(INT_MAX)) {
        in.refuse(ErrorKind::badSegments, position, "holds more segments than the screen can count");
    }
    return {data, static_cast<int>(mxGetN(a))};
}

// MATLAB holds F column-major; the core takes it row-major, so that
// F * [x; y; 1] is the epipolar line exactly as the user wrote it.
void rowMajorMatrix(const mexargs::Inputs& in, double* matrix) {
    const double* data = in.realDoubles(IN_MATRIX);
    const mxArray* a = in[IN_MATRIX];
    if (mxGetNumberOfDimensions(a) != 2 || mxGetM(a) != 3 || mxGetN(a) != 3) {
        in.refuse(ErrorKind::badMatrix, IN_MATRIX, "must be a 3x3 matrix");
    }
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) matrix[3 * r + c] = data[r + 3 * c];
    }
}

// '' or [] (or no fifth input): no file.
std::string outputPath(const mexargs::Inputs& in) {
    if (!in.has(IN_PATH) || mxIsEmpty(in[IN_PATH])) return std::string();
    return in.text(IN_PATH, ErrorKind::badPath);
}

void run(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < kRequiredInputs || nrhs > IN_MAX) {
        throw mexargs::CallFailure{ErrorKind::nargin, "expected 4 or 5 inputs (S1, S2, F, RATIO[, PATH]), got " +
                                                          std::to_string(nrhs)};
    }
    if (nlhs > 1) {
        throw mexargs::CallFailure{ErrorKind::nargout, "at most 1 output, " + std::to_string(nlhs) + " requested"};
    }
    const mexargs::Inputs in(nrhs, prhs, kInputNames, IN_MAX);
    const lineharvest::SegmentArray segments1 = segments(in, IN_SEGMENTS1);
    const lineharvest::SegmentArray segments2 = segments(in, IN_SEGMENTS2);
    double matrix[9];
    rowMajorMatrix(in, matrix);
    const double ratio = in.threshold(IN_RATIO);
    const std::string path = outputPath(in);

    const std::vector<std::uint8_t> candidates =
        lineharvest::epipolarCandidates(segments1, segments2, matrix, ratio);
    if (!path.empty()) {
        lineharvest::writeEpipolarCandidates(path, candidates, segments1.count, segments2.count);
    }

    const std::size_t n1 = static_cast<std::size_t>(segments1.count);
    const std::size_t n2 = static_cast<std::size_t>(segments2.count);
    mxArray* result = mxCreateDoubleMatrix(static_cast<mwSize>(n1), static_cast<mwSize>(n2), mxREAL);
    double* out = mxGetPr(result);
    // Row-major in the core, column-major in the host: E(i, w) for segment
    // i of image 1 and segment w of image 2.
    for (std::size_t w = 0; w < n2; ++w) {
        for (std::size_t i = 0; i < n1; ++i) out[i + w * n1] = candidates[i * n2 + w];
    }
    plhs[0] = result;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mexargs::runGateway("epipolarscreen", [&] { run(nlhs, plhs, nrhs, prhs); });
}
