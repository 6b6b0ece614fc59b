#include "point_grouping.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

using coordsift::groupPoints;
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
