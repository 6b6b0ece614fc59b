// Planar primitives and the segment correspondence test.
#include "geometry.hpp"
#include "mat_geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace lineharvest;
using namespace reference;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

cv::Mat col(std::initializer_list<double> v) {
    cv::Mat m(static_cast<int>(v.size()), 1, CV_64F);
    int i = 0;
    for (double x : v) m.at<double>(i++, 0) = x;
    return m;
}

// NaN-aware equality: both NaN, the same infinity, or equal within tol.
void expectNear(double expected, double actual, double tol, const char* what) {
    if (std::isnan(expected))
        EXPECT_TRUE(std::isnan(actual)) << what << ": got " << actual;
    else if (std::isinf(expected))
        EXPECT_EQ(expected, actual) << what;
    else
        EXPECT_NEAR(expected, actual, tol) << what;
}

}  // namespace

TEST(Geometry, DotFromAndPointDistance) {
    const double a[] = {1, 2}, b[] = {4, 6}, c[] = {-2, 5};
    EXPECT_EQ(0.0, dotFrom(a, a, c));
    EXPECT_EQ(0.0, dotFrom(c, b, c));
    EXPECT_EQ(3.0 * -3.0 + 4.0 * 3.0, dotFrom(a, b, c));
    EXPECT_EQ(0.0, pointDistance(b, b));
    EXPECT_EQ(5.0, pointDistance(a, b));
}

TEST(Geometry, FootOfPerpendicular) {
    struct Case { double p[2], a[2], b[2], fx, fy; } cases[] = {
        {{5, 7}, {2, 0}, {2, 10}, 2, 7},        // vertical
        {{5, 7}, {2, 10}, {2, 0}, 2, 7},
        {{5, 7}, {0, 3}, {10, 3}, 5, 3},        // horizontal
        {{5, 7}, {1, 1}, {1, 1}, 5, kNaN},      // zero length
        {{0, 2}, {0, 0}, {2, 2}, 1, 1},
        {{3, 0}, {0, 0}, {4, 2}, 2.4, 1.2},
        {{-1, 9}, {6, -3}, {2, 5}, -0.2, 9.4},  // foot beyond the given points
    };
    for (const Case& c : cases) {
        double out[2] = {-99, -99};
        footOfPerpendicular(c.p, c.a, c.b, out);
        expectNear(c.fx, out[0], 1e-12, "fx");
        expectNear(c.fy, out[1], 1e-12, "fy");
    }
}

TEST(Geometry, SignedAngleBetween) {
    struct Case { double s[4], t[4], angle; } cases[] = {
        {{0, 0, 1, 0}, {0, 0, 0, 1}, M_PI / 2},
        {{0, 0, 0, 1}, {0, 0, 1, 0}, -M_PI / 2},
        {{3, 4, 7, 9}, {3, 4, 7, 9}, 0},
        {{10, 10, 12, 12}, {5, 0, 4, -1}, M_PI},  // reverse: +pi or -pi
        {{0, 0, 1, 0}, {5, 5, 6, 6}, M_PI / 4},   // position does not matter
        {{0, 0, 1, 0}, {0, 0, 1, -1}, -M_PI / 4},
    };
    for (const Case& c : cases) {
        double out = -99;
        signedAngleBetween(c.s, c.t, &out);
        if (c.angle == M_PI)
            EXPECT_DOUBLE_EQ(M_PI, std::fabs(out));
        else
            EXPECT_NEAR(c.angle, out, 1e-15);
    }
}

TEST(Geometry, PointLineDistanceReadsOnlyXY) {
    struct Case { cv::Mat line; double expected; } cases[] = {
        {col({0, 1, 0}), 4},
        {col({3, 4, 0}), 5},
        {col({0, 10, -10}), 3},   // not normalised
        {col({0, 0, 2}), kInf},
        {col({0, 0, 0}), kNaN},
    };
    for (const Case& c : cases) {
        expectNear(c.expected, pointLineDistance(c.line, col({3, 4, 7})), 1e-12, "w=7");
        expectNear(c.expected, pointLineDistance(c.line, col({3, 4, 1})), 1e-12, "w=1");
    }
    // A column of a wider matrix is not continuous: elements are read by row.
    cv::Mat lines = (cv::Mat_<double>(3, 2) << 9, 3, 9, 4, 9, 0);
    cv::Mat points = (cv::Mat_<double>(3, 2) << 8, 3, 8, 4, 8, 1);
    EXPECT_DOUBLE_EQ(5.0, pointLineDistance(lines.col(1), points.col(1)));
}

