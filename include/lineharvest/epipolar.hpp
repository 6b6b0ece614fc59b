// Epipolar screen of segment pairs: which image-2 segments lie inside the
// band that the epipolar lines of an image-1 segment's endpoints cut out.
#pragma once

#include "lineharvest/types.hpp"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace lineharvest {

// The 0/1 candidate matrix, row-major: element i*segments2.count + w is 1
// when image-2 segment w is an epipolar candidate of image-1 segment i under
// the 3x3 matrix epipolarMatrix (row-major, nine doubles) and ratioThreshold
// (a ratio must lie strictly below it). HarvestError("badCount") for a
// negative count.
std::vector<std::uint8_t> epipolarCandidates(SegmentArray segments1, SegmentArray segments2,
                                             const double* epipolarMatrix, double ratioThreshold);

// The text of Ecandidates.txt: numRows rows of numColumns tokens "0 " / "1 ",
// each row ended by a line end.
void writeEpipolarCandidates(std::ostream& out, const std::vector<std::uint8_t>& matrix, int numRows,
                             int numColumns);
// Replaces the file. HarvestError("outputFile") when it cannot be written.
void writeEpipolarCandidates(const std::string& path, const std::vector<std::uint8_t>& matrix, int numRows,
                             int numColumns);

}  // namespace lineharvest
