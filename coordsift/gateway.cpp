// MATLAB/Octave entry point of coordsift: checks the two inputs, runs the
// grouping on plain arrays and hands the requested outputs to the host.
// Every bad call becomes a host error with a coordsift:* identifier; nothing
// is read or written outside the arrays the host gave us.
#include "mex.h"

#include "point_grouping.hpp"

#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <utility>

namespace {

enum InputPosition { IN_POINT_TABLE, IN_POINT_COUNT, IN_COUNT };
enum OutputPosition { OUT_GROUP_INDEX, OUT_GROUP_COORDS, OUT_GROUP_COUNT, OUT_COUNT };

// Fixed-size buffers: building an error must not itself be able to throw.
struct CallError {
    const char* id = nullptr;
    char text[256] = {};

    explicit operator bool() const { return id != nullptr; }
};

#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
void setError(CallError& error, const char* id, const char* format, ...) {
    error.id = id;
    va_list args;
    va_start(args, format);
    std::vsnprintf(error.text, sizeof error.text, format, args);
    va_end(args);
}

bool isRealFullDouble(const mxArray* array) {
    return mxIsDouble(array) && !mxIsComplex(array) && !mxIsSparse(array);
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

// Returns the validated point count, or sets error.
std::size_t checkArguments(int nlhs, int nrhs, const mxArray* prhs[], CallError& error) {
    if (nrhs < IN_COUNT) {
        setError(error, "coordsift:notEnoughInputs",
                 "expected 2 inputs (pointTable, pointCount), got %d", nrhs);
        return 0;
    }
    if (nrhs > IN_COUNT) {
        setError(error, "coordsift:tooManyInputs",
                 "expected 2 inputs (pointTable, pointCount), got %d", nrhs);
        return 0;
    }
    if (nlhs > OUT_COUNT) {
        setError(error, "coordsift:tooManyOutputs",
                 "at most 3 outputs (groupIndex, groupCoords, groupCount), %d requested", nlhs);
        return 0;
    }
    const mxArray* table = prhs[IN_POINT_TABLE];
    const mxArray* count = prhs[IN_POINT_COUNT];
    if (!isRealFullDouble(table)) {
        setError(error, "coordsift:pointTableNotDouble",
                 "input 1 (pointTable) must be a real, non-sparse double matrix");
        return 0;
    }
    if (!isRealFullDouble(count)) {
        setError(error, "coordsift:pointCountNotDouble",
                 "input 2 (pointCount) must be a real, non-sparse double");
        return 0;
    }
    if (mxGetNumberOfElements(count) == 0) {
        setError(error, "coordsift:badCount", "input 2 (pointCount) is empty; it must hold n");
        return 0;
    }

    const double n = mxGetPr(count)[0];
    if (!std::isfinite(n) || n != std::trunc(n)) {
        setError(error, "coordsift:badCount",
                 "input 2 (pointCount) must be a whole number, got %g", n);
        return 0;
    }
    if (n < 0) {
        setError(error, "coordsift:badCount",
                 "input 2 (pointCount) must be at least 0, got %g", n);
        return 0;
    }
    // Compare as double first so that the conversion below is in range.
    const std::size_t tableElements = mxGetNumberOfElements(table);
    const std::size_t limit = maxPointCount(tableElements);
    if (n > static_cast<double>(limit) || static_cast<std::size_t>(n) > limit) {
        setError(error, "coordsift:badCount",
                 "input 2 (pointCount) is %.0f, but input 1 (pointTable) has %zu elements, "
                 "enough for at most %zu points (6*(n-1)+4 elements are needed)",
                 n, tableElements, limit);
        return 0;
    }
    return static_cast<std::size_t>(n);
}

mxArray* createRow(std::size_t columns) {
    return mxCreateDoubleMatrix(1, static_cast<mwSize>(columns), mxREAL);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    CallError error;
    const std::size_t pointCount = checkArguments(nlhs, nrhs, prhs, error);
    if (error) {
        mexErrMsgIdAndTxt(error.id, "%s", error.text);
        return;
    }

    // All three results are computed whatever was requested; an output the
    // caller did not ask for is scratch space and is destroyed afterwards.
    // A failed creation ends the call with the host's own error.
    mxArray* groupIndex = createRow(pointCount);
    mxArray* groupCoords = createRow(2 * pointCount);
    const bool wantCoords = nlhs > OUT_GROUP_COORDS;
    const bool wantCount = nlhs > OUT_GROUP_COUNT;

    // An exception reaching the host would abort Octave. The core cannot
    // throw; should that ever change, this stops the build until the call
    // is wrapped in a try block that turns the exception into a host error.
    static_assert(noexcept(coordsift::groupPoints(std::declval<const double*>(), std::size_t{},
                                                  std::declval<double*>(),
                                                  std::declval<double*>())),
                  "groupPoints must not throw into mexFunction");
    const std::size_t groupCount =
        coordsift::groupPoints(mxGetPr(prhs[IN_POINT_TABLE]), pointCount, mxGetPr(groupIndex),
                               mxGetPr(groupCoords));

    // The first output is always set, as for any MATLAB function called
    // with nlhs == 0 (its value then goes to ans).
    plhs[OUT_GROUP_INDEX] = groupIndex;
    if (wantCoords) {
        plhs[OUT_GROUP_COORDS] = groupCoords;
    } else {
        mxDestroyArray(groupCoords);
    }
    if (wantCount) {
        plhs[OUT_GROUP_COUNT] = mxCreateDoubleScalar(static_cast<double>(groupCount));
    }
}
