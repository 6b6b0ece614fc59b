// Rasterising a mapped segment and collecting the entries of the cells it crosses.
#include "cell_lookup.hpp"
#include "lineharvest/errors.hpp"
#include "lineharvest/transfer.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <random>

using namespace lineharvest;
using Points = std::vector<std::pair<int, int>>;

namespace {

const double kInf = std::numeric_limits<double>::infinity();

struct Raster {
    int xs[LookupScratch::kRasterBufferSize], ys[LookupScratch::kRasterBufferSize];
    int count = -1;
    int result = -1;
    Raster(int x1, int y1, int x2, int y2, int capacity = kRasterCapacity) {
        result = rasterizeLine(x1, y1, x2, y2, xs, ys, count, capacity);
    }
    Points points() const {
        Points p;
        for (int k = 0; k < count; ++k) p.emplace_back(xs[k], ys[k]);
        return p;
    }
};

GridIndex withCells(int cellSize, int yBegin, int yEnd, int xBegin, int xEnd,
                    const std::vector<std::vector<int>>& cells) {
    GridIndex grid(cellSize, RasterWindow{yBegin, yEnd, xBegin, xEnd});
    for (const auto& cell : cells) grid.appendCell(cell.data(), cell.data() + cell.size());
    return grid;
}

// A grid whose cell k holds the single entry k, for numCells cells.
GridIndex setUp(int cellSize, int yBegin, int yEnd, int xBegin, int xEnd, int numCells) {
    std::vector<std::vector<int>> cells;
    for (int k = 0; k < numCells; ++k) cells.push_back({k});
    return withCells(cellSize, yBegin, yEnd, xBegin, xEnd, cells);
}

std::vector<int> lookup(const GridIndex& grid, double x1, double y1, double x2, double y2) {
    static LookupScratch scratch(100000);
    std::vector<int> out = {-12345};
    collectCellCandidates(grid, x1, y1, x2, y2, scratch, out);
    return out;
}

}  // namespace

TEST(Raster, Table) {
    struct Case { int x1, y1, x2, y2; Points points; } cases[] = {
        {0, 0, 3, 1, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},
        {3, 1, 0, 0, {{3, 1}, {2, 1}, {1, 0}, {0, 0}}},
        {0, 0, 2, 1, {{0, 0}, {1, 1}, {2, 1}}},
        {2, 1, 0, 0, {{2, 1}, {1, 1}, {0, 0}}},
        {0, 0, 1, 3, {{0, 0}, {0, 1}, {1, 2}, {1, 3}}},
        {1, 3, 0, 0, {{1, 3}, {1, 2}, {0, 1}, {0, 0}}},
        {5, 5, 5, 5, {{5, 5}}},
        {-2, 4, -2, 1, {{-2, 4}, {-2, 3}, {-2, 2}, {-2, 1}}},
    };
    for (const Case& c : cases) {
        Raster r(c.x1, c.y1, c.x2, c.y2);
        EXPECT_EQ(1, r.result);
        EXPECT_EQ(c.points, r.points()) << c.x1 << "," << c.y1 << " -> " << c.x2 << "," << c.y2;
    }
}

TEST(Raster, Capacity) {
    struct Case { int x2, capacity, count, result; } cases[] = {
        {5898, 5900, 5899, 1},
        {5899, 5900, 5900, 0},  // the end point itself fills the capacity
        {7000, 5900, 5900, 0},
        {1, 2, 2, 0},
        {5, 2, 2, 0},
    };
    for (const Case& c : cases) {
        Raster r(0, 0, c.x2, 0, c.capacity);
        EXPECT_EQ(c.result, r.result) << c.x2;
        ASSERT_EQ(c.count, r.count) << c.x2;
        EXPECT_EQ(c.count - 1, r.xs[c.count - 1]);
        EXPECT_EQ(0, r.ys[c.count - 1]);
    }
    // Extreme ints: no overflow, and the capacity still bounds the raster.
    Raster r(INT_MIN, INT_MAX, INT_MAX, INT_MIN);
    EXPECT_EQ(0, r.result);
    EXPECT_EQ(kRasterCapacity, r.count);
    EXPECT_EQ(INT_MIN, r.xs[0]);
    EXPECT_EQ(INT_MAX, r.ys[0]);
}

// Any raster is an 8-connected chain of max(|dx|,|dy|)+1 points, one unit step
// along the major axis at a time, and reversing the endpoints reverses it.
TEST(Raster, ReversedEndpointsGiveReversedRaster) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> coord(-400, 400);
    for (int i = 0; i < 2000; ++i) {
        const int x1 = coord(rng), y1 = coord(rng), x2 = coord(rng), y2 = coord(rng);
        Raster forward(x1, y1, x2, y2), backward(x2, y2, x1, y1);
        const int n = std::max(std::abs(x2 - x1), std::abs(y2 - y1)) + 1;
        ASSERT_EQ(n, forward.count);
        ASSERT_EQ(1, forward.result);
        Points f = forward.points(), b = backward.points();
        ASSERT_EQ((std::pair<int, int>(x2, y2)), f.back());
        for (int k = 1; k < n; ++k)
            ASSERT_EQ(1, std::max(std::abs(f[k].first - f[k - 1].first), std::abs(f[k].second - f[k - 1].second)));
        std::reverse(b.begin(), b.end());
        ASSERT_EQ(f, b) << x1 << "," << y1 << " -> " << x2 << "," << y2;
    }
}

