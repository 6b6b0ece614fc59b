// The benchmarks' scoring: the disparity rule must give a perfect score to
// segments shifted by the very disparity it is built from, and the average
// precision must follow the confidence order.
#include "bench_scoring.hpp"
#include "disparity_truth.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using linematch::Segment;
using linematch::SegmentMatch;
using linematch::bench::DisparityTruth;

struct StereoCase {
    std::string name;
    std::function<float(int x, int y)> disparity;  // 0: unknown
    std::vector<Segment> left;
    std::vector<bool> judged;
    std::vector<bool> depthEdge;
};

TEST(DisparityTruth, SegmentsShiftedByTheTruthScorePrecisionOne) {
    const float step = 4.0f, far = 12.25f;
    const std::vector<StereoCase> cases = {
        {"constant",
         [](int, int) { return 7.25f; },
         {{20, 10, 60, 10}, {30, 70, 30, 30}, {70, 20, 100, 60}, {95, 75, 65, 75}},
         {true, true, true, true},
         {false, false, false, false}},
        // A jump of 8.25 px at x = 60: a segment 1 px from it is on a depth
        // edge, one 30 px away is not. A slant along a segment is no edge.
        {"step",
         [&](int x, int) { return x < 60 ? step : far; },
         {{30, 10, 30, 60}, {61, 60, 61, 10}, {90, 15, 90, 65}, {10, 75, 50, 75}},
         {true, true, true, true},
         {false, true, false, false}},
        {"slant along",
         [](int x, int) { return 3.0f + 0.1f * x; },
         {{10, 40, 110, 40}},
         {true},
         {false}},
        // Unknown (0) above y = 30: a segment there cannot be judged, and
        // its match is left out of the precision.
        {"unknown part",
         [](int, int y) { return y < 30 ? 0.0f : 5.0f; },
         {{20, 10, 60, 10}, {20, 50, 60, 50}, {80, 70, 80, 40}},
         {false, true, true},
         {false, false, false}},
    };
    for (const StereoCase& c : cases) {
        SCOPED_TRACE(c.name);
        cv::Mat disparity(90, 120, CV_32F);
        for (int y = 0; y < disparity.rows; ++y)
            for (int x = 0; x < disparity.cols; ++x) disparity.at<float>(y, x) = c.disparity(x, y);
        std::vector<Segment> right;
        std::vector<SegmentMatch> identity;
        for (std::size_t i = 0; i < c.left.size(); ++i) {
            const Segment& s = c.left[i];
            const float d1 = c.disparity(static_cast<int>(s[0]), static_cast<int>(s[1]));
            const float d2 = c.disparity(static_cast<int>(s[2]), static_cast<int>(s[3]));
            right.push_back({s[0] - d1, s[1], s[2] - d2, s[3]});
            identity.push_back({static_cast<int>(i), static_cast<int>(i)});
        }
        const DisparityTruth truth(disparity, c.left, right);
        int judged = 0;
        for (std::size_t i = 0; i < c.left.size(); ++i) {
            EXPECT_EQ(truth.judged(static_cast<int>(i)), c.judged[i]) << "segment " << i;
            EXPECT_EQ(truth.depthEdge(static_cast<int>(i)), c.depthEdge[i]) << "segment " << i;
            judged += c.judged[i] ? 1 : 0;
        }
        const auto score = truth.score(identity);
        EXPECT_EQ(score.judged, judged);
        EXPECT_EQ(score.correct, judged);
        EXPECT_DOUBLE_EQ(score.precision, 1.0);
        EXPECT_DOUBLE_EQ(score.recall, 1.0);  // the segments lie apart: no other pair passes
        EXPECT_EQ(truth.size(), static_cast<std::size_t>(judged));
        // Another pairing of the same segments is wrong.
        if (c.left.size() >= 2 && c.judged[1]) {
            EXPECT_FALSE(truth.contains({1, 0}));
        }
    }
}

TEST(RankedScore, AveragePrecisionFollowsTheConfidenceOrder) {
    struct Case {
        std::string name;
        std::vector<SegmentMatch> matches;
        std::vector<double> confidence;
        std::size_t trueCount;
        double averagePrecision;
        double confidentHalfPrecision;
    };
    // True pairs: (i, i). Pair (9, 9) is not judged.
    const std::vector<Case> cases = {
        {"all true, all found", {{1, 1}, {2, 2}}, {0.2, 0.9}, 2, 1.0, 1.0},
        {"a false one ranked first", {{1, 1}, {0, 5}}, {0.5, 0.9}, 1, 0.5, 0.0},
        {"a false one ranked last", {{1, 1}, {0, 5}}, {0.9, 0.5}, 1, 1.0, 1.0},
        {"ties keep the file's order", {{0, 5}, {1, 1}}, {0.5, 0.5}, 1, 0.5, 0.0},
        {"a repeated pair counts once", {{1, 1}, {1, 1}, {0, 5}, {2, 2}}, {0.9, 0.8, 0.1, 0.7}, 2, 1.0, 1.0},
        {"true ones not found lower it", {{1, 1}}, {1.0}, 4, 0.25, 1.0},
        {"an unjudged one is left out", {{9, 9}, {1, 1}}, {1.0, 0.5}, 1, 1.0, 1.0},
    };
    const auto isTrue = [](const SegmentMatch& m) { return m.image1Segment == m.image2Segment; };
    const auto judged = [](const SegmentMatch& m) { return m.image1Segment != 9; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto s = linematch::bench::rankedScore(c.matches, c.confidence, isTrue, c.trueCount, judged);
        EXPECT_DOUBLE_EQ(s.averagePrecision, c.averagePrecision);
        EXPECT_DOUBLE_EQ(s.confidentHalfPrecision, c.confidentHalfPrecision);
    }
}

}  // namespace
