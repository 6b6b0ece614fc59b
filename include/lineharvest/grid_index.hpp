// The grid index of the image-2 segments: a regular grid of cellSize pixels
// over raw pixel coordinates, each cell listing image-2 segment indices.
//   gridColumns = (xEnd - xBegin) / cellSize + 1   (integer division)
//   cell        = (y / cellSize) * gridColumns + x / cellSize
// Loaded from a grid cell file (one line per cell, space-separated indices),
// from any std::istream in the same format, or built directly from the
// image-2 segments.
#pragma once

#include "lineharvest/types.hpp"

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

namespace lineharvest {

class GridIndex {
public:
    // An index without cells: every lookup finds nothing.
    GridIndex() = default;
    // An empty grid of this layout. HarvestError("badGrid") when cellSize < 1
    // or gridColumns does not fit in an int.
    GridIndex(int cellSize, RasterWindow window);

    // Reads a grid cell file. HarvestError("gridFile") when the path is not
    // a readable regular file or reading fails part-way; GridTokenInvalid /
    // GridTokenOutOfRange for a token that is not a number. Entries are not
    // compared with any segment count here (see checkEntries).
    static GridIndex load(const std::string& path, int cellSize, RasterWindow window);
    // The same from a stream; sourceName appears in error messages.
    static GridIndex load(std::istream& in, int cellSize, RasterWindow window,
                          const std::string& sourceName = "<stream>");

    // The cells that buildgridcells writes for these segments: each segment
    // rasterised from its truncated endpoints, each raster pixel widened to a
    // square of side 2*margin+1, registered in the cell of every widened
    // pixel inside the window; cells ascending, one line per cell up to the
    // last cell of a window pixel. HarvestError("badSegments") for
    // coordinates that are not finite or not below 2^24 in magnitude,
    // ("badWindow") for a window that ends before it begins,
    // ("badMargin") for a negative margin.
    static GridIndex build(SegmentArray segments2, int cellSize, RasterWindow window, int margin = 0);

    int cellSize() const { return cellSize_; }
    RasterWindow window() const { return window_; }
    int gridColumns() const { return gridColumns_; }
    std::size_t numCells() const { return offsets_.size() - 1; }
    std::size_t numEntries() const { return entries_.size(); }
    const int* cellBegin(std::size_t cell) const { return entries_.data() + offsets_[cell]; }
    const int* cellEnd(std::size_t cell) const { return entries_.data() + offsets_[cell + 1]; }

    // Appends one cell (the next line of the file).
    void appendCell(const int* begin, const int* end);

    // HarvestError("gridEntry") naming line, cell and value for the first
    // entry outside [0, numSegments2).
    void checkEntries(int numSegments2, const std::string& sourceName = "the grid index") const;

    // The grid cell file text: one line per cell, entries separated by single
    // spaces, every line ended by LF.
    void write(std::ostream& out) const;

private:
    int cellSize_ = 1;
    RasterWindow window_{};
    int gridColumns_ = 1;
    std::vector<std::size_t> offsets_{0};
    std::vector<int> entries_;
};

}  // namespace lineharvest
