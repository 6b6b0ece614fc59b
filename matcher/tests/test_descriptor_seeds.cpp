#include "linematch/descriptor_seeds.hpp"
#include "linematch/segments.hpp"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <random>
#include <tuple>

namespace {

using linematch::SegmentMatch;

// Rows of 32 bytes; row k of `bits` flips the lowest bits[k] bits of a base.
cv::Mat descriptors(const std::vector<std::vector<int>>& rows) {
    cv::Mat d(static_cast<int>(rows.size()), 32, CV_8U, cv::Scalar(0));
    for (int r = 0; r < d.rows; ++r)
        for (int bit : rows[r]) d.at<uchar>(r, bit / 8) |= static_cast<uchar>(1u << (bit % 8));
    return d;
}

// Bits 0..n-1 set.
std::vector<int> firstBits(int n, int from = 0) {
    std::vector<int> v;
    for (int k = 0; k < n; ++k) v.push_back(from + k);
    return v;
}

TEST(MatchDescriptors, MutualAndRatio) {
    // Image 1: rows A, B. Image 2: A' (1 bit from A), far (40 bits from
    // everything), B' (3 bits from B), B'' (4 bits from B).
    const cv::Mat d1 = descriptors({{}, firstBits(20, 100)});
    const cv::Mat d2 = descriptors({{0}, firstBits(40, 200), firstBits(17, 100), firstBits(24, 100)});
    struct Case {
        double ratio;
        bool mutual;
        std::vector<SegmentMatch> expected;
    };
    const Case cases[] = {
        {0.7, true, {{0, 0}}},               // B's best (3) vs second (4): 3 < 0.7*4 fails
        {0.7, false, {{0, 0}}},
        {0.75, true, {{0, 0}}},              // 3 < 3 fails: the test is strict
        {0.9, true, {{0, 0}, {1, 2}}},       // 3 < 3.6 passes
        {1.0, true, {{0, 0}, {1, 2}}},       // ratio off
    };
    for (const Case& c : cases) {
        linematch::DescriptorSettings s;
        s.ratio = c.ratio;
        s.mutual = c.mutual;
        EXPECT_EQ(linematch::matchDescriptors(d1, d2, s), c.expected) << c.ratio << " " << c.mutual;
    }
}

TEST(MatchDescriptors, MutualRefusesAOneSidedBestMatch) {
    // Both image-1 rows are nearest to image-2 row 0; only row 0 is its
    // partner's best match in turn.
    const cv::Mat d1 = descriptors({{}, {0, 1}});
    const cv::Mat d2 = descriptors({{0}, firstBits(60, 100)});
    linematch::DescriptorSettings s;
    s.ratio = 1;
    EXPECT_EQ(linematch::matchDescriptors(d1, d2, s), (std::vector<SegmentMatch>{{0, 0}}));
    s.mutual = false;
    EXPECT_EQ(linematch::matchDescriptors(d1, d2, s), (std::vector<SegmentMatch>{{0, 0}, {1, 0}}));
}

TEST(MatchDescriptors, EmptySides) {
    const cv::Mat none(0, 32, CV_8U), one = descriptors({{}});
    EXPECT_TRUE(linematch::matchDescriptors(none, one, {}).empty());
    EXPECT_TRUE(linematch::matchDescriptors(one, none, {}).empty());
    // A single candidate has no second distance: the ratio test passes it.
    EXPECT_EQ(linematch::matchDescriptors(one, one, {}), (std::vector<SegmentMatch>{{0, 0}}));
}

// Matching by scanning every pair with a plain bit count.
std::vector<SegmentMatch> scanEveryPair(const cv::Mat& d1, const cv::Mat& d2, const linematch::DescriptorSettings& s) {
    const auto distance = [&](const cv::Mat& a, int i, const cv::Mat& b, int j) {
        int bits = 0;
        for (int k = 0; k < a.cols; ++k) bits += std::bitset<8>(a.at<uchar>(i, k) ^ b.at<uchar>(j, k)).count();
        return bits;
    };
    // Best row (lowest on ties) and the second-smallest distance.
    const auto nearest = [&](const cv::Mat& from, int i, const cv::Mat& to) {
        std::vector<std::pair<int, int>> all;
        for (int j = 0; j < to.rows; ++j) all.emplace_back(distance(from, i, to, j), j);
        std::sort(all.begin(), all.end());
        return std::make_tuple(all[0].second, all[0].first, all.size() > 1 ? all[1].first : -1);
    };
    std::vector<SegmentMatch> matches;
    for (int i = 0; i < d1.rows; ++i) {
        const auto [best, bestDistance, second] = nearest(d1, i, d2);
        if (s.mutual && std::get<0>(nearest(d2, best, d1)) != i) continue;
        if (s.ratio < 1 && second >= 0 && !(bestDistance < s.ratio * second)) continue;
        matches.push_back({i, best});
    }
    return matches;
}

TEST(MatchDescriptors, SameAsScanningEveryPairForAnyWidthAndThreads) {
    // Rows are a few bases with a few bits flipped, so that many distances
    // tie; 8 bytes take the library call, 512 bytes fill a vector lane.
    for (int bytes : {32, 8, 512}) {
        std::mt19937 random(static_cast<unsigned>(bytes));
        std::vector<cv::Mat> bases;
        for (int k = 0; k < 6; ++k) {
            cv::Mat base(1, bytes, CV_8U);
            for (int c = 0; c < bytes; ++c) base.at<uchar>(0, c) = static_cast<uchar>(random());
            bases.push_back(base);
        }
        const auto rows = [&](int n) {
            cv::Mat d(n, bytes, CV_8U);
            for (int r = 0; r < n; ++r) {
                bases[random() % bases.size()].copyTo(d.row(r));
                for (unsigned flips = random() % 4; flips > 0; --flips) {
                    const int bit = static_cast<int>(random() % static_cast<unsigned>(8 * bytes));
                    d.at<uchar>(r, bit / 8) ^= static_cast<uchar>(1u << (bit % 8));
                }
            }
            return d;
        };
        const cv::Mat d1 = rows(150), d2 = rows(130);
        for (const auto& [ratio, mutual] : {std::pair(0.8, true), std::pair(1.0, true), std::pair(0.9, false)}) {
            linematch::DescriptorSettings s;
            s.ratio = ratio;
            s.mutual = mutual;
            const std::vector<SegmentMatch> expected = scanEveryPair(d1, d2, s);
            for (int threads : {1, 3})
                EXPECT_EQ(linematch::matchDescriptors(d1, d2, s, threads), expected)
                    << bytes << " bytes, ratio " << ratio << ", mutual " << mutual << ", " << threads << " threads";
        }
    }
}

TEST(LbdDescriptors, OneRowPerSegmentInSegmentOrder) {
    cv::Mat image(200, 200, CV_8U, cv::Scalar(40));
    cv::rectangle(image, {50, 50}, {150, 120}, cv::Scalar(220), cv::FILLED);
    cv::circle(image, {100, 160}, 25, cv::Scalar(160), cv::FILLED);
    const std::vector<linematch::Segment> segments{
        {50, 50, 150, 50}, {150, 120, 50, 120}, {50, 120, 50, 50}, {75, 160, 125, 160}, {150, 50, 150, 120}};
    const cv::Mat d = linematch::lbdDescriptors(image, segments);
    ASSERT_EQ(d.rows, 5);
    ASSERT_EQ(d.type(), CV_8U);
    // The same segments in reverse order give the same rows in reverse order.
    const std::vector<linematch::Segment> reversed(segments.rbegin(), segments.rend());
    const cv::Mat r = linematch::lbdDescriptors(image, reversed);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(cv::norm(d.row(k), r.row(4 - k), cv::NORM_HAMMING), 0) << k;
    EXPECT_EQ(linematch::lbdDescriptors(image, {}).rows, 0);
}

TEST(DetectSegments, DropsShortOnesAndRoundsToMilliPixels) {
    cv::Mat image(120, 160, CV_8U, cv::Scalar(30));
    cv::rectangle(image, {20, 20}, {140, 100}, cv::Scalar(220), cv::FILLED);
    cv::rectangle(image, {60, 50}, {66, 56}, cv::Scalar(30), cv::FILLED);  // edges of 6 px
    const auto segments = linematch::detectSegments(image, 10.0);
    ASSERT_GE(segments.size(), 4u);
    for (const auto& s : segments) {
        EXPECT_GE(linematch::segmentLength(s), 9.99);
        for (double v : s) EXPECT_EQ(v, linematch::roundToMilliPixel(v));
    }
    EXPECT_LT(segments.size(), linematch::detectSegments(image, 1.0).size());
}

}  // namespace