TEST(CellLookup, GridColumns) {
    struct Case { int cellSize, xBegin, xEnd, columns; } cases[] = {
        {10, 0, 100, 11}, {10, 9, 21, 2}, {30, 0, 1000, 34}, {7, 5, 5, 1}, {10, -20, 20, 5},
    };
    for (const Case& c : cases) EXPECT_EQ(c.columns, GridIndex(c.cellSize, RasterWindow{0, 50, c.xBegin, c.xEnd}).gridColumns());
    EXPECT_THROW(GridIndex(0, RasterWindow{0, 50, 0, 100}), HarvestError);
    EXPECT_THROW(GridIndex(1, RasterWindow{0, 50, -2147483647 - 1, 2147483647}), HarvestError);
}

TEST(CellLookup, CellsCrossedInsideWindow) {
    struct Case {
        const char* what;
        int cellSize, yBegin, yEnd, xBegin, xEnd, numCells;
        double x1, y1, x2, y2;
        std::vector<int> expected;
    } cases[] = {
        {"three cells in a row", 10, 0, 50, 0, 100, 66, 5.7, 3.2, 25.9, 3.9, {0, 1, 2}},
        {"one pixel", 10, 0, 50, 0, 100, 66, 12.9, 15.2, 12.1, 15.8, {12}},
        {"truncation toward zero", 10, 0, 50, 0, 100, 66, -0.5, 5.5, -0.9, 5.1, {0}},
        {"diagonal", 10, 0, 50, 0, 100, 66, 0, 0, 25, 25, {0, 12, 24}},
        {"window from 9: pixel (20,0)", 10, 0, 50, 9, 21, 10, 20, 0, 20, 0, {2}},
        {"window from 9: pixel (9,10)", 10, 0, 50, 9, 21, 10, 9, 10, 9, 10, {2}},
        {"x window is [9, 20)", 10, 0, 50, 9, 20, 10, 0, 0, 30, 0, {0, 1}},
        {"y window is [9, 20)", 10, 9, 20, 0, 100, 66, 0, 0, 0, 30, {0, 11}},
        {"wholly outside", 10, 0, 50, 0, 100, 66, 200, 200, 300, 300, {}},
        {"outside then inside", 10, 0, 50, 0, 100, 66, 130, 5, 85, 5, {8, 9}},
        {"cells beyond the file", 10, 0, 50, 0, 100, 3, 0, 5, 60, 5, {0, 1, 2}},
        {"negative column is raw", 10, 0, 50, -20, 20, 20, -15.5, 12, -15.5, 12, {4}},
        {"negative cell", 10, 0, 50, -20, 20, 20, -15, 0, -15, 0, {}},
        {"no cells", 10, 0, 50, 0, 100, 0, 0, 0, 99, 49, {}},
        {"rows count from y 0, not yBegin", 10, 5, 50, 0, 100, 66, 0, 12, 0, 12, {11}},
        // Capacity 5900: only x 0..5899 forward, x 7000..1101 backward.
        {"cut at capacity from the first endpoint", 5899, 0, 10, 0, 7000, 8, 0, 0, 7000, 0, {0, 1}},
        {"the same, reversed", 1101, 0, 10, 0, 7000, 8, 7000, 0, 0, 0, {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        const GridIndex grid = setUp(c.cellSize, c.yBegin, c.yEnd, c.xBegin, c.xEnd, c.numCells);
        EXPECT_EQ(c.expected, lookup(grid, c.x1, c.y1, c.x2, c.y2)) << c.what;
    }
}

TEST(CellLookup, RepeatedEntriesAppearOnceInOrder) {
    const GridIndex grid = withCells(10, 0, 50, 0, 100, {{9, 2, 2}, {5, 2}, {9, 0}, {77}});
    EXPECT_EQ((std::vector<int>{0, 2, 5, 9}), lookup(grid, 1, 1, 29, 8));
    // The lookup after it starts afresh.
    EXPECT_EQ((std::vector<int>{2, 5}), lookup(grid, 12, 1, 12, 1));
}

TEST(CellLookup, UnrepresentableEndpointsGiveNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case { double x1, y1, x2, y2; } cases[] = {
        {1e12, 0, 5, 5}, {5, 5, 1e12, 5}, {5, 5, 5, -1e12},
        {kInf, 0, 5, 5}, {5, 5, 5, -kInf}, {nan, 5, 5, 5},
        {1e9, 5, -1e9, 5},   // fits an int, twice the difference does not
        {-2.1e9, 5, 2.1e9, 5},
    };
    for (const Case& c : cases) {
        const GridIndex grid = setUp(10, 0, 50, 0, 100, 66);
        EXPECT_EQ(std::vector<int>{}, lookup(grid, c.x1, c.y1, c.x2, c.y2))
            << c.x1 << "," << c.y1 << " -> " << c.x2 << "," << c.y2;
    }
}

TEST(CellLookup, ReversedEndpointsGiveSameCandidates) {
    std::vector<std::vector<int>> cells;
    for (int k = 0; k < 14 * 13; ++k) cells.push_back({k % 37, 200 - k});
    const GridIndex m = withCells(7, 3, 90, -10, 100, cells);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> coord(-40, 140);
    for (int i = 0; i < 2000; ++i) {
        const double x1 = coord(rng), y1 = coord(rng), x2 = coord(rng), y2 = coord(rng);
        const std::vector<int> forward = lookup(m, x1, y1, x2, y2);
        ASSERT_TRUE(std::is_sorted(forward.begin(), forward.end()));
        ASSERT_TRUE(std::adjacent_find(forward.begin(), forward.end()) == forward.end());
        ASSERT_EQ(forward, lookup(m, x2, y2, x1, y1)) << x1 << "," << y1 << " -> " << x2 << "," << y2;
    }
}
