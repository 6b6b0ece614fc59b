// The plain-text files the matcher writes: segments (x1 y1 x2 y2 per line),
// matches (0-based "i w" per line) and the matches' confidences (one
// "%.4f" per line, in the order of the matches).
#pragma once

#include "linematch/types.hpp"

#include <string>
#include <vector>

namespace linematch {

// Coordinates as "%.3f" when that reads back to the same double, otherwise
// with all the digits needed. std::runtime_error when the file cannot be
// written.
void writeSegmentFile(const std::string& path, const std::vector<Segment>& segments);
void writeMatchFile(const std::string& path, const std::vector<SegmentMatch>& matches);
// The files' text.
std::string segmentFileText(const std::vector<Segment>& segments);
std::string matchFileText(const std::vector<SegmentMatch>& matches);
std::string confidenceFileText(const std::vector<double>& confidence);

// Reads a segment file back. std::runtime_error naming the line on a line
// that is not four finite numbers.
std::vector<Segment> readSegmentFile(const std::string& path);

}  // namespace linematch
