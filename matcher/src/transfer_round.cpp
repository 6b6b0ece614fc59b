#include "linematch/transfer_round.hpp"

#include "linematch/spatial_index.hpp"

#include "lineharvest/transfer.hpp"

namespace linematch {

// The core reads the segment lists in place as runs of four doubles.
static_assert(sizeof(Segment) == 4 * sizeof(double), "Segment must be four packed doubles");

std::vector<lineharvest::PairRecord> pairRecordArray(const std::vector<SegmentMatch>& seeds,
                                                     const std::vector<SeedPair>& records) {
    std::vector<lineharvest::PairRecord> data;
    data.reserve(records.size());
    for (const SeedPair& r : records) {
        lineharvest::PairRecord record{};
        record.image1SegmentA = seeds[r.seedA].image1Segment;
        record.image1SegmentB = seeds[r.seedB].image1Segment;
        record.image2SegmentA = seeds[r.seedA].image2Segment;
        record.image2SegmentB = seeds[r.seedB].image2Segment;
        for (int k = 0; k < 9; ++k) record.homography[k] = r.homography.val[k];
        data.push_back(record);
    }
    return data;
}

std::vector<double> pairIndexTable(const std::vector<Segment>& segments1, const std::vector<SegmentMatch>& seeds,
                                   const std::vector<SeedPair>& records, int pairsPerSegment, int threads) {
    std::vector<cv::Point2d> midpoints;
    midpoints.reserve(segments1.size());
    for (const Segment& s : segments1) midpoints.emplace_back((s[0] + s[2]) / 2, (s[1] + s[3]) / 2);
    std::vector<std::array<int, 2>> pairs;
    pairs.reserve(records.size());
    for (const SeedPair& r : records) pairs.push_back({seeds[r.seedA].image1Segment, seeds[r.seedB].image1Segment});
    const std::vector<int> rows = nearestSegmentPairs(midpoints, segments1, pairs, pairsPerSegment, threads);
    return std::vector<double>(rows.begin(), rows.end());
}

std::vector<TransferMatch> transferRound(const std::vector<Segment>& segments1,
                                         const std::vector<Segment>& segments2,
                                         const std::vector<SegmentMatch>& seeds,
                                         const std::vector<SeedPair>& records, const lineharvest::GridIndex& grid,
                                         const TransferSettings& settings, int threads) {
    std::vector<TransferMatch> added;
    if (records.empty() || segments1.empty() || segments2.empty()) return added;
    const std::vector<lineharvest::PairRecord> recordData = pairRecordArray(seeds, records);
    const std::vector<double> table =
        pairIndexTable(segments1, seeds, records, settings.pairsPerSegment, threads);

    lineharvest::TransferInput input;
    input.segments1 = {segments1.front().data(), static_cast<int>(segments1.size())};
    input.segments2 = {segments2.front().data(), static_cast<int>(segments2.size())};
    input.pairRecords = lineharvest::pairRecordView(recordData.data(), static_cast<int>(recordData.size()));
    input.pairIndexTable = {table.data(), settings.pairsPerSegment};
    input.thresholds = settings.thresholds;
    for (const lineharvest::Correspondence& c : lineharvest::addCandidates(input, grid, threads))
        added.push_back({{c.image1Segment, c.image2Segment}, c.pairRecord});
    return added;
}

}  // namespace linematch
