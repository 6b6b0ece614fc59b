#include "constructed_scene.hpp"

#include "linematch/line_geometry.hpp"

#include <gtest/gtest.h>

namespace {

using namespace scene;
using linematch::LineCorrespondence;

double worstError(const cv::Matx33d& a, const cv::Matx33d& b, const std::vector<Segment>& at) {
    double worst = 0;
    for (const Segment& s : at) {
        const Segment p = linematch::mapSegment(a, s), q = linematch::mapSegment(b, s);
        worst = std::max({worst, std::hypot(p[0] - q[0], p[1] - q[1]), std::hypot(p[2] - q[2], p[3] - q[3])});
    }
    return worst;
}

TEST(FitHomography, RecoversTheMapFromLinesWhoseEndpointsDisagree) {
    const cv::Matx33d maps[] = {viewChange(),
                                {1, 0, 0, 0, 1, 0, 0, 0, 1},
                                {1.3, 0.2, -50, -0.1, 0.8, 30, 5e-4, 3e-4, 1},
                                {0.5, 0, 10, 0, 0.5, 10, 0, 0, 1}};
    const auto s1 = latticeSegments();
    for (const cv::Matx33d& h : maps) {
        std::vector<LineCorrespondence> lines;
        const auto s2 = mapAll(h, s1);
        for (std::size_t k = 0; k < s1.size(); ++k) lines.push_back({s1[k], slide(s2[k], 4.0 - k % 5, -3.0 + k % 7)});
        cv::Matx33d fit;
        ASSERT_TRUE(linematch::fitHomography(lines, {}, 0, fit));
        EXPECT_LT(worstError(fit, h, s1), 1e-6);
    }
}

TEST(FitHomography, RefusesTooFewOrParallelLines) {
    const auto s1 = latticeSegments();
    const auto s2 = mapAll(viewChange(), s1);
    cv::Matx33d fit;
    // Three lines give six conditions: not enough.
    EXPECT_FALSE(linematch::fitHomography({{s1[0], s2[0]}, {s1[1], s2[1]}, {s1[2], s2[2]}}, {}, 0, fit));
    // Any number of parallel lines leaves the position along them open.
    std::vector<LineCorrespondence> parallel;
    for (int k = 0; k < 8; ++k) parallel.push_back({{0, 10.0 * k, 50, 10.0 * k}, {0, 12.0 * k, 50, 12.0 * k}});
    EXPECT_FALSE(linematch::fitHomography(parallel, {}, 0, fit));
    // A segment of length 0 has no line.
    EXPECT_FALSE(linematch::fitHomography({{s1[0], s2[0]}, {s1[1], s2[1]}, {s1[2], s2[2]}, {s1[3], {5, 5, 5, 5}}},
                                          {}, 0, fit));
}

TEST(FitHomography, PointsCompleteTooFewLines) {
    const auto s1 = latticeSegments();
    const auto s2 = mapAll(viewChange(), s1);
    std::vector<linematch::PointCorrespondence> points;
    for (int k : {0, 6}) {
        points.push_back({{s1[k][0], s1[k][1]}, {s2[k][0], s2[k][1]}});
        points.push_back({{s1[k][2], s1[k][3]}, {s2[k][2], s2[k][3]}});
    }
    cv::Matx33d fit;
    ASSERT_TRUE(linematch::fitHomography({{s1[0], s2[0]}, {s1[6], s2[6]}}, points, 0.1, fit));
    EXPECT_LT(worstError(fit, viewChange(), s1), 1e-6);
}

TEST(CarriesOntoLine, DistanceDirectionAndOverlap) {
    const cv::Matx33d identity(1, 0, 0, 0, 1, 0, 0, 0, 1);
    const Segment a{0, 0, 100, 0};
    struct Case {
        const char* what;
        Segment b;
        bool carried;
    };
    const Case cases[] = {
        {"same segment", {0, 0, 100, 0}, true},
        {"other cut of the same line", {50, 0, 400, 0}, true},
        {"distance equal to the limit", {0, 2, 100, 2}, true},
        {"beyond the distance", {0, 2.01, 100, 2.01}, false},
        {"opposite direction", {100, 0, 0, 0}, false},
        {"same line, no common part", {150, 0, 300, 0}, false},
        {"tilted so that one end is too far", {0, 0, 100, 3}, false},
        {"length 0", {5, 0, 5, 0}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(linematch::carriesOntoLine(identity, a, c.b, 2.0), c.carried) << c.what;
    const cv::Matx33d toInfinity(1, 0, 0, 0, 1, 0, 0.01, 0, 0);  // x = 0 goes to infinity
    EXPECT_FALSE(linematch::carriesOntoLine(toInfinity, a, a, 2.0));
}

TEST(SharedExtent, FractionOfTheLongerSegment) {
    EXPECT_DOUBLE_EQ(linematch::sharedExtent({0, 0, 100, 0}, {0, 0, 100, 0}), 1.0);
    EXPECT_DOUBLE_EQ(linematch::sharedExtent({0, 0, 100, 0}, {50, 1, 250, 1}), 0.25);
    EXPECT_DOUBLE_EQ(linematch::sharedExtent({100, 0, 0, 0}, {0, 0, 100, 0}), 0.0);
    EXPECT_DOUBLE_EQ(linematch::sharedExtent({0, 0, 10, 0}, {20, 0, 30, 0}), 0.0);
}

}  // namespace
