// Pair records and the pair index table the transfer reads: two seeds
// (segment correspondences) give a local homography, every seed is paired
// with its nearest seeds, and every image-1 segment lists the records whose
// seeds lie nearest to it. The example preparation, the ground-truth-seeded
// run and the matcher's transfer rounds make them the same way.
#pragma once

#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <vector>

namespace linematch {

struct PairRecordSettings {
    int neighbours = 4;              // nearest seeds paired with each seed
    double maxSeedDistance = 150.0;  // between the two seeds' image-1 midpoints
    double minSpread = 8.0;          // least height of any triangle of the four endpoints
};

// Homography from the endpoint correspondences of two seeds (a1 <-> a2,
// b1 <-> b2), with the crossing of their lines as a fifth correspondence
// when the lines cross at a clear angle near the seeds. Returns false, and
// leaves homography unspecified, when three of the image-1 endpoints are
// within minSpread of a line, when the estimate mirrors the plane or
// sends a point between the seeds to infinity, or when it does not carry
// each seed onto its partner's line the same way round.
bool estimateLocalHomography(const Segment& a1, const Segment& a2, const Segment& b1,
                             const Segment& b2, double minSpread, cv::Matx33d& homography);

// Pairs every seed with its nearest seeds in image 1 (through a grid over
// their midpoints, ties to the lower index) and estimates the local
// homography of each pair; each unordered pair appears once.
std::vector<SeedPair> buildPairRecords(const std::vector<Segment>& segments1,
                                       const std::vector<Segment>& segments2,
                                       const std::vector<SegmentMatch>& seeds,
                                       const PairRecordSettings& settings);

// For every image-1 segment the pairsPerSegment records whose two image-1
// seed segments lie nearest its midpoint (sum of the two point-to-segment
// distances), nearest first; padded with the nearest when there are fewer
// records; ties go to the lower record index. Row-major, segments1.size()
// rows (none without records), record indices held as doubles: the pair
// index table as the lineharvest transfer reads it. Found through a grid
// over the seed segments (spatial_index.hpp), the rows shared out among
// `threads` threads.
std::vector<double> pairIndexTable(const std::vector<Segment>& segments1, const std::vector<SeedPair>& records,
                                   int pairsPerSegment, int threads = 1);

// The same table, row i holding the record indices of segment i (empty
// rows without records).
std::vector<std::vector<int>> buildPairIndexTable(const std::vector<Segment>& segments1,
                                                  const std::vector<SeedPair>& records, int pairsPerSegment,
                                                  int threads = 1);

// Distance from (x, y) to the closed segment s (to its first endpoint when
// s has length 0).
double pointSegmentDistance(double x, double y, const Segment& s);

}  // namespace linematch
