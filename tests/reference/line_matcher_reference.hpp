// A literal transcription of the candidate transfer, kept by the tests as the
// reference that the fast core is compared with: cv::Mat working matrices,
// an n1 x n2 matrix of match flags, grid cells as vectors, and every step in
// its documented order. Slow on purpose; never used outside the tests.
#pragma once

#include "cell_lookup.hpp"
#include "grid_tokens.hpp"
#include "lineharvest/errors.hpp"
#include "lineharvest/types.hpp"

#include <opencv2/core.hpp>

#include <stdexcept>
#include <string>
#include <vector>

namespace reference {

using lineharvest::Correspondence;
using lineharvest::ErrorKind;
using lineharvest::HarvestError;

class LineMatcher {
public:
    static constexpr int kRasterBufferSize = 6000;
    static constexpr int kRasterCapacity = 5900;
    // Mapped segments longer than 7000 pixels are not looked up.
    static constexpr double kMaxSquaredMappedLength = 49000000.0;

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

    // Runs the candidate transfer and returns the lines of Addcandidates.txt.
    std::vector<Correspondence> addCandidates();

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

}  // namespace reference
