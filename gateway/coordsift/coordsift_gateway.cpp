// MATLAB/Octave entry point of coordsift: checks the two inputs, runs the
// grouping on plain arrays and hands the requested outputs to the host.
// Every bad call becomes a host error with a coordsift:* identifier; nothing
// is read or written outside the arrays the host gave us.
#include "mex.h"

#include "coordsift/point_grouping.hpp"
#include "mex_args.hpp"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>

namespace {

using lineharvest::ErrorKind;

enum InputPosition { IN_POINT_TABLE, IN_POINT_COUNT, IN_COUNT };
enum OutputPosition { OUT_GROUP_INDEX, OUT_GROUP_COORDS, OUT_GROUP_COUNT, OUT_COUNT };

const char* const kInputNames[IN_COUNT] = {"pointTable", "pointCount"};

bool isRealFullDouble(const mxArray* array) {
    return mxIsDouble(array) && !mxIsComplex(array) && !mxIsSparse(array);
}

std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// Largest point count whose records fit in tableElements doubles. The last
// record only needs to reach its y, so it may be two elements short.
std::size_t maxPointCount(std::size_t tableElements) {
    constexpr std::size_t kLastRecordLength = coordsift::kRecordY + 1;
    if (tableElements < kLastRecordLength) {
        return 0;
    }
    return (tableElements - kLastRecordLength) / coordsift::kRecordLength + 1;
}

void checkCounts(int nlhs, int nrhs) {
    if (nrhs < IN_COUNT) {
        throw mexargs::CallFailure{ErrorKind::notEnoughInputs,
                                   "expected 2 inputs (pointTable, pointCount), got " + std::to_string(nrhs)};
    }
    if (nrhs > IN_COUNT) {
        throw mexargs::CallFailure{ErrorKind::tooManyInputs,
                                   "expected 2 inputs (pointTable, pointCount), got " + std::to_string(nrhs)};
    }
    if (nlhs > OUT_COUNT) {
        throw mexargs::CallFailure{ErrorKind::tooManyOutputs, "at most 3 outputs (groupIndex, groupCoords, groupCount), " +
                                                                  std::to_string(nlhs) + " requested"};
    }
}

// The validated point count n; the table holds at least 6*(n-1)+4 elements.
std::size_t checkedPointCount(const mexargs::Inputs& in) {
    if (!isRealFullDouble(in[IN_POINT_TABLE])) {
        in.refuse(ErrorKind::pointTableNotDouble, IN_POINT_TABLE, "must be a real, non-sparse double matrix");
    }
    const mxArray* count = in[IN_POINT_COUNT];
    if (!isRealFullDouble(count)) {
        in.refuse(ErrorKind::pointCountNotDouble, IN_POINT_COUNT, "must be a real, non-sparse double");
    }
    const std::size_t elements = mxGetNumberOfElements(count);
    if (elements == 0) {
        in.refuse(ErrorKind::badCount, IN_POINT_COUNT, "is empty; it must hold n");
    }
    if (elements > 1) {
        in.refuse(ErrorKind::badScalar, IN_POINT_COUNT,
                  "must be a scalar, got " + std::to_string(elements) + " elements");
    }
    const double n = mxGetPr(count)[0];
    if (!std::isfinite(n) || n != std::trunc(n)) {
        in.refuse(ErrorKind::badCount, IN_POINT_COUNT, "must be a whole number, got " + number(n));
    }
    if (n < 0) {
        in.refuse(ErrorKind::badCount, IN_POINT_COUNT, "must be at least 0, got " + number(n));
    }
    // Compare as double first so that the conversion below is in range.
    const std::size_t tableElements = mxGetNumberOfElements(in[IN_POINT_TABLE]);
    const std::size_t limit = maxPointCount(tableElements);
    if (n > static_cast<double>(limit) || static_cast<std::size_t>(n) > limit) {
        in.refuse(ErrorKind::badCount, IN_POINT_COUNT,
                  "is " + number(n) + ", but input 1 (pointTable) has " + std::to_string(tableElements) +
                      " elements, enough for at most " + std::to_string(limit) +
                      " points (6*(n-1)+4 elements are needed)");
    }
    return static_cast<std::size_t>(n);
}

mxArray* createRow(std::size_t columns) {
    return mxCreateDoubleMatrix(1, static_cast<mwSize>(columns), mxREAL);
}

// Destroys an array unless it has been handed to the host.
struct OwnedArray {
    mxArray* array = nullptr;
    ~OwnedArray() {
        if (array != nullptr) mxDestroyArray(array);
    }
    mxArray* release() {
        mxArray* a = array;
        array = nullptr;
        return a;
    }
};

void run(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    checkCounts(nlhs, nrhs);
    const mexargs::Inputs in(nrhs, prhs, kInputNames, IN_COUNT);
    const std::size_t pointCount = checkedPointCount(in);

    // All three results are computed whatever was requested; an output the
    // caller did not ask for is scratch space and is destroyed afterwards.
    OwnedArray groupIndex{createRow(pointCount)};
    OwnedArray groupCoords{createRow(2 * pointCount)};
    const std::size_t groupCount =
        coordsift::groupPoints(coordsift::PointView::table(mxGetPr(prhs[IN_POINT_TABLE]), pointCount),
                               mxGetPr(groupIndex.array), mxGetPr(groupCoords.array));

    OwnedArray count{nlhs > OUT_GROUP_COUNT ? mxCreateDoubleScalar(static_cast<double>(groupCount)) : nullptr};

    // The first output is always set, as for any MATLAB function called
    // with nlhs == 0 (its value then goes to ans).
    plhs[OUT_GROUP_INDEX] = groupIndex.release();
    if (nlhs > OUT_GROUP_COORDS) plhs[OUT_GROUP_COORDS] = groupCoords.release();
    if (nlhs > OUT_GROUP_COUNT) plhs[OUT_GROUP_COUNT] = count.release();
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mexargs::runGateway("coordsift", [&] { run(nlhs, plhs, nrhs, prhs); });
}
