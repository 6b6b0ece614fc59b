// From a mapped segment to the image-2 segments registered in the grid cells
// that its pixel raster crosses.
#include "cell_lookup.hpp"

#include <algorithm>

namespace lineharvest {

int rasterizeLine(int x1, int y1, int x2, int y2, int* xRow, int* yRow, int& count, int capacity) {
    // 64-bit differences and error terms: 2*|dx| of two ints can exceed the
    // int range even when the endpoints themselves fit.
    count = 0;
    const bool complete = forEachRasterPoint(x1, y1, x2, y2, [&](long long x, long long y) {
        xRow[count] = static_cast<int>(x);
        yRow[count] = static_cast<int>(y);
        return ++count < capacity;
    });
    return complete ? 1 : 0;
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
