// The candidate transfer end to end on small scenes, in a scratch directory.
#include "lineharvest/transfer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using lineharvest::Correspondence;
using lineharvest::HarvestError;
using namespace lineharvest;

namespace {

std::vector<double> identityRecord(double a, double b, double c, double d) {
    return {a, b, c, d, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lineharvest-transfer-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_EQ(getcwd(previous_, sizeof previous_), previous_);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(previous_), 0);
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    void writeGrid(const std::string& text) { std::ofstream("grid.txt", std::ios::binary) << text; }

    // One 100 px cell row over x in [0, 1000), y in [0, 100).
    static TransferInput input(const std::vector<double>& s1, const std::vector<double>& s2,
                               const std::vector<double>& records, const std::vector<double>& table,
                               int pairsPerSegment) {
        TransferInput in;
        in.segments1 = {s1.data(), static_cast<int>(s1.size() / 4)};
        in.segments2 = {s2.data(), static_cast<int>(s2.size() / 4)};
        in.pairRecords = {records.data(), static_cast<int>(records.size() / 14)};
        in.pairIndexTable = {table.data(), pairsPerSegment};
        in.thresholds = {1, 0.1, 0.5};
        return in;
    }
    static GridIndex grid() { return GridIndex::load("grid.txt", 100, RasterWindow{0, 100, 0, 1000}); }

    void run(const std::vector<double>& s1, const std::vector<double>& s2, const std::vector<double>& records,
             const std::vector<double>& table, int pairsPerSegment) {
        added_ = addCandidates(input(s1, s2, records, table, pairsPerSegment), grid());
        writeCandidates("Addcandidates.txt", added_);
    }

    std::string dir_;
    char previous_[4096];
    std::vector<Correspondence> added_;
};

const std::vector<double> kSeed = {500, 500, 510, 500};  // outside the window
const std::vector<double> kSegment = {10, 50, 90, 50};

std::vector<double> join(std::initializer_list<std::vector<double>> parts) {
    std::vector<double> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

TEST_F(TransferTest, WritesFirstAcceptedCandidateAndSkipsFlaggedOnes) {
    writeGrid("2 1 0\n");
    // Record 0 names (0, 0) as known. Segment 1 tries records 0 and 1, both
    // the identity: the first writes image-2 segment 1, the second skips the
    // now flagged 1 and writes 2.
    const auto records = join({identityRecord(0, 0, 0, 0), identityRecord(0, 0, 0, 0)});
    run(join({kSeed, kSegment}), join({kSeed, kSegment, kSegment}), records, {0, 0, 0, 1}, 2);
    EXPECT_EQ(readFile("Addcandidates.txt"), "1 1 0\n1 2 1\n");
    ASSERT_EQ(added_.size(), 2u);
    EXPECT_EQ(added_[1].image2Segment, 2);
    EXPECT_EQ(added_[1].pairRecord, 1);
}

TEST_F(TransferTest, KnownCorrespondenceIsNeverWritten) {
    writeGrid("0 1\n");
    run(join({kSeed, kSegment}), join({kSeed, kSegment}), identityRecord(1, 1, 1, 1), {0, 0}, 1);
    EXPECT_EQ(readFile("Addcandidates.txt"), "");
    EXPECT_TRUE(added_.empty());
}

TEST_F(TransferTest, NonFiniteMappingSkipsTheRecord) {
    writeGrid("0 1\n");
    auto toInfinity = identityRecord(0, 0, 0, 0);
    toInfinity[11] = toInfinity[12] = toInfinity[13] = 0;  // third row zero: w = 0
    auto huge = identityRecord(0, 0, 0, 0);
    huge[5] = 1e12;  // x far beyond the int range
    run(join({kSeed, kSegment}), join({kSeed, kSegment}), join({toInfinity, huge}), {0, 0, 0, 1}, 2);
    EXPECT_EQ(readFile("Addcandidates.txt"), "");
}

TEST_F(TransferTest, UnusableInputsAreRefused) {
    writeGrid("0\n");
    const double nan = std::nan("");
    struct Case {
        std::vector<double> record;
        double tableEntry;
        Thresholds thresholds;
        const char* kind;
    } cases[] = {
        {identityRecord(2, 0, 0, 0), 0, {1, 0.1, 0.5}, "badPairRecord"},   // image-1 index past N1
        {identityRecord(0, 0, 0, -1), 0, {1, 0.1, 0.5}, "badPairRecord"},  // negative image-2 index
        {identityRecord(0, nan, 0, 0), 0, {1, 0.1, 0.5}, "badPairRecord"},
        {identityRecord(0, 0, 0, 0), 1, {1, 0.1, 0.5}, "badPairIndex"},    // only record 0 exists
        {identityRecord(0, 0, 0, 0), -1, {1, 0.1, 0.5}, "badPairIndex"},
        {identityRecord(0, 0, 0, 0), 0, {nan, 0.1, 0.5}, "badScalar"},     // NaN would switch a test off
        {identityRecord(0, 0, 0, 0), 0, {1, nan, 0.5}, "badScalar"},
        {identityRecord(0, 0, 0, 0), 0, {1, 0.1, nan}, "badScalar"},
    };
    const std::vector<double> s = join({kSeed, kSegment});
    for (const Case& c : cases) {
        const std::vector<double> table = {0, c.tableEntry};
        TransferInput in = input(s, s, c.record, table, 1);
        in.thresholds = c.thresholds;
        try {
            addCandidates(in, grid());
            ADD_FAILURE() << c.kind << " not raised";
        } catch (const HarvestError& e) {
            EXPECT_EQ(e.kind(), c.kind);
        }
    }
    const std::vector<double> record = identityRecord(0, 0, 0, 0), table = {0, 0};
    TransferInput negative = input(s, s, record, table, 1);
    negative.segments2.count = -1;
    EXPECT_THROW(addCandidates(negative, grid()), HarvestError);
    // Records closer than a record apart (or off the doubles' alignment)
    // would overlap: refused before any is read.
    for (std::size_t stride : {sizeof(double), sizeof(PairRecord) + 1}) {
        TransferInput strided = input(s, s, record, table, 1);
        strided.pairRecords.stride = stride;
        try {
            addCandidates(strided, grid());
            ADD_FAILURE() << "stride " << stride << " accepted";
        } catch (const HarvestError& e) {
            EXPECT_EQ(e.kind(), "badCount");
        }
    }
    try {
        addCandidates(input(s, s, record, table, 1), grid(), 0);
        ADD_FAILURE() << "zero threads accepted";
    } catch (const HarvestError& e) {
        EXPECT_EQ(e.kind(), "badThreads");
    }
}

// -0.5 truncates to index 0, which exists only when its range is not empty:
// an index into no segments or no records is refused, not read past the
// caller's arrays.
TEST_F(TransferTest, IndexIntoAnEmptyRangeIsRefused) {
    writeGrid("");
    const std::vector<double> s = join({kSeed, kSegment});
    const std::vector<double> none;
    struct Case {
        std::vector<double> s1, s2, records, table;
        const char* kind;
    } cases[] = {
        {s, none, identityRecord(0, 0, -0.5, -0.5), {0, 0}, "badPairRecord"},    // no image-2 segments
        {none, s, identityRecord(-0.5, -0.5, 0, 0), {}, "badPairRecord"},        // no image-1 segments
        {s, s, {}, {-0.5, -0.5}, "badPairIndex"},                                // no pair records
    };
    for (const Case& c : cases) {
        try {
            addCandidates(input(c.s1, c.s2, c.records, c.table, 1), grid());
            ADD_FAILURE() << c.kind << " not raised";
        } catch (const HarvestError& e) {
            EXPECT_EQ(e.kind(), c.kind) << e.what();
        }
    }
    // Where index 0 exists, -0.5 is that index.
    EXPECT_NO_THROW(addCandidates(input(s, s, identityRecord(-0.5, 0, -0.5, 0), {-0.5, -0.5}, 1), grid()));
}

// Infinite thresholds switch their test off instead of being refused.
TEST_F(TransferTest, InfiniteThresholdSwitchesItsTestOff) {
    writeGrid("0 1\n");
    const std::vector<double> far = {10, 90, 90, 90};  // 40 px from the mapped segment
    const std::vector<double> s1 = join({kSeed, kSegment}), s2 = join({kSeed, far});
    // The input only points at its arrays: they must outlive it.
    const std::vector<double> record = identityRecord(0, 0, 0, 0), table = {0, 0};
    TransferInput in = input(s1, s2, record, table, 1);
    EXPECT_TRUE(addCandidates(in, grid()).empty());
    in.thresholds.maxLineDistance = INFINITY;
    EXPECT_EQ((std::vector<Correspondence>{{1, 1, 0}}), addCandidates(in, grid()));
}

TEST_F(TransferTest, GridEntryBeyondTheSegmentsIsRefused) {
    writeGrid("0\n\n0 7\n");
    try {
        run(kSegment, kSegment, identityRecord(0, 0, 0, 0), {0}, 1);
        FAIL() << "no error";
    } catch (const HarvestError& e) {
        EXPECT_EQ(e.kind(), "gridEntry");
        EXPECT_NE(std::string(e.what()).find("line 3"), std::string::npos);
    }
}

