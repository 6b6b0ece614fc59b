// The state of one lineharvest run: raw views of the caller's input arrays,
// the thresholds, the grid index of the image-2 segments, and the scratch
// space of the cell lookup.
#pragma once

#include "harvest_error.hpp"

#include <opencv2/core.hpp>

#include <stdexcept>
#include <string>
#include <vector>

namespace lineharvest {

// The two token conversion failures of the grid cell file. what() is
// exactly the conversion's own text; the position is carried beside it.
class GridTokenInvalid : public std::invalid_argument {
public:
    GridTokenInvalid(int line, std::string token)
        : std::invalid_argument("invalid stoi argument"), line(line), token(std::move(token)) {}
    int line;           // 0-based line (= cell) of the grid cell file
    std::string token;
};

class GridTokenOutOfRange : public std::out_of_range {
public:
    GridTokenOutOfRange(int line, std::string token)
        : std::out_of_range("stoi argument out of range"), line(line), token(std::move(token)) {}
    int line;
    std::string token;
};

// One line of "Addcandidates.txt".
struct Correspondence {
    int image1Segment;
    int image2Segment;
    int pairRecord;
};

// True when truncating v toward zero gives a value that fits in an int
// (false for NaN and the infinities).
inline bool truncatesToInt(double v) { return v > -2147483649.0 && v < 2147483648.0; }

// Decimal conversion of one grid cell token with the rules of std::stoi in
// base 10. Throws std::invalid_argument("invalid stoi argument") or
// std::out_of_range("stoi argument out of range").
int convertToken(const std::string& token);

// Splits line at every character of delimiters; empty tokens are dropped.
void splitTokens(std::string line, std::string delimiters, std::vector<std::string>& tokens);

// Bresenham raster from (x1, y1) to (x2, y2) into xRow/yRow. Returns 1 when
// the end point was reached below capacity, 0 when capacity cut it short.
int rasterizeLine(int x1, int y1, int x2, int y2, int* xRow, int* yRow, int& count, int capacity);

class LineMatcher {
public:
    static constexpr int kRasterBufferSize = 6000;
    static constexpr int kRasterCapacity = 5900;
    // Mapped segments longer than 7000 pixels are not looked up.
    static constexpr double kMaxSquaredMappedLength = 49000000.0;
    static constexpr const char* kOutputFileName = "Addcandidates.txt";

    const double* segments1 = nullptr;
    const double* segments2 = nullptr;
    const double* pairRecords = nullptr;
    const double* pairIndexTable = nullptr;
    cv::Mat cameraMatrix;
    cv::Mat spareMatrix;
    cv::Mat matchFlags;
    double maxLineDistance = 0;
    double maxAngleDifference = 0;
    double minOverlapRatio = 0;
    int numSegments1 = 0;
    int numSegments2 = 0;
    int numPairRecords = 0;
    int cellSize = 1;
    int pairsPerSegment = 0;
    int yBegin = 0, yEnd = 0;
    int xBegin = 0, xEnd = 0;
    std::vector<std::vector<int>> gridCells;
    int gridColumns = 0;
    std::string gridFilePath;
    int rasterBuffer[2][kRasterBufferSize];

    LineMatcher() = default;
    LineMatcher(const LineMatcher&) = delete;
    LineMatcher& operator=(const LineMatcher&) = delete;

    void setInputs(const double* segments1, const double* segments2, const double* pairRecords,
                   cv::Mat cameraMatrix, const double* pairIndexTable, int pairsPerSegment);
    // The three counts are truncated toward zero; HarvestError("badCount")
    // when a count is negative or its truncation does not fit in an int.
    void setParameters(double maxLineDistance, double maxAngleDifference, double minOverlapRatio,
                       double numSegments1, double numSegments2, double numPairRecords);
    // cellSize must be at least 1 and (xEnd - xBegin) / cellSize + 1 must
    // fit in an int; HarvestError("badGrid") otherwise. Members are
    // destroyed in reverse order of declaration: the path, the cells, the
    // flags, then the two spare matrices.
    void setGrid(std::string gridFilePath, int cellSize, int yBegin, int yEnd, int xBegin, int xEnd);

    // Runs the candidate transfer and writes "Addcandidates.txt" in the
    // current directory. When added is given, every written line is also
    // appended to it.
    void addCandidates(std::vector<Correspondence>* added = nullptr);

    // HarvestError("badPairRecord") for a pair record whose segment indices
    // lie outside the segment counts, HarvestError("badPairIndex") for a
    // pair index table entry outside [0, numPairRecords). Both would index
    // past the caller's arrays.
    void checkInputIndices() const;

    void markKnownMatches();

    // Appends one cell per line of the grid cell file to gridCells.
    // HarvestError("gridFile") when the file cannot be opened;
    // GridTokenInvalid / GridTokenOutOfRange for a token that is not a number.
    void loadGridCells();

    // HarvestError("gridEntry") for the first entry of gridCells outside
    // [0, numSegments2): such an entry would index past the segment array.
    void checkGridEntries() const;

    // Sorted, distinct image-2 segment indices of the grid cells that the
    // raster of the segment (x1, y1)-(x2, y2) crosses inside the window.
    void collectCellCandidates(double x1, double y1, double x2, double y2, std::vector<int>& candidates);
};

}  // namespace lineharvest
