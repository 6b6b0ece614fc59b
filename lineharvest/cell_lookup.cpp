// From a mapped segment to the image-2 segments registered in the grid cells
// that its pixel raster crosses.
#include "cell_lookup.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace lineharvest {

namespace {

int signOf(long long v) { return (v > 0) - (v < 0); }
}  // namespace

int rasterizeLine(int x1, int y1, int x2, int y2, int* xRow, int* yRow, int& count, int capacity) {
    // Differences and error terms in 64 bits: 2*|dx| of two ints can exceed
    // the int range even when the endpoints themselves fit.
    const long long dx = static_cast<long long>(x2) - x1;
    const long long dy = static_cast<long long>(y2) - y1;
    const int sx = signOf(dx), sy = signOf(dy);
    const long long ax = 2 * std::llabs(dx), ay = 2 * std::llabs(dy);
    int x = x1, y = y1;

    xRow[0] = x;
    yRow[0] = y;
    count = 1;
    // On a tie (error term exactly 0) the minor coordinate steps only when
    // the major axis runs forward, so that the raster of the reversed
    // segment holds the same points.
    if (ax >= ay) {
        long long e = ay - std::llabs(dx);
        while (x != x2) {
            if (e > 0 || (e == 0 && sx > 0)) {
                e -= ax;
                y += sy;
            }
            e += ay;
            x += sx;
            xRow[count] = x;
            yRow[count] = y;
            if (++count == capacity) return 0;
        }
    } else {
        long long e = ax - std::llabs(dy);
        while (y != y2) {
            if (e > 0 || (e == 0 && sy > 0)) {
                e -= ay;
                x += sx;
            }
            e += ax;
            y += sy;
            xRow[count] = x;
            yRow[count] = y;
            if (++count == capacity) return 0;
        }
    }
    return 1;
}

std::uint32_t LookupScratch::nextLookup() {
    if (++lookup_ == 0) {
        // After 2^32 lookups the numbers come round again: forget them all.
        std::fill(collectedIn_.begin(), collectedIn_.end(), 0u);
        lookup_ = 1;
    }
    return lookup_;
}

void collectCellCandidates(const GridIndex& grid, double x1, double y1, double x2, double y2,
                           LookupScratch& scratch, std::vector<int>& candidates) {
    collectCellCandidates(grid, x1, y1, x2, y2, scratch, candidates, [](int) { return false; });
}

}  // namespace lineharvest
