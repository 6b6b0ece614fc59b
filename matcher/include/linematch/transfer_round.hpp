// One transfer round: pair records and the pair index table made from
// checked seed pairs as the example tool makes them, handed to the
// lineharvest core with an in-memory grid index of the image-2 segments.
#pragma once

#include "linematch/seed_checks.hpp"
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

// A correspondence the transfer added, with the record that found it.
struct TransferMatch {
    SegmentMatch match;
    int record;
};

// The records as lineharvest reads them: the seeds' segment indices and the
// homography.
std::vector<lineharvest::PairRecord> pairRecordArray(const std::vector<SegmentMatch>& seeds,
                                                     const std::vector<SeedPair>& records);

// For every image-1 segment the pairsPerSegment records whose two image-1
// seed segments lie nearest its midpoint (sum of the two point-to-segment
// distances), nearest first; padded with the nearest when there are fewer
// records; ties go to the lower record index. Row-major, segments1.size()
// rows (none without records). Found through a grid over the seed segments
// (see spatial_index.hpp), the rows shared out among `threads` threads.
std::vector<double> pairIndexTable(const std::vector<Segment>& segments1, const std::vector<SegmentMatch>& seeds,
                                   const std::vector<SeedPair>& records, int pairsPerSegment, int threads = 1);

// Runs the transfer on `threads` threads (the same result on any number);
// nothing when there are no records.
std::vector<TransferMatch> transferRound(const std::vector<Segment>& segments1,
                                         const std::vector<Segment>& segments2,
                                         const std::vector<SegmentMatch>& seeds,
                                         const std::vector<SeedPair>& records, const lineharvest::GridIndex& grid,
                                         const TransferSettings& settings, int threads = 1);

}  // namespace linematch
