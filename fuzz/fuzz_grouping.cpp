// Fuzz target of coordsift's grouping: the linear-time grouping of the core
// must give, bit for bit, what the plain quadratic scan below gives (group
// numbers, group pairs, group count, and no write past the groups it
// reports), on point tables and on plain coordinate pairs whose values are
// drawn so that equal, truncated-equal, NaN, signed-zero and
// out-of-int-range coordinates meet often.
#include "fuzz_check.hpp"

#include "coordsift/point_grouping.hpp"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// The scan as the module has always done it: every point not yet taken opens
// a group at its truncated pair and claims every later point whose own
// coordinates equal that pair, also points an earlier group took.
std::size_t scanGroups(const coordsift::PointView& points, double* groupIndex, double* groupCoords) {
    const std::size_t n = points.count;
    std::vector<bool> taken(n, false);
    std::size_t groups = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (taken[i]) continue;
        const double x = coordsift::truncateCoordinate(points.x(i));
        const double y = coordsift::truncateCoordinate(points.y(i));
        groupIndex[i] = static_cast<double>(groups);
        taken[i] = true;
        groupCoords[2 * groups] = x;
        groupCoords[2 * groups + 1] = y;
        for (std::size_t k = i + 1; k < n; ++k) {
            if (points.x(k) == x && points.y(k) == y) {
                groupIndex[k] = static_cast<double>(groups);
                taken[k] = true;
            }
        }
        ++groups;
    }
    return groups;
}

const double kSpecial[] = {
    0.0, -0.0, 0.5, -0.5, 0.999, -0.999, 1.0, -1.0, 1.5, -1.5, 2.0, 3.0, 7.25, -7.0,
    2147483647.0, 2147483647.5, 2147483648.0, -2147483648.0, -2147483648.5, -2147483649.0,
    4294967296.0, 1e300, -1e300, 5e-324, -5e-324,
    std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
constexpr std::size_t kNumSpecial = sizeof kSpecial / sizeof kSpecial[0];

double drawCoordinate(FuzzedDataProvider& in) {
    const std::uint8_t kind = in.ConsumeIntegral<std::uint8_t>();
    if (kind < 128) return kSpecial[kind % kNumSpecial];
    if (kind < 224) return static_cast<double>(static_cast<std::int8_t>(in.ConsumeIntegral<std::uint8_t>())) / 4;
    std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    return a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

void expectSameAsScan(const coordsift::PointView& points, const char* layout) {
    const std::size_t n = points.count;
    // Outputs start as a sentinel, so that untouched entries compare too.
    const double sentinel = -12345.678;
    std::vector<double> expectedIndex(n, sentinel), expectedCoords(2 * n, sentinel);
    std::vector<double> actualIndex(n, sentinel), actualCoords(2 * n, sentinel);
    const std::size_t expectedCount = scanGroups(points, expectedIndex.data(), expectedCoords.data());
    const std::size_t actualCount = coordsift::groupPoints(points, actualIndex.data(), actualCoords.data());

    FUZZ_CHECK(actualCount == expectedCount, "%s: %zu groups, the scan finds %zu (n = %zu)", layout, actualCount,
               expectedCount, n);
    FUZZ_CHECK(sameBits(actualIndex, expectedIndex), "%s: group numbers differ from the scan (n = %zu)", layout, n);
    FUZZ_CHECK(sameBits(actualCoords, expectedCoords), "%s: group pairs differ from the scan (n = %zu)", layout, n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 512);
    // Exactly as many elements as the gateway demands, 6*(n-1)+4, so that a
    // read past the last point's y is caught. The fields the grouping does
    // not read hold NaN.
    std::vector<double> table(n == 0 ? 0 : 6 * (n - 1) + 4, std::numeric_limits<double>::quiet_NaN());
    std::vector<double> pairs(2 * n, std::numeric_limits<double>::quiet_NaN());
    for (std::size_t i = 0; i < n && in.remaining_bytes() > 0; ++i) {
        table[6 * i + 2] = drawCoordinate(in);
        // Half the time y repeats x: diagonal points meet more often.
        table[6 * i + 3] = in.ConsumeBool() ? table[6 * i + 2] : drawCoordinate(in);
    }
    for (std::size_t i = 0; i < n; ++i) {
        pairs[2 * i] = table[6 * i + 2];
        pairs[2 * i + 1] = table[6 * i + 3];
    }
    expectSameAsScan(coordsift::PointView::table(table.data(), n), "point table");
    expectSameAsScan(coordsift::PointView::pairs(pairs.data(), n), "coordinate pairs");
    return 0;
}
