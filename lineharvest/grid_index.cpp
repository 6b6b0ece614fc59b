// The grid index: its layout, its cells, the check of its entries, the grid
// cell file text, and building it straight from the image-2 segments.
#include "lineharvest/grid_index.hpp"

#include "cell_lookup.hpp"
#include "lineharvest/errors.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <utility>

namespace lineharvest {

namespace {

std::string layoutText(int cellSize, RasterWindow w) {
    return "cell size " + std::to_string(cellSize) + ", window y " + std::to_string(w.yBegin) + " to " +
           std::to_string(w.yEnd) + ", x " + std::to_string(w.xBegin) + " to " + std::to_string(w.xEnd);
}

// Truncating division, as the cell numbering uses it.
long long cellOf(long long v, long long cellSize) { return v / cellSize; }

}  // namespace

GridIndex::GridIndex(int cellSize, RasterWindow window) : cellSize_(cellSize), window_(window) {
    if (cellSize < 1) throw HarvestError(ErrorKind::badGrid, "the cell size must be at least 1, got " + std::to_string(cellSize));
    const long long columns = (static_cast<long long>(window.xEnd) - window.xBegin) / cellSize + 1;
    if (columns < -2147483648LL || columns > 2147483647LL)
        throw HarvestError(ErrorKind::badGrid, "the x window " + std::to_string(window.xBegin) + " to " +
                                                   std::to_string(window.xEnd) + " is too wide for cell size " +
                                                   std::to_string(cellSize));
    gridColumns_ = static_cast<int>(columns);
}

void GridIndex::appendCell(const int* begin, const int* end) {
    entries_.insert(entries_.end(), begin, end);
    offsets_.push_back(entries_.size());
}

void GridIndex::checkEntries(int numSegments2, const std::string& sourceName) const {
    for (std::size_t k = 0; k < numCells(); ++k) {
        for (const int* e = cellBegin(k); e != cellEnd(k); ++e) {
            if (*e < 0 || *e >= numSegments2) {
                throw HarvestError(ErrorKind::gridEntry, "grid cell file '" + sourceName + "', line " + std::to_string(k + 1) +
                                                             " (cell " + std::to_string(k) + "): entry " + std::to_string(*e) +
                                                             " is not an image-2 segment index in [0, " +
                                                             std::to_string(numSegments2) + ")");
            }
        }
    }
}

void GridIndex::write(std::ostream& out) const {
    std::string line;
    for (std::size_t k = 0; k < numCells(); ++k) {
        line.clear();
        for (const int* e = cellBegin(k); e != cellEnd(k); ++e) {
            if (e != cellBegin(k)) line += ' ';
            line += std::to_string(*e);
        }
        line += '\n';
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
}

GridIndex GridIndex::build(SegmentArray segments2, int cellSize, RasterWindow w, int margin) {
    if (segments2.count < 0)
        throw HarvestError(ErrorKind::badCount, "the number of image-2 segments must not be negative, got " +
                                                    std::to_string(segments2.count));
    if (w.yEnd < w.yBegin || w.xEnd < w.xBegin)
        throw HarvestError(ErrorKind::badWindow, "the window ends before it begins (" + layoutText(cellSize, w) + ")");
    if (margin < 0) throw HarvestError(ErrorKind::badMargin, "the margin must not be negative, got " + std::to_string(margin));
    GridIndex grid(cellSize, w);
    const long long columns = grid.gridColumns_;

    // One line per cell number up to the last cell of a window pixel.
    long long numCells = 0;
    if (w.xEnd > w.xBegin && w.yEnd > w.yBegin)
        numCells = std::max(cellOf(w.yEnd - 1LL, cellSize) * columns + cellOf(w.xEnd - 1LL, cellSize) + 1, 0LL);
    if (numCells > 2147483647LL)
        throw HarvestError(ErrorKind::badWindow, "the window needs " + std::to_string(numCells) +
                                                     " cells, more than a grid index can number (" + layoutText(cellSize, w) + ")");

    // Every raster pixel visits the cells of its square widened by the
    // margin and clipped to the window. A margin and window whose visits
    // exceed this bound (a default grid of a large photograph needs well
    // under 10^8) are refused instead of running for minutes.
    constexpr double kMaxCellVisits = 4294967296.0;
    const long long square = 2LL * margin + 1;
    const double cellsPerPixel =
        static_cast<double>(std::min(square, static_cast<long long>(w.yEnd) - w.yBegin) / cellSize + 2) *
        static_cast<double>(std::min(square, static_cast<long long>(w.xEnd) - w.xBegin) / cellSize + 2);
    double visits = 0;

    // (cell, segment) entries; segments are visited in ascending order, so a
    // stable placement by cell keeps each cell's segments ascending.
    std::vector<std::pair<int, int>> entries;
    std::vector<int> segmentCells;
    for (int s = 0; s < segments2.count; ++s) {
        const double* seg = segments2.data + 4 * static_cast<std::size_t>(s);
        for (int k = 0; k < 4; ++k)
            if (!(std::fabs(seg[k]) < 16777216.0))
                throw HarvestError(ErrorKind::badSegments, "image-2 segment " + std::to_string(s) +
                                                               ": coordinates must be finite and below 2^24 in magnitude");
        visits += (std::max(std::fabs(std::floor(seg[2]) - std::floor(seg[0])),
                            std::fabs(std::floor(seg[3]) - std::floor(seg[1]))) + 1) * cellsPerPixel;
        if (visits > kMaxCellVisits)
            throw HarvestError(ErrorKind::badMargin, "the margin " + std::to_string(margin) + " over the window (" +
                                                         layoutText(cellSize, w) + ") would visit more than 2^32 grid cells " +
                                                         "for the first " + std::to_string(s + 1) +
                                                         " segments: use a smaller margin or window");
        segmentCells.clear();
        // Every pixel of the segment's raster (no capacity here).
        forEachRasterPoint(static_cast<long long>(seg[0]), static_cast<long long>(seg[1]),
                           static_cast<long long>(seg[2]), static_cast<long long>(seg[3]),
                           [&](long long px, long long py) {
                               // The pixel widened to its square, clipped to the window.
                               const long long xl = std::max(px - margin, static_cast<long long>(w.xBegin));
                               const long long xh = std::min(px + margin, w.xEnd - 1LL);
                               const long long yl = std::max(py - margin, static_cast<long long>(w.yBegin));
                               const long long yh = std::min(py + margin, w.yEnd - 1LL);
                               if (xl > xh || yl > yh) return true;
                               for (long long row = cellOf(yl, cellSize); row <= cellOf(yh, cellSize); ++row)
                                   for (long long col = cellOf(xl, cellSize); col <= cellOf(xh, cellSize); ++col) {
                                       const long long cell = row * columns + col;
                                       if (cell >= 0 && cell < numCells)
                                           segmentCells.push_back(static_cast<int>(cell));
                                   }
                               return true;
                           });
        std::sort(segmentCells.begin(), segmentCells.end());
        segmentCells.erase(std::unique(segmentCells.begin(), segmentCells.end()), segmentCells.end());
        for (int cell : segmentCells) entries.emplace_back(cell, s);
    }

    // Counting placement by cell.
    grid.offsets_.assign(static_cast<std::size_t>(numCells) + 1, 0);
    for (const auto& e : entries) ++grid.offsets_[static_cast<std::size_t>(e.first) + 1];
    for (std::size_t k = 1; k < grid.offsets_.size(); ++k) grid.offsets_[k] += grid.offsets_[k - 1];
    grid.entries_.resize(entries.size());
    std::vector<std::size_t> next(grid.offsets_.begin(), grid.offsets_.end() - 1);
    for (const auto& e : entries) grid.entries_[next[static_cast<std::size_t>(e.first)]++] = e.second;
    return grid;
}

}  // namespace lineharvest
