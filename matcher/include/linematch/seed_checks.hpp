// Checks of descriptor seeds without ground truth. A seed is a claim that
// two segments are the same edge; in a mostly planar scene its neighbours'
// claims must agree with it. Every pair of nearby seeds gives a local
// homography (endpoints and line crossing, as the example's pair records
// are made); the other seeds near the pair vote for it when that homography
// carries their image-1 segment onto their partner's line. Then:
//   - neighbour support: a seed that no pair of its own gathers enough
//     votes for is dropped (a false seed's pairs carry nothing onto its
//     neighbours' partners);
//   - pair agreement: a pair record is kept only when its own homography
//     gathers enough votes, so two seeds that disagree make no record;
//   - line refit: a kept record's homography is fitted again to the lines
//     of its two seeds and its voters (points on lines, not endpoints),
//     which repairs records whose seeds' endpoints disagree.
#pragma once

#include "linematch/line_geometry.hpp"
#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <vector>

namespace linematch {

struct SeedCheckSettings {
    int neighbours = 8;               // nearest seeds (image-1 midpoints) paired with each seed
    double maxSeedDistance = 150.0;   // farthest partner, pixels between image-1 midpoints
    double minSpread = 8.0;           // no three image-1 endpoints of a pair nearer a line than this
    double voteDistance = 3.0;        // a voter's mapped endpoints within this of its partner's line
    int minVotes = 2;                 // votes a pair needs
    bool neighbourSupport = true;     // drop seeds without a supported pair
    bool pairAgreement = true;        // drop records without enough votes
    bool lineRefit = true;            // refit kept records to lines
    double refitPointWeight = 0.1;    // weight of the two seeds' endpoints in the refit
};

// What the checks of one matcher run worked out, for its next rounds to
// reuse (the matcher's own; see matcher/src/round_memos.hpp).
struct SeedCheckMemo;

struct SeedCheckResult {
    std::vector<char> seedKept;    // per seed
    std::vector<SeedPair> records; // pairs of kept seeds, each unordered pair once, seedA < seedB
    int pairsTried = 0;            // pairs with a homography
};

// The seeds' pairs and records are shared out among `threads` threads; the
// result does not depend on their number.
// With a memo, what it holds is not worked out again and what is worked
// out is added to it; the result is the same as without.
SeedCheckResult checkSeeds(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                           const std::vector<SegmentMatch>& seeds, const SeedCheckSettings& settings,
                           int threads = 1, SeedCheckMemo* memo = nullptr);

}  // namespace linematch
