#include "linematch/upper_bound.hpp"

#include "example_prep.hpp"

#include <cstdio>
#include <cstdlib>

namespace linematch {

UpperBoundRun groundTruthSeededRun(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                                   const cv::Matx33d& truth, cv::Size image2Size, const TransferSettings& settings) {
    UpperBoundRun run;
    const auto seeds = lhprep::selectSeeds(segments1, segments2, truth, {}, {});
    const auto records = lhprep::buildPairRecords(segments1, segments2, seeds, {});
    for (const auto& s : seeds) run.seeds.push_back({s.image1Segment, s.image2Segment});
    std::vector<SeedPair> pairs;
    for (const auto& r : records) {
        // The example's files hold the homographies with 12 significant
        // digits; the same rounding gives the same run.
        cv::Matx33d h;
        for (int k = 0; k < 9; ++k) {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%.12g", r.homography.val[k]);
            h.val[k] = std::strtod(buffer, nullptr);
        }
        pairs.push_back({r.seedA, r.seedB, h, 0});
    }
    run.records = static_cast<int>(pairs.size());
    const lineharvest::RasterWindow window{0, image2Size.height, 0, image2Size.width};
    const lineharvest::GridIndex grid = lineharvest::GridIndex::build(
        {segments2.empty() ? nullptr : segments2.front().data(), static_cast<int>(segments2.size())},
        settings.cellSize, window, settings.gridMargin);
    for (const TransferMatch& t : transferRound(segments1, segments2, run.seeds, pairs, grid, settings))
        run.added.push_back(t.match);
    return run;
}

}  // namespace linematch
