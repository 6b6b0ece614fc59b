// The candidate transfer: every image-1 segment is mapped into image 2 by the
// homographies of its listed pair records, the image-2 segments in the grid
// cells along the mapped segment are tested (distance, angle, overlap), and
// the first accepted new one per (segment, record) becomes a correspondence.
#pragma once

#include "lineharvest/errors.hpp"
#include "lineharvest/grid_index.hpp"
#include "lineharvest/types.hpp"

#include <iosfwd>
#include <string>
#include <vector>

namespace lineharvest {

struct TransferInput {
    SegmentArray segments1;
    SegmentArray segments2;
    PairRecordArray pairRecords;
    PairIndexTable pairIndexTable;  // segments1.count runs of pairsPerSegment entries
    Thresholds thresholds;
};

// Mapped segments longer than 7000 pixels are not looked up; rasters are cut
// after 5900 pixels.
constexpr double kMaxSquaredMappedLength = 49000000.0;
constexpr int kRasterCapacity = 5900;

// HarvestError when an input cannot be used: "badCount" (a negative count),
// "badScalar" (a NaN threshold), "badPairRecord" (a record's segment index
// outside the segment counts), "badPairIndex" (a table entry that is not a
// record index), "gridEntry" (a grid entry that is not an image-2 index).
void checkTransferInput(const TransferInput& input, const GridIndex& grid);

// Runs the transfer after checkTransferInput and returns the correspondences
// in file order: increasing i, and for one i in the order of its table
// entries. threads >= 1 image-1 segments are processed in parallel; the
// result does not depend on the thread count. Uses memory linear in the
// input; reads and writes no file.
std::vector<Correspondence> addCandidates(const TransferInput& input, const GridIndex& grid, int threads = 1);

// "i w r\n" per correspondence, exactly the text of Addcandidates.txt.
void writeCandidates(std::ostream& out, const std::vector<Correspondence>& correspondences);
// Replaces the file. HarvestError("outputFile") when it cannot be written.
void writeCandidates(const std::string& path, const std::vector<Correspondence>& correspondences);

}  // namespace lineharvest
