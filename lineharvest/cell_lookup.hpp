// From a mapped segment to the image-2 segments registered in the grid cells
// that its pixel raster crosses.
#pragma once

#include "lineharvest/grid_index.hpp"

#include <cstdint>
#include <vector>

namespace lineharvest {

// Calls visit(x, y) for the points of the Bresenham raster from (x1, y1) to
// (x2, y2), in order, one per unit step along the major axis, until visit
// returns false. On a tie (error term exactly 0) the minor coordinate steps
// only when the major axis runs forward, so that the raster of the reversed
// segment holds the same points. Returns true when every point was visited
// and visit never said stop.
template <class Visit>
bool forEachRasterPoint(long long x1, long long y1, long long x2, long long y2, Visit visit) {
    const long long dx = x2 - x1, dy = y2 - y1;
    const long long sx = (dx > 0) - (dx < 0), sy = (dy > 0) - (dy < 0);
    const long long ax = 2 * (dx < 0 ? -dx : dx), ay = 2 * (dy < 0 ? -dy : dy);
    long long x = x1, y = y1;
    if (!visit(x, y)) return false;
    if (ax >= ay) {
        long long e = ay - ax / 2;
        while (x != x2) {
            if (e > 0 || (e == 0 && sx > 0)) {
                e -= ax;
                y += sy;
            }
            e += ay;
            x += sx;
            if (!visit(x, y)) return false;
        }
    } else {
        long long e = ax - ay / 2;
        while (y != y2) {
            if (e > 0 || (e == 0 && sy > 0)) {
                e -= ay;
                x += sx;
            }
            e += ax;
            y += sy;
            if (!visit(x, y)) return false;
        }
    }
    return true;
}

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

// Calls visit(cell) for each grid cell, in raster order and each once per
// run of pixels in it, that the raster of (x1, y1)-(x2, y2), truncated toward
// zero and cut after kRasterCapacity pixels, crosses inside the window.
// Endpoints beyond the int range visit nothing.
template <class Visit>
void forEachCrossedCell(const GridIndex& grid, double x1, double y1, double x2, double y2, LookupScratch& scratch,
                        Visit visit);

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
