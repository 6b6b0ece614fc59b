// Building blocks of the example preparation: ground-truth segment
// correspondences under a known homography, seed selection, pair records
// with local homographies, and the pair index table that lineharvest reads.
#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <cstdint>
#include <vector>

namespace lhprep {

// x1, y1, x2, y2 in pixel coordinates; direction from the first endpoint to
// the second.
using Segment = std::array<double, 4>;

struct Correspondence {
    int image1Segment;
    int image2Segment;
};

// When a segment of image 1, carried into image 2 by the ground-truth
// homography, counts as the same edge as an image-2 segment.
struct TruthCriterion {
    double maxDistance = 2.0;   // both mapped endpoints to the image-2 line, pixels
    double minOverlap = 0.5;    // common part / shorter of the two segments
};

// One pair record as lineharvest reads it: two seed correspondences and the
// homography estimated from them.
struct SeedSettings {
    double fraction = 0.3;        // share of the eligible true matches kept
    double minLength = 25.0;      // shortest image-1 segment, pixels
    double minExtentMatch = 0.8;  // common part / longer of the two segments
    std::uint32_t randomSeed = 1;
};

struct PairRecord {
    int seedA;                    // index into the seed list
    int seedB;
    cv::Matx33d homography;       // image 1 -> image 2
};

struct PairSettings {
    int neighbours = 4;              // nearest seeds paired with each seed
    double maxSeedDistance = 150.0;  // between the two seeds' image-1 midpoints
    double minSpread = 8.0;          // least height of any triangle of the four endpoints
};

// Maps a segment's endpoints with a homography (NaN endpoints when a point
// goes to infinity).
Segment mapSegment(const cv::Matx33d& h, const Segment& s);

// True when mapped (already in image-2 coordinates) lies on candidate: both
// endpoints within maxDistance of candidate's line, the two run the same
// way, and their common part along candidate's line covers minOverlap of
// the shorter one. commonLength receives that common part (0 when rejected
// before the overlap is measured).
bool isTrueCorrespondence(const Segment& mapped, const Segment& candidate,
                          const TruthCriterion& criterion, double* commonLength = nullptr);

// Every (i, w) pair that the criterion accepts, by increasing i, then w.
std::vector<Correspondence> truthPairs(const std::vector<Segment>& segments1,
                                       const std::vector<Segment>& segments2,
                                       const cv::Matx33d& truth, const TruthCriterion& criterion);

// One-to-one subset of the truth pairs, taking the pairs of longest common
// part first. Of those whose image-1 segment is at least settings.minLength
// long and whose common part covers settings.minExtentMatch of the longer
// segment, the share settings.fraction is kept, drawn with a fixed random
// seed. The result is sorted by image-1 index.
std::vector<Correspondence> selectSeeds(const std::vector<Segment>& segments1,
                                        const std::vector<Segment>& segments2,
                                        const cv::Matx33d& truth, const TruthCriterion& criterion,
                                        const SeedSettings& settings);

// Homography from the endpoint correspondences of two seeds (a1 <-> a2,
// b1 <-> b2), with the crossing of their lines as a fifth correspondence
// when the lines cross at a clear angle near the seeds. Returns false, and
// leaves homography unspecified, when three of the image-1 endpoints are
// within minSpread of a line, when the estimate mirrors the plane or
// sends a point between the seeds to infinity, or when it does not carry
// each seed onto its partner's line the same way round.
bool estimateLocalHomography(const Segment& a1, const Segment& a2, const Segment& b1,
                             const Segment& b2, double minSpread, cv::Matx33d& homography);

// Pairs every seed with its nearest seeds in image 1 and estimates the
// local homography of each pair; each unordered pair appears once.
std::vector<PairRecord> buildPairRecords(const std::vector<Segment>& segments1,
                                         const std::vector<Segment>& segments2,
                                         const std::vector<Correspondence>& seeds,
                                         const PairSettings& settings);

// For every image-1 segment the pairsPerSegment records whose two seed
// segments are nearest to its midpoint (sum of the two point-to-segment
// distances), nearest first. Row i holds the record indices of segment i.
// When there are fewer records than pairsPerSegment the list is padded by
// repeating the nearest one.
std::vector<std::vector<int>> buildPairIndexTable(const std::vector<Segment>& segments1,
                                                  const std::vector<Correspondence>& seeds,
                                                  const std::vector<PairRecord>& records,
                                                  int pairsPerSegment);

double segmentLength(const Segment& s);
double pointSegmentDistance(double x, double y, const Segment& s);

}  // namespace lhprep
