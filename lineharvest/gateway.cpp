// MATLAB/Octave entry point of lineharvest: checks and converts the 18
// inputs, runs the candidate transfer, and turns every failure into a host
// error instead of letting it cross into the host.
#include "mex.h"

#include "line_matcher.hpp"

#include <cmath>
#include <string>
#include <vector>

namespace {

// Input positions, 0-based as in prhs.
enum InputPosition {
    IN_SEGMENTS1,
    IN_SEGMENTS2,
    IN_PAIR_RECORDS,
    IN_CAMERA_MATRIX,
    IN_NUM_SEGMENTS1,
    IN_NUM_SEGMENTS2,
    IN_NUM_PAIR_RECORDS,
    IN_MAX_LINE_DISTANCE,
    IN_MAX_ANGLE_DIFFERENCE,
    IN_MIN_OVERLAP_RATIO,
    IN_PAIR_INDEX_TABLE,
    IN_PAIRS_PER_SEGMENT,
    IN_GRID_FILE,
    IN_CELL_SIZE,
    IN_Y_BEGIN,
    IN_Y_END,
    IN_X_BEGIN,
    IN_X_END,
    NUM_INPUTS
};

enum OutputPosition { OUT_CORRESPONDENCES, MAX_OUTPUTS };

const char* const kInputNames[NUM_INPUTS] = {
    "image-1 segments",    "image-2 segments",     "pair records",      "camera matrix",
    "number of image-1 segments", "number of image-2 segments", "number of pair records",
    "distance threshold",  "angle threshold",      "overlap threshold", "pair index table",
    "pairs per segment",   "grid cell file path",  "cell size",         "y window begin",
    "y window end",        "x window begin",       "x window end"};

// A refused call, reported as the host error "lineharvest:<kind>".
struct CallError {
    std::string kind;
    std::string message;
};

std::string describe(int position) {
    return "input " + std::to_string(position + 1) + " (" + kInputNames[position] + ")";
}

[[noreturn]] void refuse(const std::string& kind, int position, const std::string& what) {
    throw CallError{kind, describe(position) + " " + what};
}

void requireRealDouble(const mxArray* prhs[], int position) {
    const mxArray* a = prhs[position];
    if (!mxIsDouble(a) || mxIsComplex(a) || mxIsSparse(a)) refuse("notRealDouble", position, "must be a real, full double array");
}

double firstElement(const mxArray* prhs[], int position) {
    if (mxGetNumberOfElements(prhs[position]) < 1) refuse("emptyScalar", position, "must not be empty");
    return mxGetPr(prhs[position])[0];
}

double readDouble(const mxArray* prhs[], int position) {
    requireRealDouble(prhs, position);
    return firstElement(prhs, position);
}

// An integer input: finite, truncated toward zero, within the int range.
int toInt(double value, int position) {
    if (!lineharvest::truncatesToInt(value))
        refuse("badScalar", position, "must be finite and fit in a 32-bit integer, got " + std::to_string(value));
    return static_cast<int>(value);
}

int readInt(const mxArray* prhs[], int position) { return toInt(readDouble(prhs, position), position); }

// A count is refused when negative even where truncation would make it 0.
int readCount(const mxArray* prhs[], int position) {
    const double value = readDouble(prhs, position);
    if (value < 0) refuse("badCount", position, "must not be negative, got " + std::to_string(value));
    return toInt(value, position);
}

// The array must hold at least perItem * items doubles.
void requireElements(const mxArray* prhs[], int position, long long perItem, int items, int countPosition) {
    const long long needed = perItem * items;
    const long long held = static_cast<long long>(mxGetNumberOfElements(prhs[position]));
    if (held < needed)
        refuse("tooSmall", position,
               "holds " + std::to_string(held) + " elements, but " + describe(countPosition) + " = " +
                   std::to_string(items) + " needs " + std::to_string(needed));
}

std::string gridTokenMessage(const std::string& path, int line, const std::string& token, const char* what) {
    return "grid cell file '" + path + "', line " + std::to_string(line + 1) + ", token '" + token + "': " + what;
}

const double* dataOf(const mxArray* prhs[], int position) { return mxGetPr(prhs[position]); }

struct Call {
    int numOutputs;
    mxArray** plhs;
    const mxArray** prhs;
};

void run(const Call& call) {
    const mxArray** prhs = call.prhs;
    for (int position : {IN_SEGMENTS1, IN_SEGMENTS2, IN_PAIR_RECORDS, IN_CAMERA_MATRIX, IN_PAIR_INDEX_TABLE})
        requireRealDouble(prhs, position);
    if (mxGetM(prhs[IN_CAMERA_MATRIX]) != 3 || mxGetN(prhs[IN_CAMERA_MATRIX]) != 3)
        refuse("badCameraMatrix", IN_CAMERA_MATRIX, "must be a 3x3 matrix");
    if (!mxIsChar(prhs[IN_GRID_FILE])) refuse("badGridFile", IN_GRID_FILE, "must be a char array");

    const int numSegments1 = readCount(prhs, IN_NUM_SEGMENTS1);
    const int numSegments2 = readCount(prhs, IN_NUM_SEGMENTS2);
    const int numPairRecords = readCount(prhs, IN_NUM_PAIR_RECORDS);
    const double maxLineDistance = readDouble(prhs, IN_MAX_LINE_DISTANCE);
    const double maxAngleDifference = readDouble(prhs, IN_MAX_ANGLE_DIFFERENCE);
    const double minOverlapRatio = readDouble(prhs, IN_MIN_OVERLAP_RATIO);
    const int pairsPerSegment = readCount(prhs, IN_PAIRS_PER_SEGMENT);
    const int cellSize = readInt(prhs, IN_CELL_SIZE);
    const int yBegin = readInt(prhs, IN_Y_BEGIN);
    const int yEnd = readInt(prhs, IN_Y_END);
    const int xBegin = readInt(prhs, IN_X_BEGIN);
    const int xEnd = readInt(prhs, IN_X_END);
    if (cellSize < 1) refuse("badCellSize", IN_CELL_SIZE, "must be at least 1, got " + std::to_string(cellSize));

    requireElements(prhs, IN_SEGMENTS1, 4, numSegments1, IN_NUM_SEGMENTS1);
    requireElements(prhs, IN_SEGMENTS2, 4, numSegments2, IN_NUM_SEGMENTS2);
    requireElements(prhs, IN_PAIR_RECORDS, 14, numPairRecords, IN_NUM_PAIR_RECORDS);
    requireElements(prhs, IN_PAIR_INDEX_TABLE, pairsPerSegment, numSegments1, IN_NUM_SEGMENTS1);

    char* rawPath = mxArrayToString(prhs[IN_GRID_FILE]);
    if (rawPath == nullptr) refuse("badGridFile", IN_GRID_FILE, "could not be converted to a string");
    const std::string gridFilePath(rawPath);
    mxFree(rawPath);

    // MATLAB stores the 3x3 matrix column by column; the header reads it row
    // by row, so it holds the transpose. The transfer never consults it.
    const cv::Mat cameraMatrix(3, 3, CV_64F, const_cast<double*>(dataOf(prhs, IN_CAMERA_MATRIX)));

    lineharvest::LineMatcher matcher;
    matcher.setInputs(dataOf(prhs, IN_SEGMENTS1), dataOf(prhs, IN_SEGMENTS2), dataOf(prhs, IN_PAIR_RECORDS),
                      cameraMatrix, dataOf(prhs, IN_PAIR_INDEX_TABLE), pairsPerSegment);
    matcher.setParameters(maxLineDistance, maxAngleDifference, minOverlapRatio, numSegments1, numSegments2,
                          numPairRecords);
    matcher.setGrid(gridFilePath, cellSize, yBegin, yEnd, xBegin, xEnd);

    std::vector<lineharvest::Correspondence> added;
    try {
        matcher.addCandidates(call.numOutputs > 0 ? &added : nullptr);
    } catch (const lineharvest::GridTokenInvalid& e) {
        throw CallError{"gridToken", gridTokenMessage(gridFilePath, e.line, e.token, e.what())};
    } catch (const lineharvest::GridTokenOutOfRange& e) {
        throw CallError{"gridToken", gridTokenMessage(gridFilePath, e.line, e.token, e.what())};
    }

    if (call.numOutputs > 0) {
        mxArray* result = mxCreateDoubleMatrix(3, added.size(), mxREAL);
        double* out = mxGetPr(result);
        for (const lineharvest::Correspondence& c : added) {
            *out++ = c.image1Segment;
            *out++ = c.image2Segment;
            *out++ = c.pairRecord;
        }
        call.plhs[OUT_CORRESPONDENCES] = result;
    }
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    std::string errorId;
    std::string errorMessage;
    try {
        if (nrhs < NUM_INPUTS)
            throw CallError{"nargin", "expects " + std::to_string(NUM_INPUTS) + " inputs, got " + std::to_string(nrhs)};
        if (nlhs > MAX_OUTPUTS)
            throw CallError{"nargout", "returns at most one output (the 3xK matrix of added correspondences), " +
                                           std::to_string(nlhs) + " requested"};
        run(Call{nlhs, plhs, prhs});
    } catch (const CallError& e) {
        errorId = "lineharvest:" + e.kind;
        errorMessage = e.message;
    } catch (const lineharvest::HarvestError& e) {
        errorId = "lineharvest:" + e.kind();
        errorMessage = e.what();
    } catch (const cv::Exception& e) {
        errorId = "lineharvest:opencv";
        errorMessage = std::string("OpenCV error: ") + e.what();
    } catch (const std::bad_alloc&) {
        errorId = "lineharvest:outOfMemory";
        errorMessage = "out of memory";
    } catch (const std::exception& e) {
        errorId = "lineharvest:internal";
        errorMessage = e.what();
    } catch (...) {
        errorId = "lineharvest:internal";
        errorMessage = "unknown failure";
    }
    // Raised only here, after every object of the call has been destroyed
    // and the output file closed: in Octave the host error itself unwinds.
    if (!errorId.empty()) mexErrMsgIdAndTxt(errorId.c_str(), "%s", errorMessage.c_str());
}
