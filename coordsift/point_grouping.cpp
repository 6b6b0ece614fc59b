#include "coordsift/point_grouping.hpp"

#include "group_table.hpp"

#include <limits>

namespace coordsift {

std::int32_t truncateCoordinate(double value) noexcept {
    constexpr std::int32_t kInvalid = std::numeric_limits<std::int32_t>::min();
    // Exactly the values whose truncation fits pass (NaN fails both tests);
    // for them the conversion, which truncates toward zero, is defined.
    if (value > -2147483649.0 && value < 2147483648.0) {
        return static_cast<std::int32_t>(value);
    }
    return kInvalid;
}

namespace {

// A coordinate can equal a group's pair member only when it is exactly that
// 32-bit integer: a whole number in range (-0 counts as 0). NaN, fractions and
// values outside the range equal no pair member.
bool asPairMember(double value, std::int32_t& member) {
    member = truncateCoordinate(value);
    return static_cast<double>(member) == value;
}

}  // namespace

// In the scan, the groups that claim point k are exactly the groups opened
// before k whose pair equals k's own coordinates, and they claim it in the
// order they were opened. So k ends in the last of them, and opens a group of
// its own when there is none. Keeping, for every pair, the last group opened
// with it answers both questions with one lookup per point.
std::size_t groupPoints(PointView points, double* groupIndex, double* groupCoords) {
    GroupTable lastGroupWithPair;
    std::size_t groupCount = 0;
    for (std::size_t k = 0; k < points.count; ++k) {
        const double x = points.x(k);
        const double y = points.y(k);
        std::int32_t px = 0;
        std::int32_t py = 0;
        if (asPairMember(x, px) && asPairMember(y, py)) {
            const std::size_t claimed = lastGroupWithPair.find(px, py);
            if (claimed != GroupTable::kNone) {
                groupIndex[k] = static_cast<double>(claimed);
                continue;
            }
        }
        // Point k opens a group; its pair is its coordinates truncated,
        // whether or not they were whole numbers.
        const std::int32_t gx = truncateCoordinate(x);
        const std::int32_t gy = truncateCoordinate(y);
        lastGroupWithPair.assign(gx, gy, groupCount);
        groupIndex[k] = static_cast<double>(groupCount);
        groupCoords[2 * groupCount] = gx;
        groupCoords[2 * groupCount + 1] = gy;
        ++groupCount;
    }
    return groupCount;
}

}  // namespace coordsift
