// The grid searches must give exactly what scanning every candidate and
// sorting by (distance, index) gives, ties included: coordinates on a small
// integer lattice make many distances equal.
#include "linematch/pair_records.hpp"
#include "spatial_index.hpp"
#include "linematch/transfer_round.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using linematch::Segment;

// The pair index table by scanning every record.
std::vector<double> allRecordsTable(const std::vector<Segment>& segments1,
                                    const std::vector<linematch::SegmentMatch>& seeds,
                                    const std::vector<linematch::SeedPair>& records, int k) {
    std::vector<double> table;
    for (const Segment& s : segments1) {
        const double x = (s[0] + s[2]) / 2, y = (s[1] + s[3]) / 2;
        std::vector<std::pair<double, int>> all;
        for (std::size_t r = 0; r < records.size(); ++r)
            all.emplace_back(linematch::pointSegmentDistance(x, y, segments1[seeds[records[r].seedA].image1Segment]) +
                                 linematch::pointSegmentDistance(x, y, segments1[seeds[records[r].seedB].image1Segment]),
                             static_cast<int>(r));
        std::sort(all.begin(), all.end());
        for (int j = 0; j < k; ++j) table.push_back(all[j < static_cast<int>(all.size()) ? j : 0].second);
    }
    return table;
}

TEST(PairIndexTable, SameAsScanningEveryRecord) {
    struct Case {
        int segments, seeds, records, k;
        int span;        // coordinates in [0, span]
        int farOnes;     // segments placed 50 spans away from the others
    };
    const Case cases[] = {
        {40, 2, 1, 4, 12, 0},      // fewer records than k: padded with the nearest
        {60, 5, 3, 4, 12, 2},
        {200, 40, 60, 4, 12, 0},   // many ties
        {300, 80, 150, 1, 20, 3},
        {150, 30, 40, 7, 8, 0},
        {120, 20, 10, 4, 3000, 5}, // sparse: the rings grow far
    };
    for (const Case& c : cases) {
        std::mt19937 random(static_cast<unsigned>(c.segments * 7 + c.records));
        const auto coordinate = [&] { return static_cast<double>(random() % static_cast<unsigned>(c.span + 1)); };
        std::vector<Segment> segments;
        for (int s = 0; s < c.segments; ++s) {
            Segment g{coordinate(), coordinate(), coordinate(), coordinate()};
            if (s % 17 == 0) g[2] = g[0], g[3] = g[1];  // a point
            if (s < c.farOnes)
                for (double& v : g) v += 50.0 * c.span;
            segments.push_back(g);
        }
        std::vector<linematch::SegmentMatch> seeds;
        for (int s = 0; s < c.seeds; ++s)
            seeds.push_back({static_cast<int>(random() % static_cast<unsigned>(c.segments)), s});
        std::vector<linematch::SeedPair> records;
        for (int r = 0; r < c.records; ++r) {
            // Two seeds may share their image-1 segment.
            const int a = static_cast<int>(random() % static_cast<unsigned>(c.seeds));
            const int b = static_cast<int>(random() % static_cast<unsigned>(c.seeds));
            records.push_back(linematch::makeSeedPair(seeds, a, b, cv::Matx33d::eye()));
        }
        const std::vector<double> expected = allRecordsTable(segments, seeds, records, c.k);
        for (int threads : {1, 3})
            EXPECT_EQ(linematch::pairIndexTable(segments, records, c.k, threads), expected)
                << c.segments << " segments, " << c.records << " records, k " << c.k << ", " << threads << " threads";
    }
    EXPECT_TRUE(linematch::pairIndexTable({{0, 0, 1, 1}}, {}, 4).empty());
}

TEST(PointIndex, SameAsScanningEveryPoint) {
    struct Case {
        int points;
        int span;
        int count;
        double maxDistance;
    };
    const Case cases[] = {
        {300, 10, 8, 150},  // duplicates and ties everywhere
        {300, 10, 12, 1},   // the distance limit cuts the list
        {300, 10, 400, 3.5},
        {200, 40, 1, 0},    // only coinciding points
        {50, 10000, 8, 150}, // most points have no neighbour in reach
        {50, 10000, 5, 1e5},
    };
    for (const Case& c : cases) {
        std::mt19937 random(static_cast<unsigned>(c.points + c.span));
        std::vector<cv::Point2d> points;
        for (int k = 0; k < c.points; ++k)
            points.emplace_back(static_cast<double>(random() % static_cast<unsigned>(c.span + 1)) / 2,
                                static_cast<double>(random() % static_cast<unsigned>(c.span + 1)) / 2);
        const linematch::PointIndex index(points);
        std::vector<std::pair<double, int>> found;
        for (int s = 0; s < c.points; ++s) {
            // As the seed checks do: not itself, not the ones sharing a segment.
            const auto accept = [&](int t) { return t != s && t % 5 != s % 5; };
            std::vector<std::pair<double, int>> expected;
            for (int t = 0; t < c.points; ++t) {
                if (!accept(t)) continue;
                const double d = std::hypot(points[t].x - points[s].x, points[t].y - points[s].y);
                if (d <= c.maxDistance) expected.emplace_back(d, t);
            }
            std::sort(expected.begin(), expected.end());
            if (static_cast<int>(expected.size()) > c.count) expected.resize(c.count);
            index.nearest(points[s], c.count, c.maxDistance, accept, found);
            ASSERT_EQ(found, expected) << c.points << " points, span " << c.span << ", query " << s;
        }
    }
}

}  // namespace