TEST(Geometry, LineThroughSegment) {
    struct Case { cv::Mat seg; double a, b, c; } cases[] = {
        {col({0, 0, 1, 0}), 0, 1, 0},
        {col({2, 3, 2, 3}), 0, 0, 0},
        {col({1, 2, 4, 6}), -4, 3, -2},
    };
    for (Case& c : cases) {
        cv::Mat line(3, 1, CV_64F, cv::Scalar(99));
        const double* storage = line.ptr<double>();
        lineThroughSegment(c.seg, line);
        ASSERT_EQ(storage, line.ptr<double>()) << "the caller's matrix is written in place";
        EXPECT_EQ(c.a, line.at<double>(0));
        EXPECT_EQ(c.b, line.at<double>(1));
        EXPECT_EQ(c.c, line.at<double>(2));
    }
}

TEST(Geometry, SkewMatrix) {
    cv::Mat m = skewMatrix(col({1, 2, 3}));
    ASSERT_EQ(CV_64F, m.type());
    ASSERT_EQ(3, m.rows);
    ASSERT_EQ(3, m.cols);
    const double expected[3][3] = {{0, -3, 2}, {3, 0, -1}, {-2, 1, 0}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(expected[r][c], m.at<double>(r, c)) << r << "," << c;
    // Negating a zero element gives -0.0; untouched and copied zeros stay +0.0.
    cv::Mat z = skewMatrix(col({0, 0, 0}));
    const bool negative[3][3] = {{false, true, false}, {false, false, true}, {true, false, false}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(negative[r][c], std::signbit(z.at<double>(r, c))) << r << "," << c;
}

TEST(Geometry, AngleDifferenceOrdinary) {
    struct Case { double a, b, expected; } cases[] = {
        {3, -3, 6.28318530718 - 6},
        {-3, 3, 6.28318530718 - 6},
        {0.5, 0.2, 0.3},
        {-3.1415926535, 0, 3.1415926535},   // the lower bound wraps
        {3.1415926535, 0, 3.1415926535},    // the upper bound does not
        {3.1415926536, 0, 6.28318530718 - 3.1415926536},
        {20, 0, 1.15044407846},
        {-20, 0, 1.15044407846},
        {0, 1000, 0.9735361583778133},
    };
    for (const Case& c : cases) EXPECT_NEAR(c.expected, angleDifference(c.a, c.b), 1e-10) << c.a << " " << c.b;
    EXPECT_TRUE(std::isnan(angleDifference(kNaN, 0)));
}

TEST(Geometry, AngleDifferenceTerminatesForHugeOrInfinite) {
    struct Case { double a, b; bool nan; } cases[] = {
        {kInf, 0, true}, {0, kInf, true}, {-kInf, 1, true},
        {1e300, 0, false}, {-1e300, 0, false}, {0, 1e17, false}, {1e12, -3, false},
    };
    for (const Case& c : cases) {
        // A wrap that steps one turn at a time would not come back from
        // these; the test's timeout then reports it.
        const double r = angleDifference(c.a, c.b);
        if (c.nan) {
            EXPECT_TRUE(std::isnan(r)) << c.a << " " << c.b << " gave " << r;
        } else {
            EXPECT_GE(r, 0.0) << c.a;
            EXPECT_LE(r, M_PI) << c.a;
        }
    }
}

TEST(Geometry, SegmentDistance) {
    struct Case { double p1[2], p2[2], q1[2], q2[2], expected; } cases[] = {
        {{0, 0}, {2, 2}, {0, 2}, {2, 0}, 0},              // crossing
        {{0, 0}, {10, 0}, {5, -5}, {5, 5}, 0},
        {{0, 0}, {4, 0}, {1, 3}, {3, 3}, 3},              // parallel
        {{0, 0}, {1, 0}, {3, 0}, {5, 0}, 2},              // collinear
        {{5, 0}, {3, 0}, {1, 0}, {0, 0}, 2},
        {{0, 0}, {0, 0}, {3, 4}, {3, 4}, 5},              // both zero length
        {{0, 0}, {1, 0}, {2, 1}, {3, 5}, std::sqrt(2.0)},
        {{0, 0}, {10, 0}, {5, 2}, {5, 7}, 2},             // endpoint to interior
        {{0, 0}, {0, 0}, {3e200, 4e200}, {3e200, 4e200}, 5e200},   // no overflow
        {{0, 0}, {0, 0}, {3e-200, 4e-200}, {3e-200, 4e-200}, 5e-200},  // no underflow
    };
    for (const Case& c : cases) {
        const double d = segmentDistance(c.p1, c.p2, c.q1, c.q2);
        EXPECT_NEAR(c.expected, d, 1e-12 * std::max(1.0, c.expected)) << c.expected;
    }
}

// Candidate (0,0)-(10,0), line (0,10,0); thresholds 2 and 0.1 unless given.
TEST(SegmentMatch, CandidateOnXAxis) {
    struct Case { double x1, y1, x2, y2, maxAngle, ratio; bool match; double mean; } cases[] = {
        {2, 1, 4, 1, 0.1, 0.9, true, 1},       // projection inside the candidate
        {2, 2, 4, 2, 0.1, 0.9, true, 2},       // distance equal to the threshold
        {2, 2.5, 4, 1, 0.1, 0, false, -1},     // first endpoint too far
        {2, 1, 4, 2.5, 0.1, 0, false, -1},     // second endpoint too far
        {4, 1, 2, 1, 0.1, 0, false, 1},        // opposite direction
        {-2, 1, 12, 1, 0.1, 5, true, 1},       // candidate inside the projection
        {0, 1, 12, 1, 0.1, 5, true, 1},        // ... sharing its first endpoint
        {5, 1, 15, 1, 0.1, 0.5, true, 1},      // r inside, o = 5
        {5, 1, 15, 1, 0.1, 0.51, false, 1},
        {-5, 1, 5, 1, 0.1, 0.5, true, 1},      // s inside, o = 5
        {-5, 1, 5, 1, 0.1, 0.51, false, 1},
        {8, 1, 12, 1, 0.1, 0.5, true, 1},      // the shorter segment decides
        {8, 1, 12, 1, 0.1, 0.51, false, 1},
        {10, 1, 20, 1, 0.1, 0, true, 1},       // touching
        {10, 1, 20, 1, 0.1, -1, true, 1},
        {10, 1, 20, 1, 0.1, 1e-9, false, 1},
        {11, 1, 20, 1, 0.1, 0, false, 1},      // disjoint
        {11, 1, 20, 1, 0.1, -1, false, 1},
        {17, 1, 3, 1, 4, 0.5, false, 1},       // reversed, direction waived
        {17, 1, 3, 1, 4, 0.3, true, 1},
        {5, -1, 5, 1, M_PI / 2, 0, true, 1},   // |angle| equal to the threshold
        {5, -1, 5, 1, std::nextafter(M_PI / 2, 0.0), 0, false, 1},
        {5, 0.5, 5, 0.5, 0.1, 0.9, true, 0.5},    // zero-length mapped, on the candidate
        {12, 0.5, 12, 0.5, 0.1, 0, false, 0.5},   // zero-length mapped, beyond it
    };
    cv::Mat candidate = col({0, 0, 10, 0});
    cv::Mat line(3, 1, CV_64F);
    lineThroughSegment(candidate, line);
    for (const Case& c : cases) {
        cv::Mat r = col({c.x1, c.y1, 1}), s = col({c.x2, c.y2, 1});
        double mean = -1;
        const bool got = isSegmentMatch(r, s, candidate, line, 2, c.maxAngle, c.ratio, &mean);
        EXPECT_EQ(c.match, got) << "(" << c.x1 << "," << c.y1 << ")-(" << c.x2 << "," << c.y2
                                << ") ratio " << c.ratio;
        EXPECT_EQ(c.mean, mean) << "mean distance for (" << c.x1 << "," << c.y1 << ")";
    }
    EXPECT_EQ(0.0, cv::norm(candidate, col({0, 0, 10, 0})));
    EXPECT_EQ(0.0, cv::norm(line, col({0, 10, 0})));
}

TEST(SegmentMatch, MeanDistanceAndDegenerateCandidate) {
    cv::Mat candidate = col({0, 0, 10, 0});
    cv::Mat line(3, 1, CV_64F);
    lineThroughSegment(candidate, line);
    double mean = -1;
    // Distances 1 and 3: the mean is written although the direction stage rejects.
    EXPECT_FALSE(isSegmentMatch(col({2, 1, 1}), col({4, 3, 1}), candidate, line, 5, 0.1, 0, &mean));
    EXPECT_EQ(2.0, mean);

    // A zero-length candidate has the line (0,0,0): NaN distances pass, the result is false.
    cv::Mat point = col({3, 0, 3, 0});
    lineThroughSegment(point, line);
    mean = -1;
    EXPECT_FALSE(isSegmentMatch(col({2, 1, 1}), col({4, 1, 1}), point, line, 2, 4, -1, &mean));
    EXPECT_TRUE(std::isnan(mean));
}
