// One transfer round: the pair index table made from checked pair records
// as the example tool makes it, and the records themselves, handed to the
// lineharvest core in place with an in-memory grid index of the image-2
// segments.
#pragma once

#include "linematch/types.hpp"

#include "lineharvest/grid_index.hpp"
#include "lineharvest/types.hpp"

#include <vector>

namespace linematch {

struct TransferSettings {
    lineharvest::Thresholds thresholds{2.0, 0.1, 0.5};
    int pairsPerSegment = 4;
    int cellSize = 10;
    int gridMargin = 3;
};

// Runs the transfer on `threads` threads (the same result on any number)
// and returns the correspondences it added, each with the index of the
// record in `records` that found it; nothing when there are no records.
std::vector<lineharvest::Correspondence> transferRound(const std::vector<Segment>& segments1,
                                                       const std::vector<Segment>& segments2,
                                                       const std::vector<SeedPair>& records,
                                                       const lineharvest::GridIndex& grid,
                                                       const TransferSettings& settings, int threads = 1);

}  // namespace linematch
