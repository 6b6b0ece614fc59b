// The reference transfer, step by step as documented.
#include "line_matcher_reference.hpp"

#include "mat_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>

namespace reference {

using lineharvest::truncatesToInt;

namespace {

int countFromDouble(double value, const char* name) {
    if (!truncatesToInt(value) || static_cast<int>(value) < 0)
        throw HarvestError(ErrorKind::badCount, std::string(name) + " must be a count in [0, 2147483647], got " +
                                                    std::to_string(value));
    return static_cast<int>(value);
}

// An index read from a double, by truncation toward zero, that must lie in
// [0, limit). NaN fails both comparisons. Values in (-1, 0) truncate to 0,
// which is an index only when the range is not empty.
bool isIndexBelow(double value, int limit) {
    return limit > 0 && value > -1.0 && value < static_cast<double>(limit);
}

}  // namespace

void LineMatcher::setInputs(const double* segments1In, const double* segments2In, const double* pairRecordsIn,
                            cv::Mat cameraMatrixIn, const double* pairIndexTableIn, int pairsPerSegmentIn) {
    segments1 = segments1In;
    segments2 = segments2In;
    pairRecords = pairRecordsIn;
    pairIndexTable = pairIndexTableIn;
    pairsPerSegment = pairsPerSegmentIn;
    cameraMatrix = cameraMatrixIn;
}

void LineMatcher::setParameters(double maxLineDistanceIn, double maxAngleDifferenceIn, double minOverlapRatioIn,
                                double numSegments1In, double numSegments2In, double numPairRecordsIn) {
    maxLineDistance = maxLineDistanceIn;
    maxAngleDifference = maxAngleDifferenceIn;
    minOverlapRatio = minOverlapRatioIn;
    numSegments1 = countFromDouble(numSegments1In, "the number of image-1 segments");
    numSegments2 = countFromDouble(numSegments2In, "the number of image-2 segments");
    numPairRecords = countFromDouble(numPairRecordsIn, "the number of pair records");
}

void LineMatcher::setGrid(std::string gridFilePathIn, int cellSizeIn, int yBeginIn, int yEndIn, int xBeginIn,
                          int xEndIn) {
    if (cellSizeIn < 1)
        throw HarvestError(ErrorKind::badGrid, "the cell size must be at least 1, got " + std::to_string(cellSizeIn));
    const long long columns = (static_cast<long long>(xEndIn) - xBeginIn) / cellSizeIn + 1;
    if (columns < -2147483648LL || columns > 2147483647LL)
        throw HarvestError(ErrorKind::badGrid, "the x window " + std::to_string(xBeginIn) + " to " + std::to_string(xEndIn) +
                                                   " is too wide for cell size " + std::to_string(cellSizeIn));
    gridFilePath = gridFilePathIn;
    cellSize = cellSizeIn;
    yBegin = yBeginIn;
    yEnd = yEndIn;
    xBegin = xBeginIn;
    xEnd = xEndIn;
    gridColumns = static_cast<int>(columns);
}

void LineMatcher::checkInputIndices() const {
    static const char* const kElementRole[4] = {"image-1", "image-1", "image-2", "image-2"};
    for (int r = 0; r < numPairRecords; ++r) {
        const double* record = pairRecords + 14 * static_cast<std::size_t>(r);
        for (int e = 0; e < 4; ++e) {
            const int limit = e < 2 ? numSegments1 : numSegments2;
            if (!isIndexBelow(record[e], limit))
                throw HarvestError(ErrorKind::badPairRecord,
                                   "pair record " + std::to_string(r) + " (column " + std::to_string(r + 1) +
                                       "), row " + std::to_string(e + 1) + ": " + std::to_string(record[e]) +
                                       " is not an " + kElementRole[e] + " segment index in [0, " +
                                       std::to_string(limit) + ")");
        }
    }
    for (int i = 0; i < numSegments1; ++i) {
        for (int j = 0; j < pairsPerSegment; ++j) {
            const double entry = pairIndexTable[static_cast<std::size_t>(i) * pairsPerSegment + j];
            if (!isIndexBelow(entry, numPairRecords))
                throw HarvestError(ErrorKind::badPairIndex,
                                   "pair index table, column " + std::to_string(i + 1) + ", row " +
                                       std::to_string(j + 1) + ": " + std::to_string(entry) +
                                       " is not a pair record index in [0, " + std::to_string(numPairRecords) +
                                       ")");
        }
    }
}

void LineMatcher::markKnownMatches() {
    matchFlags = cv::Mat::zeros(numSegments1, numSegments2, CV_8U);
    for (int r = 0; r < numPairRecords; ++r) {
        const double* record = pairRecords + 14 * static_cast<std::size_t>(r);
        const int a = static_cast<int>(record[0]);
        const int b = static_cast<int>(record[1]);
        const int c = static_cast<int>(record[2]);
        const int d = static_cast<int>(record[3]);
        matchFlags.at<uchar>(a, c) = 1;
        matchFlags.at<uchar>(b, d) = 1;
    }
}

std::vector<Correspondence> LineMatcher::addCandidates() {
    checkInputIndices();
    std::vector<Correspondence> added;

    markKnownMatches();
    loadGridCells();
    checkGridEntries();

    // Working matrices live for the whole run and are refilled in place.
    cv::Mat candidateLine = cv::Mat::zeros(3, 1, CV_64F);
    cv::Mat firstEndpoint = cv::Mat::zeros(3, 1, CV_64F);
    cv::Mat secondEndpoint = cv::Mat::zeros(3, 1, CV_64F);
    cv::Mat firstMapped(3, 1, CV_64F);
    cv::Mat secondMapped(3, 1, CV_64F);
    cv::Mat homography(3, 3, CV_64F);
    std::vector<int> candidates;
    double meanDistance = 0;

    for (int i = 0; i < numSegments1; ++i) {
        homogeneousEndpoints(segments1 + 4 * static_cast<std::size_t>(i), firstEndpoint, secondEndpoint);

        for (int j = 0; j < pairsPerSegment; ++j) {
            const int r = static_cast<int>(pairIndexTable[static_cast<std::size_t>(i) * pairsPerSegment + j]);
            const double* h = pairRecords + 14 * static_cast<std::size_t>(r) + 5;
            for (int row = 0; row < 3; ++row)
                for (int col = 0; col < 3; ++col) homography.at<double>(row, col) = h[3 * row + col];

            // OpenCV's own product and scalar division, so that the mapped
            // coordinates are those of the matrix library bit for bit.
            firstMapped = homography * firstEndpoint;
            secondMapped = homography * secondEndpoint;
            firstMapped = firstMapped / firstMapped.at<double>(2, 0);
            secondMapped = secondMapped / secondMapped.at<double>(2, 0);

            const double x1 = firstMapped.at<double>(0, 0), y1 = firstMapped.at<double>(1, 0);
            const double x2 = secondMapped.at<double>(0, 0), y2 = secondMapped.at<double>(1, 0);
            // NaN, infinite and beyond-int coordinates cannot be rasterised.
            if (!truncatesToInt(x1) || !truncatesToInt(y1) || !truncatesToInt(x2) || !truncatesToInt(y2)) continue;
            if ((x1 - x2) * (x1 - x2) + (y1 - y2) * (y1 - y2) > kMaxSquaredMappedLength) continue;

            collectCellCandidates(x1, y1, x2, y2, candidates);
            for (int w : candidates) {
                if (matchFlags.at<uchar>(i, w) == 1) continue;
                const cv::Mat candidateSegment(4, 1, CV_64F,
                                               const_cast<double*>(segments2 + 4 * static_cast<std::size_t>(w)));
                lineThroughSegment(candidateSegment, candidateLine);
                if (isSegmentMatch(firstMapped, secondMapped, candidateSegment, candidateLine, maxLineDistance,
                                   maxAngleDifference, minOverlapRatio, &meanDistance)) {
                    added.push_back({i, w, r});
                    matchFlags.at<uchar>(i, w) = 1;
                    break;
                }
            }
        }
    }

    return added;
}

void LineMatcher::loadGridCells() {
    std::ifstream file(gridFilePath);
    if (!file.is_open())
        throw HarvestError(ErrorKind::gridFile, "cannot open the grid cell file '" + gridFilePath + "'");

    std::string line;
    std::vector<std::string> tokens;
    std::vector<int> cell;
    for (int lineNumber = 0; std::getline(file, line); ++lineNumber) {
        // A CR that ends the line is part of a CR LF line end.
        if (!line.empty() && line.back() == '\r' && !file.eof()) line.pop_back();
        if (line.empty()) {
            gridCells.emplace_back();
            continue;
        }
        lineharvest::splitTokens(line, " ", tokens);
        for (const std::string& token : tokens) {
            try {
                cell.push_back(lineharvest::convertToken(token));
            } catch (const std::out_of_range&) {
                throw lineharvest::GridTokenOutOfRange({gridFilePath, lineNumber, token});
            } catch (const std::invalid_argument&) {
                throw lineharvest::GridTokenInvalid({gridFilePath, lineNumber, token});
            }
        }
        gridCells.push_back(cell);
        cell.clear();
    }
}

void LineMatcher::checkGridEntries() const {
    for (std::size_t k = 0; k < gridCells.size(); ++k) {
        for (int entry : gridCells[k]) {
            if (entry < 0 || entry >= numSegments2) {
                throw HarvestError(ErrorKind::gridEntry,
                                   "grid cell file '" + gridFilePath + "', line " + std::to_string(k + 1) +
                                       " (cell " + std::to_string(k) + "): entry " + std::to_string(entry) +
                                       " is not an image-2 segment index in [0, " +
                                       std::to_string(numSegments2) + ")");
            }
        }
    }
}

void LineMatcher::collectCellCandidates(double x1, double y1, double x2, double y2,
                                        std::vector<int>& candidates) {
    candidates.clear();
    // Endpoints beyond the int range lie outside every window anyway.
    if (!truncatesToInt(x1) || !truncatesToInt(y1) || !truncatesToInt(x2) || !truncatesToInt(y2)) return;

    int count = 0;
    // A raster cut at the capacity is looked up as far as it goes.
    lineharvest::rasterizeLine(static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x2), static_cast<int>(y2),
                  rasterBuffer[0], rasterBuffer[1], count, kRasterCapacity);

    const long long numCells = static_cast<long long>(gridCells.size());
    long long previousCell = -1;
    for (int k = 0; k < count; ++k) {
        const int x = rasterBuffer[0][k];
        const int y = rasterBuffer[1][k];
        if (x < xBegin || x >= xEnd || y < yBegin || y >= yEnd) continue;
        // Raw pixel coordinates, the window origin not subtracted: this is
        // the numbering the grid cell file is written in.
        const long long cell = static_cast<long long>(y / cellSize) * gridColumns + x / cellSize;
        if (cell == previousCell) continue;
        previousCell = cell;
        if (cell >= 0 && cell < numCells) {
            const std::vector<int>& entries = gridCells[static_cast<std::size_t>(cell)];
            candidates.insert(candidates.end(), entries.begin(), entries.end());
        }
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
}

}  // namespace reference
