// Groups points by their coordinates; knows nothing of MATLAB, so it can be
// tested and reused on plain arrays.
#pragma once

#include <cstddef>
#include <cstdint>

namespace coordsift {

// Number of doubles in one point record; x and y sit at these offsets.
constexpr std::size_t kRecordLength = 6;
constexpr std::size_t kRecordX = 2;
constexpr std::size_t kRecordY = 3;

// A coordinate as the 32-bit integer that represents it in a group: truncated
// toward zero, and INT32_MIN for NaN or for a value whose truncation does not
// fit in 32 bits. Defined for every double, unlike a plain static_cast.
std::int32_t truncateCoordinate(double value) noexcept;

// Numbers the groups of equal coordinates among the first pointCount records
// of pointTable and returns how many groups there are.
//
// A point opens group g (g counting from 0 in table order) when no earlier
// group has taken it; its coordinates, truncated, become the group's pair.
// Every later point whose own untruncated x and y are exactly equal to that
// pair is then given g, even if an earlier group took it before: the last
// group to claim a point keeps it.
//
// Preconditions (checked by the caller, not here):
//  - pointTable holds at least 6*(pointCount-1)+4 doubles when pointCount > 0;
//    only elements 2 and 3 of each record are read.
//  - groupIndex has room for pointCount doubles; every one is written.
//  - groupCoords has room for 2*pointCount doubles; entries 2g and 2g+1 get
//    the pair of group g, entries from 2*(returned count) on are not touched.
// Allocates nothing and does not throw.
std::size_t groupPoints(const double* pointTable, std::size_t pointCount, double* groupIndex,
                        double* groupCoords) noexcept;

}  // namespace coordsift
