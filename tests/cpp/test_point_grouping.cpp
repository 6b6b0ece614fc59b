#include "coordsift/point_grouping.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using coordsift::groupPoints;
using coordsift::PointView;
using coordsift::truncateCoordinate;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kIntMin = -2147483648.0;
// Written into groupCoords before the call: entries past the last group
// must come back untouched.
constexpr double kUntouched = 777.0;

struct Point {
    double x, y;
};

// A table whose unused record elements are either zero or junk that would
// change the result if read, optionally followed by records past n that
// would open or join groups if the scan ran beyond n. Without extra records
// the table stops right after the last y, the least the contract allows.
std::vector<double> makeTable(const std::vector<Point>& points, bool junk, bool extraRecords) {
    std::vector<Point> records = points;
    if (extraRecords) {
        for (const Point& p : points) {
            records.push_back({std::trunc(p.x), std::trunc(p.y)});
        }
        records.push_back({12345, 678});
    }
    std::vector<double> table;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const double fill = junk ? (i % 2 ? kNaN : records[i].x) : 0.0;
        table.insert(table.end(), {fill, records[i].y, records[i].x, records[i].y, fill, records[i].x});
    }
    if (!extraRecords && !table.empty()) {
        table.resize(table.size() - 2);
    }
    return table;
}

struct Result {
    std::vector<double> index;
    std::vector<double> coords;
    std::size_t count;
};

Result run(const std::vector<double>& table, std::size_t n) {
    Result r{std::vector<double>(n), std::vector<double>(2 * n, kUntouched), 0};
    r.count = groupPoints(table.data(), n, r.index.data(), r.coords.data());
    return r;
}

struct GroupingCase {
    std::string name;
    std::vector<Point> points;
    std::vector<double> index;
    std::vector<double> coords;  // the 2*count written entries
};

const std::vector<GroupingCase> kGroupingCases = {
    {"repeat of a whole-number point", {{1, 2}, {3, 4}, {1, 2}}, {0, 1, 0}, {1, 2, 3, 4}},
    {"all points equal", {{5, 7}, {5, 7}, {5, 7}, {5, 7}}, {0, 0, 0, 0}, {5, 7}},
    {"all points differ", {{0, 0}, {1, 0}, {0, 1}, {-3, 9}}, {0, 1, 2, 3}, {0, 0, 1, 0, 0, 1, -3, 9}},
    {"equal x, different y", {{1, 2}, {1, 3}, {1, 2}}, {0, 1, 0}, {1, 2, 1, 3}},
    {"fractional repeat opens its own group", {{1.5, 2}, {1.5, 2}}, {0, 1}, {1, 2, 1, 2}},
    {"whole numbers of the truncation join", {{1.5, 2}, {1, 2}}, {0, 0}, {1, 2}},
    {"last group to claim a point keeps it", {{1.5, 2}, {1.7, 2}, {1, 2}}, {0, 1, 1}, {1, 2, 1, 2}},
    {"a group's first point is never taken over",
     {{2, 2}, {2.5, 2}, {2, 2}},
     {0, 1, 1},
     {2, 2, 2, 2}},
    {"negative values truncate toward zero", {{-1.5, 0}, {-1, 0}}, {0, 0}, {-1, 0}},
    {"negative value does not join the floor", {{-1.5, 0}, {-2, 0}}, {0, 1}, {-1, 0, -2, 0}},
    {"negative zero equals zero", {{-0.5, 3}, {-0.0, 3}}, {0, 0}, {0, 3}},
    {"NaN joins nothing", {{kNaN, 0}, {kNaN, 0}}, {0, 1}, {kIntMin, 0, kIntMin, 0}},
    {"NaN group takes exactly int32 min", {{kNaN, 0}, {kIntMin, 0}}, {0, 0}, {kIntMin, 0}},
    {"out-of-range coordinate becomes int32 min",
     {{3e9, 1}, {kIntMin, 1}, {-kInf, 1}},
     {0, 0, 1},
     {kIntMin, 1, kIntMin, 1}},
};

TEST(GroupPoints, EdgeCasesOnEveryTableLayout) {
    for (const GroupingCase& c : kGroupingCases) {
        for (const bool junk : {false, true}) {
            for (const bool extra : {false, true}) {
                SCOPED_TRACE(c.name + (junk ? ", junk in unused elements" : "") +
                             (extra ? ", records past n" : ""));
                const Result r = run(makeTable(c.points, junk, extra), c.points.size());
                EXPECT_EQ(r.index, c.index);
                ASSERT_EQ(r.count * 2, c.coords.size());
                for (std::size_t j = 0; j < r.coords.size(); ++j) {
                    const double expected = j < c.coords.size() ? c.coords[j] : kUntouched;
                    EXPECT_EQ(r.coords[j], expected) << "groupCoords entry " << j;
                }
            }
        }
    }
}

