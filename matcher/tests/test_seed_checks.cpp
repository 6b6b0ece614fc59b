// Each seed check on constructed scenes: a contradicted seed or record must
// go, consistent ones must stay.
#include "constructed_scene.hpp"

#include "linematch/neighbour_verification.hpp"
#include "linematch/one_line_rule.hpp"
#include "linematch/seed_checks.hpp"
#include "round_memos.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace {

using namespace scene;
using linematch::SeedCheckSettings;

SeedCheckSettings only(bool support, bool agreement, bool refit) {
    SeedCheckSettings s;
    s.neighbourSupport = support;
    s.pairAgreement = agreement;
    s.lineRefit = refit;
    return s;
}

bool recordUses(const linematch::SeedCheckResult& r, int seed) {
    return std::any_of(r.records.begin(), r.records.end(),
                       [&](const linematch::SeedPair& p) { return p.seedA == seed || p.seedB == seed; });
}

// Image 1 lattice, image 2 its true image; seed `liar` points at the image-2
// segment of another lattice place instead.
struct LiarScene {
    std::vector<Segment> s1 = latticeSegments();
    std::vector<Segment> s2 = mapAll(viewChange(), s1);
    std::vector<SegmentMatch> seeds = identityMatches(25);
    int liar = 12;  // the centre, with neighbours all round
    LiarScene() { seeds[liar].image2Segment = 3; }
};

TEST(NeighbourSupport, DropsTheSeedItsNeighboursContradictAndKeepsTheOthers) {
    LiarScene sc;
    sc.seeds[3].image2Segment = 12;  // the two swap partners, so the segment lists stay one-to-one
    const auto r = linematch::checkSeeds(sc.s1, sc.s2, sc.seeds, only(true, false, false));
    for (int k = 0; k < 25; ++k) EXPECT_EQ(r.seedKept[k] != 0, k != sc.liar && k != 3) << "seed " << k;
    EXPECT_FALSE(recordUses(r, sc.liar));
    EXPECT_FALSE(recordUses(r, 3));
}

TEST(NeighbourSupport, OffKeepsEverySeed) {
    LiarScene sc;
    const auto r = linematch::checkSeeds(sc.s1, sc.s2, sc.seeds, only(false, false, false));
    EXPECT_TRUE(std::all_of(r.seedKept.begin(), r.seedKept.end(), [](char k) { return k != 0; }));
    EXPECT_TRUE(recordUses(r, sc.liar));
}

TEST(NeighbourSupport, AnIsolatedSeedHasNoSupportAndGoes) {
    // Two consistent seeds alone: no third seed can vote for their pair.
    const auto s1 = latticeSegments(2);
    const auto s2 = mapAll(viewChange(), s1);
    std::vector<SegmentMatch> seeds{{0, 0}, {3, 3}};
    const auto r = linematch::checkSeeds(s1, s2, seeds, only(true, true, false));
    EXPECT_EQ(r.seedKept, std::vector<char>({0, 0}));
    EXPECT_TRUE(r.records.empty());
}

TEST(PairAgreement, DropsEveryRecordOfTheLiarButKeepsTheConsistentOnes) {
    // Seed support off, so that only the records' own votes decide.
    LiarScene sc;
    const auto r = linematch::checkSeeds(sc.s1, sc.s2, sc.seeds, only(false, true, false));
    EXPECT_FALSE(recordUses(r, sc.liar));
    EXPECT_GE(r.records.size(), 30u);
    for (const auto& p : r.records) EXPECT_GE(p.votes, 2);
}

TEST(PairAgreement, OffKeepsTheLiarsRecords) {
    LiarScene sc;
    const auto r = linematch::checkSeeds(sc.s1, sc.s2, sc.seeds, only(false, false, false));
    EXPECT_TRUE(recordUses(r, sc.liar));
}

// Largest endpoint error of a homography against the true one, over the
// lattice segments within `reach` pixels of a point: where the transfer
// uses a record's homography.
double worstErrorNear(const cv::Matx33d& h, const std::vector<Segment>& s1, cv::Point2d at, double reach) {
    double worst = 0;
    for (const Segment& s : s1) {
        if (std::hypot((s[0] + s[2]) / 2 - at.x, (s[1] + s[3]) / 2 - at.y) > reach) continue;
        const Segment a = linematch::mapSegment(h, s), b = linematch::mapSegment(viewChange(), s);
        worst = std::max({worst, std::hypot(a[0] - b[0], a[1] - b[1]), std::hypot(a[2] - b[2], a[3] - b[3])});
    }
    return worst;
}

