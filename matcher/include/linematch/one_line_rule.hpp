// One edge has one partner line. An image-1 segment may correspond to
// several image-2 segments when the detector broke the partner edge into
// pieces, but those pieces lie on one line; two partners on different
// lines mean that at least one of them is a neighbouring stroke or the next
// period of a repeated pattern, and nothing tells which. The same holds the
// other way round.
#pragma once

#include "linematch/types.hpp"

#include <vector>

namespace linematch {

// For every match flagged in `judge`: false when another match of the list
// gives its image-1 segment a partner that is not on its partner's line,
// or its image-2 segment a partner that is not on its image-1 segment's
// line (both endpoints within sameLineDistance of the line count as on
// it). Entries not judged are true.
std::vector<char> singlePartnerLine(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                                    const std::vector<SegmentMatch>& matches, const std::vector<char>& judge,
                                    double sameLineDistance);

}  // namespace linematch
