// The lookup loop, a template so that the transfer's skip test is inlined.
#pragma once

#include "lineharvest/transfer.hpp"

#include <algorithm>

namespace lineharvest {

template <class Visit>
void forEachCrossedCell(const GridIndex& grid, double x1, double y1, double x2, double y2, LookupScratch& scratch,
                        Visit visit) {
    // Endpoints beyond the int range lie outside every window anyway.
    if (!truncatesToInt(x1) || !truncatesToInt(y1) || !truncatesToInt(x2) || !truncatesToInt(y2)) return;

    int count = 0;
    // A raster cut at the capacity is looked up as far as it goes.
    rasterizeLine(static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x2), static_cast<int>(y2),
                  scratch.rasterBuffer[0], scratch.rasterBuffer[1], count, kRasterCapacity);

    const RasterWindow window = grid.window();
    const int cellSize = grid.cellSize();
    const long long columns = grid.gridColumns();
    const long long numCells = static_cast<long long>(grid.numCells());
    long long previousCell = -1;
    for (int k = 0; k < count; ++k) {
        const int x = scratch.rasterBuffer[0][k];
        const int y = scratch.rasterBuffer[1][k];
        if (x < window.xBegin || x >= window.xEnd || y < window.yBegin || y >= window.yEnd) continue;
        // Raw pixel coordinates, the window origin not subtracted: this is
        // the numbering the grid cell file is written in.
        const long long cell = static_cast<long long>(y / cellSize) * columns + x / cellSize;
        if (cell == previousCell) continue;
        previousCell = cell;
        if (cell < 0 || cell >= numCells) continue;
        visit(static_cast<std::size_t>(cell));
    }
}

template <class Skip>
void collectCellCandidates(const GridIndex& grid, double x1, double y1, double x2, double y2,
                           LookupScratch& scratch, std::vector<int>& candidates, Skip skip) {
    candidates.clear();
    scratch.nextLookup();
    forEachCrossedCell(grid, x1, y1, x2, y2, scratch, [&](std::size_t c) {
        for (const int* e = grid.cellBegin(c); e != grid.cellEnd(c); ++e)
            if (scratch.firstInLookup(*e) && !skip(*e)) candidates.push_back(*e);
    });
    std::sort(candidates.begin(), candidates.end());
}

}  // namespace lineharvest