double worstError(const cv::Matx33d& h, const std::vector<Segment>& s1) {
    return worstErrorNear(h, s1, {0, 0}, 1e9);
}

TEST(LineRefit, RepairsRecordsWhoseSeedsEndpointsDisagree) {
    // The image-2 segments are cut at other places along their lines (as a
    // detector does); the lines themselves are exact.
    const auto s1 = latticeSegments();
    auto s2 = mapAll(viewChange(), s1);
    for (std::size_t k = 0; k < s2.size(); ++k) s2[k] = slide(s2[k], k % 2 ? 2.5 : -1.5, k % 3 ? -2.0 : 1.0);
    const auto seeds = identityMatches(25);
    SeedCheckSettings raw = only(true, true, false), refit = only(true, true, true);
    raw.voteDistance = refit.voteDistance = 6;  // the raw estimates must still gather votes
    const auto before = linematch::checkSeeds(s1, s2, seeds, raw);
    const auto after = linematch::checkSeeds(s1, s2, seeds, refit);
    ASSERT_EQ(before.records.size(), after.records.size());
    ASSERT_FALSE(after.records.empty());
    double sumBefore = 0, sumAfter = 0;
    for (std::size_t k = 0; k < after.records.size(); ++k) {
        const Segment& a = s1[after.records[k].seedA];
        const Segment& b = s1[after.records[k].seedB];
        const cv::Point2d middle((a[0] + a[2] + b[0] + b[2]) / 4, (a[1] + a[3] + b[1] + b[3]) / 4);
        sumBefore += worstErrorNear(before.records[k].homography(), s1, middle, 100);
        sumAfter += worstErrorNear(after.records[k].homography(), s1, middle, 100);
    }
    // Measured: 17 px before, 0.8 px after, on average over the records.
    EXPECT_GT(sumBefore / after.records.size(), 5.0);
    EXPECT_LT(sumAfter / after.records.size(), 1.5);
}

TEST(LineRefit, LeavesExactRecordsExact) {
    const auto s1 = latticeSegments();
    const auto s2 = mapAll(viewChange(), s1);
    const auto r = linematch::checkSeeds(s1, s2, identityMatches(25), only(true, true, true));
    ASSERT_FALSE(r.records.empty());
    for (const auto& p : r.records) EXPECT_LT(worstError(p.homography(), s1), 1e-6);
}

// Neighbour verification: the correspondences around a match must carry
// its segment onto its partner's line.
struct VerificationCase {
    const char* name;
    double sideways;  // pixels the judged match's image-2 segment is moved off the true line
    bool kept;
};

class NeighbourVerification : public ::testing::TestWithParam<VerificationCase> {};

