// The ground-truth rule, the ground-truth seeds, local homographies, pair
// records and the pair index table.
#include "linematch/ground_truth.hpp"
#include "linematch/line_geometry.hpp"
#include "linematch/pair_records.hpp"
#include "linematch/segments.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

using linematch::SegmentMatch;
using linematch::Segment;

const cv::Matx33d kIdentity = cv::Matx33d::eye();

TEST(TrueCorrespondence, CandidateAlongTheXAxis) {
    // Candidate (0,0)-(10,0); identity unless the case says otherwise.
    struct Case {
        Segment image1;
        cv::Matx33d h;
        double distance, overlap;
        bool expected;
    };
    const Case cases[] = {
        {{2, 1, 4, 1}, kIdentity, 2, 0.5, true},
        {{2, 2, 4, 2}, kIdentity, 2, 0.5, true},        // at the distance limit
        {{2, 2.5, 4, 1}, kIdentity, 2, 0.5, false},     // first endpoint too far
        {{4, 1, 2, 1}, kIdentity, 2, 0.5, false},       // runs the other way
        {{8, 1, 12, 1}, kIdentity, 2, 0.5, true},       // half of the shorter
        {{8, 1, 12, 1}, kIdentity, 2, 0.6, false},
        {{-5, 0, 15, 0}, kIdentity, 2, 0.9, true},      // covers the candidate
        {{10, 1, 20, 1}, kIdentity, 2, 0.0, false},     // touches only
        {{-100, -50, -90, -50}, cv::Matx33d(1, 0, 100, 0, 1, 50, 0, 0, 1), 2, 0.5, true},
        {{0, 0, 5, 0}, cv::Matx33d(1, 0, 0, 0, 1, 0, -0.3, 0, 1), 2, 0.5, false},
    };
    const Segment candidate{0, 0, 10, 0};
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        const linematch::TruthCriterion criterion{c.distance, c.overlap};
        EXPECT_EQ(linematch::isTrueCorrespondence(linematch::mapSegment(c.h, c.image1), candidate,
                                               criterion),
                  c.expected)
            << "case " << k;
    }
}

TEST(TrueCorrespondence, PointsAtInfinityAndDegenerateSegments) {
    const Segment mapped = linematch::mapSegment(cv::Matx33d(1, 0, 0, 0, 1, 0, 1, 0, 0), {0, 1, 2, 1});
    EXPECT_TRUE(std::isnan(mapped[0]));
    const linematch::TruthCriterion criterion;
    EXPECT_FALSE(linematch::isTrueCorrespondence(mapped, {0, 0, 10, 0}, criterion));
    EXPECT_FALSE(linematch::isTrueCorrespondence({1, 0, 1, 0}, {0, 0, 10, 0}, criterion));
    EXPECT_FALSE(linematch::isTrueCorrespondence({1, 0, 2, 0}, {5, 5, 5, 5}, criterion));
}

TEST(TruthPairs, FindsEveryPieceOfABrokenEdge) {
    const std::vector<Segment> s1 = {{0, 0, 40, 0}, {0, 30, 40, 30}};
    const std::vector<Segment> s2 = {{100, 50, 118, 50}, {122, 50, 140, 50}, {100, 80, 140, 80},
                                     {140, 80, 100, 80}};
    const cv::Matx33d shift(1, 0, 100, 0, 1, 50, 0, 0, 1);
    const auto pairs = linematch::truthPairs(s1, s2, shift, {2.0, 0.5});
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0].image1Segment, 0);
    EXPECT_EQ(pairs[0].image2Segment, 0);
    EXPECT_EQ(pairs[1].image2Segment, 1);
    EXPECT_EQ(pairs[2].image1Segment, 1);
    EXPECT_EQ(pairs[2].image2Segment, 2);
}

// A perspective map and a set of segments with exact images under it.
struct Scene {
    cv::Matx33d h{0.9, -0.2, 30, 0.15, 1.1, -10, 2e-4, -1e-4, 1};
    std::vector<Segment> image1, image2;

    void add(const Segment& s) {
        image1.push_back(s);
        image2.push_back(linematch::mapSegment(h, s));
    }
};

TEST(LocalHomography, RecoversTheMapFromTwoExactSeeds) {
    const std::pair<Segment, Segment> configurations[] = {
        {{100, 100, 160, 110}, {150, 60, 120, 150}},   // lines cross between the seeds
        {{100, 100, 160, 100}, {100, 140, 170, 145}},  // nearly parallel
    };
    for (const auto& [a, b] : configurations) {
        Scene scene;
        scene.add(a);
        scene.add(b);
        cv::Matx33d estimate;
        ASSERT_TRUE(linematch::estimateLocalHomography(scene.image1[0], scene.image2[0],
                                                    scene.image1[1], scene.image2[1], 8.0,
                                                    estimate));
        for (double x = 80; x <= 200; x += 40) {
            for (double y = 80; y <= 220; y += 40) {
                const Segment p = linematch::mapSegment(scene.h, {x, y, x, y});
                const Segment q = linematch::mapSegment(estimate, {x, y, x, y});
                EXPECT_NEAR(p[0], q[0], 1e-2);
                EXPECT_NEAR(p[1], q[1], 1e-2);
            }
        }
    }
}