TEST(GroupPoints, ZeroPointsTouchesNothing) {
    EXPECT_EQ(groupPoints(nullptr, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(groupPoints(PointView::pairs(nullptr, 0), nullptr, nullptr), 0u);
}

// The grouping as a literal scan: every group's first point claims every
// later point whose untruncated coordinates equal the group's pair. Quadratic,
// and kept here as the reference the fast grouping must reproduce exactly.
std::size_t referenceScan(const PointView& points, double* groupIndex, double* groupCoords) {
    for (std::size_t i = 0; i < points.count; ++i) groupIndex[i] = -1.0;
    std::size_t groupCount = 0;
    for (std::size_t i = 0; i < points.count; ++i) {
        if (groupIndex[i] != -1.0) continue;
        const double gx = truncateCoordinate(points.x(i));
        const double gy = truncateCoordinate(points.y(i));
        groupIndex[i] = static_cast<double>(groupCount);
        groupCoords[2 * groupCount] = gx;
        groupCoords[2 * groupCount + 1] = gy;
        for (std::size_t k = i + 1; k < points.count; ++k) {
            if (points.x(k) == gx && points.y(k) == gy) groupIndex[k] = static_cast<double>(groupCount);
        }
        ++groupCount;
    }
    return groupCount;
}

// Runs both on the same view and compares every output bit, including the
// untouched tail of groupCoords.
void expectSameAsScan(const PointView& points) {
    const std::size_t n = points.count;
    std::vector<double> index(n, kUntouched), coords(2 * n, kUntouched);
    std::vector<double> refIndex(n, kUntouched), refCoords(2 * n, kUntouched);
    const std::size_t count = groupPoints(points, index.data(), coords.data());
    const std::size_t refCount = referenceScan(points, refIndex.data(), refCoords.data());
    ASSERT_EQ(count, refCount);
    for (std::size_t k = 0; k < n; ++k) {
        ASSERT_EQ(std::memcmp(&index[k], &refIndex[k], sizeof(double)), 0)
            << "groupIndex[" << k << "] " << index[k] << " vs " << refIndex[k] << " (x " << points.x(k)
            << ", y " << points.y(k) << ")";
    }
    for (std::size_t j = 0; j < 2 * n; ++j) {
        ASSERT_EQ(std::memcmp(&coords[j], &refCoords[j], sizeof(double)), 0)
            << "groupCoords[" << j << "] " << coords[j] << " vs " << refCoords[j];
    }
}

// Coordinates that the grouping treats in different ways: small whole numbers
// (many repeats), their fractional neighbours and negative zero, NaN and
// infinities, values beyond the 32-bit range, and whole and fractional
// numbers at both ends of it.
const double kCoordinatePool[] = {
    0.0, -0.0, 1.0, -1.0, 2.0, 3.0, 7.0, 0.5, -0.5, 1.5, 1.25, -1.5, 2.9, -2.9, 7.000000000000001,
    kNaN, -kNaN, kInf, -kInf, 1e300, -1e300, 3e9, -3e9, 4294967296.0,
    2147483647.0, 2147483647.5, 2147483646.0, 2147483648.0,
    kIntMin, -2147483648.5, -2147483647.0, -2147483649.0, std::nextafter(kIntMin, 0.0),
};

TEST(GroupPoints, SameAsTheScanOnSeededRandomTables) {
    constexpr std::size_t kPoolSize = sizeof kCoordinatePool / sizeof kCoordinatePool[0];
    std::mt19937_64 random(20261209);
    for (int trial = 0; trial < 3000; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        // A pool prefix of random length: short prefixes give many
        // duplicates, long ones NaN and range-limit values.
        const std::size_t poolUsed = 1 + random() % kPoolSize;
        const std::size_t n = random() % 200;
        const bool asPairs = trial % 2 == 1;
        std::vector<double> data(n * (asPairs ? 2 : 6));
        for (double& v : data) v = std::nan("1");  // unused elements must not matter
        const PointView view = asPairs ? PointView::pairs(data.data(), n) : PointView::table(data.data(), n);
        for (std::size_t k = 0; k < n; ++k) {
            data[k * view.stride + view.xOffset] = kCoordinatePool[random() % poolUsed];
            data[k * view.stride + view.yOffset] = kCoordinatePool[random() % poolUsed];
        }
        expectSameAsScan(view);
        if (HasFatalFailure()) return;
    }
}

// Many distinct pairs, so that the pair memory grows several times, with
// repeats and fractional points that reopen or take over groups.
TEST(GroupPoints, SameAsTheScanWithThousandsOfGroups) {
    std::mt19937_64 random(7);
    std::vector<double> data;
    for (int k = 0; k < 6000; ++k) {
        double x = static_cast<double>(random() % 90);
        double y = static_cast<double>(random() % 90);
        if (random() % 4 == 0) x += 0.5;
        if (random() % 8 == 0) y = -y - 0.25;
        data.push_back(x);
        data.push_back(y);
    }
    expectSameAsScan(PointView::pairs(data.data(), data.size() / 2));
}

TEST(GroupPoints, PairsViewGroupsLikeTheTable) {
    const double pairs[] = {1.5, 2, 1.7, 2, 1, 2, 3, 4};
    const double table[] = {9, 9, 1.5, 2, 9, 9, 9, 9, 1.7, 2, 9, 9, 9, 9, 1, 2, 9, 9, 9, 9, 3, 4};
    std::vector<double> a(4), ac(8, kUntouched), b(4), bc(8, kUntouched);
    EXPECT_EQ(groupPoints(PointView::pairs(pairs, 4), a.data(), ac.data()), 3u);
    EXPECT_EQ(groupPoints(PointView::table(table, 4), b.data(), bc.data()), 3u);
    EXPECT_EQ(a, (std::vector<double>{0, 1, 1, 2}));
    EXPECT_EQ(a, b);
    EXPECT_EQ(ac, bc);
}

TEST(TruncateCoordinate, TowardZeroAndInt32MinOutsideTheRange) {
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    const std::vector<std::pair<double, std::int32_t>> cases = {
        {3.9, 3},
        {-3.9, -3},
        {-0.0, 0},
        {-0.9, 0},
        {2147483647.0, 2147483647},
        {2147483647.9, 2147483647},
        {2147483648.0, kMin},
        {kIntMin, kMin},
        {-2147483648.9, kMin},  // truncates to int32 min itself
        {-2147483649.0, kMin},
        {1e300, kMin},
        {kInf, kMin},
        {-kInf, kMin},
        {kNaN, kMin},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(truncateCoordinate(value), expected) << "value " << value;
    }
}

}  // namespace