TEST_P(NeighbourVerification, JudgesByTheLinesAround) {
    const auto s1 = latticeSegments();
    auto s2 = mapAll(viewChange(), s1);
    // Neighbours with sliding endpoints: only their lines are right.
    for (std::size_t k = 0; k < s2.size(); ++k) s2[k] = slide(s2[k], k % 2 ? 3.0 : -2.0, 1.0);
    s2[12] = shift(s2[12], GetParam().sideways);
    std::vector<char> judge(25, 0);
    judge[12] = 1;
    const auto keep = linematch::verifyByNeighbours(s1, s2, identityMatches(25), judge, {});
    EXPECT_EQ(keep[12] != 0, GetParam().kept);
    EXPECT_EQ(std::count(keep.begin(), keep.end(), 0), GetParam().kept ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, NeighbourVerification,
                         ::testing::Values(VerificationCase{"onTheLine", 0.0, true},
                                           VerificationCase{"withinTheDistance", 1.5, true},
                                           VerificationCase{"neighbouringStroke", 3.0, false},
                                           VerificationCase{"farAway", 12.0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(NeighbourVerification, OneFalseNeighbourDoesNotPullTheFit) {
    const auto s1 = latticeSegments();
    auto s2 = mapAll(viewChange(), s1);
    s2[11] = shift(s2[11], 15);  // a false neighbour right next to the judged match
    std::vector<char> judge(25, 0);
    judge[12] = judge[11] = 1;
    const auto keep = linematch::verifyByNeighbours(s1, s2, identityMatches(25), judge, {});
    EXPECT_TRUE(keep[12]);
    EXPECT_FALSE(keep[11]);
}

TEST(NeighbourVerification, TooFewNeighboursCannotJudge) {
    const auto s1 = latticeSegments(2);
    auto s2 = mapAll(viewChange(), s1);
    s2[0] = shift(s2[0], 20);
    const auto keep = linematch::verifyByNeighbours(s1, s2, identityMatches(4), {}, {});
    EXPECT_EQ(keep, std::vector<char>(4, 1));
}

// One partner line per segment.
TEST(SinglePartnerLine, PartnersOnTwoLinesAreRefusedPiecesOfOneLineAreNot) {
    const std::vector<Segment> s1{{0, 0, 100, 0}, {0, 50, 100, 50}};
    const std::vector<Segment> s2{
        {0, 0, 40, 0},     // 0: first piece of the partner line
        {60, 0, 100, 0},   // 1: second piece of the same line
        {0, 4, 100, 4},    // 2: a neighbouring stroke 4 px away
        {0, 50, 100, 50},  // 3: partner of image-1 segment 1
    };
    struct Case {
        std::vector<SegmentMatch> matches;
        std::vector<char> keep;
    };
    const Case cases[] = {
        {{{0, 0}, {0, 1}, {1, 3}}, {1, 1, 1}},  // broken edge: both pieces kept
        {{{0, 0}, {0, 2}, {1, 3}}, {0, 0, 1}},  // two parallel lines: both refused
        {{{0, 3}, {1, 3}}, {0, 0}},             // one image-2 segment, two image-1 lines
        {{{0, 0}}, {1}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(linematch::singlePartnerLine(s1, s2, c.matches, {}, 1.5), c.keep);
}

TEST(SinglePartnerLine, OnlyJudgedEntriesCanBeRefused) {
    const std::vector<Segment> s1{{0, 0, 100, 0}};
    const std::vector<Segment> s2{{0, 0, 100, 0}, {0, 4, 100, 4}};
    const std::vector<SegmentMatch> matches{{0, 0}, {0, 1}};
    EXPECT_EQ(linematch::singlePartnerLine(s1, s2, matches, {0, 1}, 1.5), std::vector<char>({1, 0}));
}

}  // namespace

namespace {

// A memo filled by one round gives the next round what a fresh check gives,
// although the seeds are indexed differently and some pairs and voters changed.
TEST(SeedCheckMemo, ALaterRoundGivesWhatAFreshCheckGives) {
    const auto s1 = latticeSegments(6, 50);
    auto s2 = mapAll(viewChange(), s1);
    for (std::size_t k = 0; k < s2.size(); k += 3) s2[k] = slide(s2[k], 2, -3);  // refits differ from the pairs' maps
    std::vector<SegmentMatch> first = identityMatches(30);
    first[14].image2Segment = 35;  // a liar
    // The next round: the first round's seeds from the fifth on, then new ones.
    std::vector<SegmentMatch> next(first.begin() + 4, first.end());
    for (int k : {31, 0, 33, 2}) next.push_back({k, k});
    linematch::SeedCheckMemo memo;
    linematch::checkSeeds(s1, s2, first, {}, 1, &memo);
    const auto remembered = linematch::checkSeeds(s1, s2, next, {}, 2, &memo);
    const auto fresh = linematch::checkSeeds(s1, s2, next, {});
    EXPECT_EQ(remembered.seedKept, fresh.seedKept);
    EXPECT_EQ(remembered.pairsTried, fresh.pairsTried);
    ASSERT_EQ(remembered.records.size(), fresh.records.size());
    ASSERT_FALSE(fresh.records.empty());
    for (std::size_t k = 0; k < fresh.records.size(); ++k) {
        const auto &a = remembered.records[k], &b = fresh.records[k];
        EXPECT_EQ(std::tie(a.seedA, a.seedB, a.votes), std::tie(b.seedA, b.seedB, b.votes)) << k;
        EXPECT_EQ(a.homography(), b.homography()) << k;
    }
}

TEST(VerificationMemo, ALaterRoundGivesWhatAFreshVerificationGives) {
    const auto s1 = latticeSegments(6, 50);
    auto s2 = mapAll(viewChange(), s1);
    s2[14] = shift(s2[14], 6);
    s2[21] = shift(s2[21], 3);
    // The next round lists the matches in another order and has more of them.
    std::vector<SegmentMatch> next = identityMatches(36);
    const std::vector<SegmentMatch> first(next.begin() + 6, next.end());
    std::reverse(next.begin(), next.end());
    linematch::VerificationMemo memo;
    linematch::verifyByNeighbours(s1, s2, first, {}, {}, 1, &memo);
    const auto remembered = linematch::verifyByNeighbours(s1, s2, next, {}, {}, 2, &memo);
    const auto fresh = linematch::verifyByNeighbours(s1, s2, next, {}, {});
    EXPECT_EQ(remembered, fresh);
    EXPECT_EQ(std::count(fresh.begin(), fresh.end(), 0), 2);
}

}  // namespace
