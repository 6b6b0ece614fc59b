// The last check of a correspondence: the correspondences around it must
// agree with it. A homography is fitted to the lines of its nearest other
// correspondences (trimmed once, so that a few false ones among them do not
// pull the fit), and the correspondence is kept when that homography carries
// its image-1 segment onto its image-2 segment's line. Between parallel
// strokes a few pixels apart, where a two-seed homography cannot tell the
// strokes apart, the many lines around a segment can.
#pragma once

#include "linematch/types.hpp"

#include <vector>

namespace linematch {

struct VerificationSettings {
    bool enabled = true;
    int neighbours = 12;          // nearest other correspondences (image-1 midpoints)
    double maxDistance = 120.0;   // farthest neighbour, pixels
    int minNeighbours = 6;        // fewer: the correspondence cannot be judged and is kept
    double trimShare = 0.3;       // share of the worst-fitting neighbours dropped before the refit
    double lineDistance = 2.0;    // both mapped endpoints within this of the partner's line
};

// What the verification of one matcher run decided, for its next rounds
// to reuse (the matcher's own; see matcher/src/round_memos.hpp).
struct VerificationMemo;

// keep[k] for matches[k]. Only the entries flagged in `judge` are judged
// (all when judge is empty); every match serves as a neighbour. The judged
// matches are shared out among `threads` threads; the result does not
// depend on their number.
std::vector<char> verifyByNeighbours(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                                     const std::vector<SegmentMatch>& matches, const std::vector<char>& judge,
                                     const VerificationSettings& settings, int threads = 1,
                                     VerificationMemo* memo = nullptr);

}  // namespace linematch
