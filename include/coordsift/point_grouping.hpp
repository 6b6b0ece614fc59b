// Groups points by their coordinates. Plain C++: it knows nothing of MATLAB,
// so any caller can run it on its own arrays.
#pragma once

#include <cstddef>
#include <cstdint>

namespace coordsift {

// Number of doubles in one record of the point table; x and y sit at these
// offsets.
constexpr std::size_t kRecordLength = 6;
constexpr std::size_t kRecordX = 2;
constexpr std::size_t kRecordY = 3;

// A read-only view of count points in the caller's memory: point k has its x
// at data[k*stride + xOffset] and its y at data[k*stride + yOffset]. Nothing
// else is read.
struct PointView {
    const double* data = nullptr;
    std::size_t count = 0;
    std::size_t stride = kRecordLength;
    std::size_t xOffset = kRecordX;
    std::size_t yOffset = kRecordY;

    // The point table: one record of six doubles per point, x at 2, y at 3
    // (a 6-row MATLAB matrix). The last record may end right after its y.
    static PointView table(const double* data, std::size_t count) {
        return {data, count, kRecordLength, kRecordX, kRecordY};
    }
    // Plain coordinate pairs x0 y0 x1 y1 ... (a row-major (n, 2) array, or a
    // 2-row MATLAB matrix).
    static PointView pairs(const double* data, std::size_t count) { return {data, count, 2, 0, 1}; }

    double x(std::size_t k) const { return data[k * stride + xOffset]; }
    double y(std::size_t k) const { return data[k * stride + yOffset]; }
};

// A coordinate as the 32-bit integer that represents it in a group: truncated
// toward zero, and INT32_MIN for NaN or for a value whose truncation does not
// fit in 32 bits. Defined for every double, unlike a plain static_cast.
std::int32_t truncateCoordinate(double value) noexcept;

// Numbers the groups of equal coordinates among the points and returns how
// many groups there are.
//
// The rule is that of a scan in point order: a point opens group g (g counting
// from 0 in point order) when no earlier group has taken it; its coordinates,
// truncated, become the group's pair. Every later point whose own untruncated
// x and y are exactly equal to that pair is then given g, even if an earlier
// group took it before: the last group to claim a point keeps it. NaN equals
// nothing, -0 equals 0; a group's first point always keeps its own group.
//
// The scan would be quadratic when points differ; this runs in time linear in
// the number of points, with the same results bit for bit, by remembering for
// every pair the last group that has it (extra memory O(groups)).
//
// Outputs, in the caller's memory:
//  - groupIndex[k] (points.count doubles, every one written): point k's group;
//  - groupCoords (room for 2*points.count doubles): entries 2g and 2g+1 get
//    the pair of group g; entries from 2*(returned count) on are not touched.
// Throws std::bad_alloc when the working memory cannot be had; the outputs
// are then partly written.
std::size_t groupPoints(PointView points, double* groupIndex, double* groupCoords);

// The same on the point table (PointView::table).
inline std::size_t groupPoints(const double* pointTable, std::size_t pointCount, double* groupIndex,
                               double* groupCoords) {
    return groupPoints(PointView::table(pointTable, pointCount), groupIndex, groupCoords);
}

}  // namespace coordsift
