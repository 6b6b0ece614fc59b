#include "linematch/upper_bound.hpp"

#include "linematch/ground_truth.hpp"
#include "linematch/pair_records.hpp"

#include <cstdio>
#include <cstdlib>

namespace linematch {

UpperBoundRun groundTruthSeededRun(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                                   const cv::Matx33d& truth, cv::Size image2Size, const TransferSettings& settings,
                                   int threads) {
    UpperBoundRun run;
    run.seeds = selectSeeds(segments1, segments2, truth, {}, {});
    std::vector<SeedPair> pairs = buildPairRecords(segments1, segments2, run.seeds, {});
    for (SeedPair& r : pairs) {
        // The example's files hold the homographies with 12 significant
        // digits; the same rounding gives the same run.
        for (double& value : r.record.homography) {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%.12g", value);
            value = std::strtod(buffer, nullptr);
        }
    }
    run.records = static_cast<int>(pairs.size());
    const lineharvest::RasterWindow window{0, image2Size.height, 0, image2Size.width};
    const lineharvest::GridIndex grid = lineharvest::GridIndex::build(
        {segments2.empty() ? nullptr : segments2.front().data(), static_cast<int>(segments2.size())},
        settings.cellSize, window, settings.gridMargin);
    for (const lineharvest::Correspondence& c : transferRound(segments1, segments2, pairs, grid, settings, threads))
        run.added.push_back({c.image1Segment, c.image2Segment});
    return run;
}

}  // namespace linematch
