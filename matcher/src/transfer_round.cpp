#include "linematch/transfer_round.hpp"

#include "linematch/pair_records.hpp"

#include "lineharvest/transfer.hpp"

namespace linematch {

// The core reads the segment lists in place as runs of four doubles.
static_assert(sizeof(Segment) == 4 * sizeof(double), "Segment must be four packed doubles");

std::vector<lineharvest::Correspondence> transferRound(const std::vector<Segment>& segments1,
                                                       const std::vector<Segment>& segments2,
                                                       const std::vector<SeedPair>& records,
                                                       const lineharvest::GridIndex& grid,
                                                       const TransferSettings& settings, int threads) {
    if (records.empty() || segments1.empty() || segments2.empty()) return {};
    const std::vector<double> table = pairIndexTable(segments1, records, settings.pairsPerSegment, threads);

    lineharvest::TransferInput input;
    input.segments1 = {segments1.front().data(), static_cast<int>(segments1.size())};
    input.segments2 = {segments2.front().data(), static_cast<int>(segments2.size())};
    // Each SeedPair holds its core record, so the core reads them where they are.
    input.pairRecords =
        lineharvest::pairRecordView(&records.front().record, static_cast<int>(records.size()), sizeof(SeedPair));
    input.pairIndexTable = {table.data(), settings.pairsPerSegment};
    input.thresholds = settings.thresholds;
    return lineharvest::addCandidates(input, grid, threads);
}

}  // namespace linematch
