#include "point_grouping.hpp"

#include <cmath>
#include <limits>

namespace coordsift {

namespace {

// groupIndex itself records which points are still free, so that no memory
// beyond the outputs is needed; group numbers are never negative.
constexpr double kUnassigned = -1.0;

}  // namespace

std::int32_t truncateCoordinate(double value) noexcept {
    constexpr std::int32_t kInvalid = std::numeric_limits<std::int32_t>::min();
    if (std::isnan(value)) {
        return kInvalid;
    }
    // Range-check the truncated value first: converting an out-of-range
    // double to an integer is undefined behaviour in C++.
    const double truncated = std::trunc(value);
    if (truncated < -2147483648.0 || truncated > 2147483647.0) {
        return kInvalid;
    }
    return static_cast<std::int32_t>(truncated);
}

std::size_t groupPoints(const double* pointTable, std::size_t pointCount, double* groupIndex,
                        double* groupCoords) noexcept {
    for (std::size_t i = 0; i < pointCount; ++i) {
        groupIndex[i] = kUnassigned;
    }

    // Offsets are std::size_t so that any table that fits in memory can be
    // addressed; the group numbers themselves are exact in a double.
    std::size_t groupCount = 0;
    for (std::size_t i = 0; i < pointCount; ++i) {
        if (groupIndex[i] != kUnassigned) {
            continue;
        }
        const double* opener = pointTable + kRecordLength * i;
        const std::int32_t x = truncateCoordinate(opener[kRecordX]);
        const std::int32_t y = truncateCoordinate(opener[kRecordY]);
        const double groupX = x;
        const double groupY = y;
        const double group = static_cast<double>(groupCount);

        groupIndex[i] = group;
        groupCoords[2 * groupCount] = groupX;
        groupCoords[2 * groupCount + 1] = groupY;

        // Later points are compared by their own, untruncated coordinates
        // against the truncated pair, and are claimed even if an earlier group
        // took them: the last group to claim a point keeps it. The opener
        // itself is never revisited, so it always keeps its own group.
        for (std::size_t k = i + 1; k < pointCount; ++k) {
            const double* later = pointTable + kRecordLength * k;
            if (later[kRecordX] == groupX && later[kRecordY] == groupY) {
                groupIndex[k] = group;
            }
        }
        ++groupCount;
    }
    return groupCount;
}

}  // namespace coordsift