TEST(LocalHomography, RefusesDegenerateOrInconsistentSeeds) {
    Scene scene;
    scene.add({100, 100, 160, 100});
    scene.add({170, 101, 230, 101});   // on the first seed's line
    scene.add({100, 140, 160, 150});
    cv::Matx33d estimate;
    EXPECT_FALSE(linematch::estimateLocalHomography(scene.image1[0], scene.image2[0],
                                                 scene.image1[1], scene.image2[1], 8.0,
                                                 estimate));
    // The partner of the second seed reversed: no homography carries both.
    const Segment& p = scene.image2[2];
    EXPECT_FALSE(linematch::estimateLocalHomography(scene.image1[0], scene.image2[0],
                                                 scene.image1[2], {p[2], p[3], p[0], p[1]},
                                                 8.0, estimate));
    EXPECT_TRUE(linematch::estimateLocalHomography(scene.image1[0], scene.image2[0],
                                                scene.image1[2], scene.image2[2], 8.0,
                                                estimate));
}

// Twenty horizontal segments, 40 px long and 20 px apart, mapped exactly;
// every fourth image-2 segment is cut to a third of its length.
Scene ladder() {
    Scene scene;
    scene.h = cv::Matx33d(1, 0, 5, 0, 1, 7, 0, 0, 1);
    for (int k = 0; k < 20; ++k) scene.add({10.0 + 3 * k, 10.0 + 20 * k, 50.0 + 3 * k, 10.0 + 20 * k});
    for (std::size_t k = 0; k < scene.image2.size(); k += 4) {
        Segment& s = scene.image2[k];
        s[2] = s[0] + (s[2] - s[0]) / 3;
    }
    return scene;
}

TEST(Seeds, OneToOneDrawnReproduciblyFromFullMatches) {
    const Scene scene = ladder();
    linematch::TruthSeedSettings settings;
    settings.fraction = 0.5;
    settings.minLength = 20;
    const auto seeds = linematch::selectSeeds(scene.image1, scene.image2, scene.h, {2.0, 0.3},
                                           settings);
    // 15 full matches are eligible (the cut ones cover a third only).
    ASSERT_EQ(seeds.size(), 8u);
    std::set<int> used1, used2;
    for (const SegmentMatch& c : seeds) {
        EXPECT_EQ(c.image1Segment, c.image2Segment);
        EXPECT_NE(c.image1Segment % 4, 0);
        used1.insert(c.image1Segment);
        used2.insert(c.image2Segment);
    }
    EXPECT_EQ(used1.size(), seeds.size());
    EXPECT_EQ(used2.size(), seeds.size());
    EXPECT_TRUE(std::is_sorted(seeds.begin(), seeds.end(), [](const auto& a, const auto& b) {
        return a.image1Segment < b.image1Segment;
    }));

    const auto again = linematch::selectSeeds(scene.image1, scene.image2, scene.h, {2.0, 0.3},
                                           settings);
    ASSERT_EQ(again.size(), seeds.size());
    for (std::size_t k = 0; k < seeds.size(); ++k)
        EXPECT_EQ(again[k].image1Segment, seeds[k].image1Segment);

    settings.fraction = 1.0;
    settings.minLength = 45;  // only the longer, later rungs
    const auto longOnes = linematch::selectSeeds(scene.image1, scene.image2, scene.h, {2.0, 0.3},
                                              settings);
    for (const SegmentMatch& c : longOnes)
        EXPECT_GE(linematch::segmentLength(scene.image1[c.image1Segment]), 45);
}

TEST(PairRecords, EachNearbyPairOnceAndTheIndexTableNearestFirst) {
    Scene scene;
    // Three seeds close together and one far away; no three endpoints of a
    // pair are collinear.
    scene.add({100, 100, 150, 105});
    scene.add({110, 140, 150, 170});
    scene.add({160, 90, 180, 140});
    scene.add({600, 600, 650, 640});
    std::vector<SegmentMatch> seeds;
    for (int k = 0; k < 4; ++k) seeds.push_back({k, k});
    linematch::PairRecordSettings settings;
    settings.neighbours = 3;
    settings.maxSeedDistance = 150;
    const auto records = linematch::buildPairRecords(scene.image1, scene.image2, seeds, settings);
    ASSERT_EQ(records.size(), 3u);
    std::set<std::pair<int, int>> pairs;
    for (const auto& r : records) {
        EXPECT_LT(r.seedA, r.seedB);
        EXPECT_NE(r.seedB, 3);
        pairs.insert({r.seedA, r.seedB});
    }
    EXPECT_EQ(pairs.size(), 3u);

    // A segment beside seeds 0 and 1 lists their record first; with five
    // entries per segment the three records are padded by the nearest.
    std::vector<Segment> image1 = scene.image1;
    image1.push_back({105, 120, 125, 125});
    const auto table = linematch::buildPairIndexTable(image1, records, 5);
    ASSERT_EQ(table.size(), image1.size());
    const std::vector<int>& row = table.back();
    ASSERT_EQ(row.size(), 5u);
    EXPECT_EQ(records[row[0]].seedA, 0);
    EXPECT_EQ(records[row[0]].seedB, 1);
    EXPECT_EQ(row[3], row[0]);
    EXPECT_EQ(row[4], row[0]);
    EXPECT_EQ(std::set<int>(row.begin(), row.begin() + 3).size(), 3u);

    EXPECT_TRUE(linematch::buildPairIndexTable(image1, {}, 4)[0].empty());
}

}  // namespace
