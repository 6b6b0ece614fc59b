// From a mapped segment to the image-2 segments registered in the grid cells
// that its pixel raster crosses.
#pragma once

#include "lineharvest/grid_index.hpp"

#include <cstdint>
#include <vector>

namespace lineharvest {

// Bresenham raster from (x1, y1) to (x2, y2) into xRow/yRow. Returns 1 when
// the end point was reached below capacity, 0 when capacity cut it short.
int rasterizeLine(int x1, int y1, int x2, int y2, int* xRow, int* yRow, int& count, int capacity);

// True when truncating v toward zero gives a value that fits in an int
// (false for NaN and the infinities).
inline bool truncatesToInt(double v) { return v > -2147483649.0 && v < 2147483648.0; }

// Scratch space of one lookup thread: the raster, and per image-2 segment the
// number of the lookup that last collected it, so that duplicates are
// dropped while collecting instead of sorted away afterwards.
class LookupScratch {
public:
    static constexpr int kRasterBufferSize = 6000;

    explicit LookupScratch(int numSegments2) : collectedIn_(static_cast<std::size_t>(numSegments2), 0) {}

    int rasterBuffer[2][kRasterBufferSize];

    // Starts a new lookup; returns its number (never 0).
    std::uint32_t nextLookup();
    // True the first time w is offered within the current lookup.
    bool firstInLookup(int w) {
        if (collectedIn_[static_cast<std::size_t>(w)] == lookup_) return false;
        collectedIn_[static_cast<std::size_t>(w)] = lookup_;
        return true;
    }

private:
    std::vector<std::uint32_t> collectedIn_;
    std::uint32_t lookup_ = 0;
};

// Replaces candidates with the sorted, distinct image-2 segment indices of
// the grid cells that the raster of (x1, y1)-(x2, y2), truncated toward
// zero and cut after kRasterCapacity pixels, crosses inside the window.
// Entries for which skip(w) is true are left out. Every grid entry must be
// below the numSegments2 the scratch was made for.
template <class Skip>
void collectCellCandidates(const GridIndex& grid, double x1, double y1, double x2, double y2,
                           LookupScratch& scratch, std::vector<int>& candidates, Skip skip);

void collectCellCandidates(const GridIndex& grid, double x1, double y1, double x2, double y2,
                           LookupScratch& scratch, std::vector<int>& candidates);

}  // namespace lineharvest

#include "cell_lookup_impl.hpp"
