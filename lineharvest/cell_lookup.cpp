// From a mapped segment to the image-2 segments registered in the grid cells
// that its pixel raster crosses.
#include "line_matcher.hpp"

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

void LineMatcher::collectCellCandidates(double x1, double y1, double x2, double y2,
                                        std::vector<int>& candidates) {
    candidates.clear();
    // Endpoints beyond the int range lie outside every window anyway.
    if (!truncatesToInt(x1) || !truncatesToInt(y1) || !truncatesToInt(x2) || !truncatesToInt(y2)) return;

    int count = 0;
    // A raster cut at the capacity is looked up as far as it goes.
    rasterizeLine(static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x2), static_cast<int>(y2),
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

}  // namespace lineharvest
