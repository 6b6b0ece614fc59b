// MATLAB/Octave entry point of lineharvest: checks and converts the 18 (or
// 19) inputs, runs the candidate transfer, writes Addcandidates.txt (or the
// file named by input 19) and turns every failure into a host error instead
// of letting it cross into the host.
#include "mex_args.hpp"

#include "lineharvest/transfer.hpp"

#include <fstream>
#include <string>
#include <sys/stat.h>
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
    IN_OUTPUT_FILE,  // optional
    MAX_INPUTS
};
constexpr int MIN_INPUTS = IN_OUTPUT_FILE;

enum OutputPosition { OUT_CORRESPONDENCES, MAX_OUTPUTS };

const char* const kInputNames[MAX_INPUTS] = {
    "image-1 segments",    "image-2 segments",     "pair records",      "camera matrix",
    "number of image-1 segments", "number of image-2 segments", "number of pair records",
    "distance threshold",  "angle threshold",      "overlap threshold", "pair index table",
    "pairs per segment",   "grid cell file path",  "cell size",         "y window begin",
    "y window end",        "x window begin",       "x window end",      "output file path"};

const char* const kDefaultOutputFile = "Addcandidates.txt";

using lineharvest::ErrorKind;
using mexargs::CallFailure;

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// The grid path is looked at before the output is touched: a path that is
// missing or not a regular file (a directory, a FIFO, a device) is refused
// without opening it, so nothing blocks and the caller's output stays.
void checkGridPath(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        throw CallFailure{ErrorKind::gridFile, "cannot open the grid cell file '" + path + "'"};
    if (!S_ISREG(info.st_mode)) throw CallFailure{ErrorKind::gridFile, "the grid cell file '" + path + "' is not a regular file"};
}

void run(int nlhs, mxArray* plhs[], const mexargs::Inputs& in) {
    for (int position : {IN_SEGMENTS1, IN_SEGMENTS2, IN_PAIR_RECORDS, IN_CAMERA_MATRIX, IN_PAIR_INDEX_TABLE})
        in.requireRealDouble(position);
    if (mxGetM(in[IN_CAMERA_MATRIX]) != 3 || mxGetN(in[IN_CAMERA_MATRIX]) != 3)
        in.refuse(ErrorKind::badCameraMatrix, IN_CAMERA_MATRIX, "must be a 3x3 matrix");
    if (!mxIsChar(in[IN_GRID_FILE])) in.refuse(ErrorKind::badGridFile, IN_GRID_FILE, "must be a char array");

    lineharvest::TransferInput input;
    const int numSegments1 = in.count(IN_NUM_SEGMENTS1);
    const int numSegments2 = in.count(IN_NUM_SEGMENTS2);
    const int numPairRecords = in.count(IN_NUM_PAIR_RECORDS);
    input.thresholds.maxLineDistance = in.threshold(IN_MAX_LINE_DISTANCE);
    input.thresholds.maxAngleDifference = in.threshold(IN_MAX_ANGLE_DIFFERENCE);
    input.thresholds.minOverlapRatio = in.threshold(IN_MIN_OVERLAP_RATIO);
    const int pairsPerSegment = in.count(IN_PAIRS_PER_SEGMENT);
    const int cellSize = in.integer(IN_CELL_SIZE);
    lineharvest::RasterWindow window;
    window.yBegin = in.integer(IN_Y_BEGIN);
    window.yEnd = in.integer(IN_Y_END);
    window.xBegin = in.integer(IN_X_BEGIN);
    window.xEnd = in.integer(IN_X_END);
    if (cellSize < 1) in.refuse(ErrorKind::badCellSize, IN_CELL_SIZE, "must be at least 1, got " + std::to_string(cellSize));

    in.requireElements(IN_SEGMENTS1, 4, numSegments1, IN_NUM_SEGMENTS1);
    in.requireElements(IN_SEGMENTS2, 4, numSegments2, IN_NUM_SEGMENTS2);
    in.requireElements(IN_PAIR_RECORDS, 14, numPairRecords, IN_NUM_PAIR_RECORDS);
    in.requireElements(IN_PAIR_INDEX_TABLE, pairsPerSegment, numSegments1, IN_NUM_SEGMENTS1);

    input.segments1 = {in.realDoubles(IN_SEGMENTS1), numSegments1};
    input.segments2 = {in.realDoubles(IN_SEGMENTS2), numSegments2};
    input.pairRecords = {in.realDoubles(IN_PAIR_RECORDS), numPairRecords};
    input.pairIndexTable = {in.realDoubles(IN_PAIR_INDEX_TABLE), pairsPerSegment};

    const std::string gridPath = in.text(IN_GRID_FILE, ErrorKind::badGridFile);
    std::string outputPath = kDefaultOutputFile;
    if (in.has(IN_OUTPUT_FILE)) {
        if (!mxIsChar(in[IN_OUTPUT_FILE])) in.refuse(ErrorKind::badOutputFile, IN_OUTPUT_FILE, "must be a char array ('' writes no file)");
        outputPath = mxGetNumberOfElements(in[IN_OUTPUT_FILE]) == 0 ? std::string()
                                                                    : in.text(IN_OUTPUT_FILE, ErrorKind::badOutputFile);
    }

    // Everything that can be checked is checked before the output is touched.
    const lineharvest::GridIndex layout(cellSize, window);  // badGrid
    lineharvest::checkTransferInput(input, layout);
    checkGridPath(gridPath);
    if (!outputPath.empty() && sameFile(gridPath, outputPath))
        throw CallFailure{ErrorKind::outputFile, "the output file '" + outputPath + "' is the grid cell file '" + gridPath +
                                                     "'; writing it would destroy the grid"};

    // The output is replaced before the grid is read, so a grid token error
    // leaves an empty output file rather than a stale one.
    std::ofstream output;
    if (!outputPath.empty()) {
        output.open(outputPath, std::ios::binary | std::ios::trunc);
        if (!output.is_open()) throw CallFailure{ErrorKind::outputFile, "cannot open '" + outputPath + "' for writing"};
    }
    const lineharvest::GridIndex grid = lineharvest::GridIndex::load(gridPath, cellSize, window);
    grid.checkEntries(numSegments2, gridPath);
    const std::vector<lineharvest::Correspondence> added = lineharvest::addCandidates(input, grid, 1);

    if (!outputPath.empty()) {
        lineharvest::writeCandidates(output, added);
        output.close();
        if (output.fail()) throw CallFailure{ErrorKind::outputFile, "writing '" + outputPath + "' failed"};
    }

    if (nlhs > 0) {
        mxArray* result = mxCreateDoubleMatrix(3, added.size(), mxREAL);
        double* out = mxGetPr(result);
        for (const lineharvest::Correspondence& c : added) {
            *out++ = c.image1Segment;
            *out++ = c.image2Segment;
            *out++ = c.pairRecord;
        }
        plhs[OUT_CORRESPONDENCES] = result;
    }
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mexargs::runGateway("lineharvest", [&] {
        if (nrhs < MIN_INPUTS || nrhs > MAX_INPUTS)
            throw CallFailure{ErrorKind::nargin, "expects " + std::to_string(MIN_INPUTS) + " inputs (" + std::to_string(MAX_INPUTS) +
                                                     " with the output file path), got " + std::to_string(nrhs)};
        if (nlhs > MAX_OUTPUTS)
            throw CallFailure{ErrorKind::nargout, "returns at most one output (the 3xK matrix of added correspondences), " +
                                                      std::to_string(nlhs) + " requested"};
        run(nlhs, plhs, mexargs::Inputs(nrhs, prhs, kInputNames, MAX_INPUTS));
    });
}
