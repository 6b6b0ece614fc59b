#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "epipolar.hpp"
#include "lineharvest/errors.hpp"

namespace fs = std::filesystem;
using lineharvest::epipolarSegmentTest;
using lineharvest::HarvestError;
using lineharvest::writeEpipolarCandidates;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");
const double kTwoNinths = 2.0 / 9.0;

cv::Mat column(std::vector<double> values) {
    cv::Mat m(static_cast<int>(values.size()), 1, CV_64F);
    for (int i = 0; i < m.rows; ++i) m.at<double>(i, 0) = values[i];
    return m;
}

struct SegmentCase {
    const char* what;
    double segment[4];
    double threshold;
    bool expected;
    double line1[3] = {1, 0, 0};    // u = 0
    double line2[3] = {1, 0, -10};  // u = 10
};

// Unless a case says otherwise the band is 0 <= u <= 10, so a horizontal
// segment meets the epipolar lines at (0, y) and (10, y).
const SegmentCase kSegmentCases[] = {
    {"both inside, zero threshold", {2, 5, 8, 5}, 0.0, true},
    {"both inside, negative threshold", {2, 5, 8, 5}, -1.0, true},
    {"both inside, NaN threshold", {2, 5, 8, 5}, kNaN, true},
    {"P1 inside, ratio 0.5 below", {5, 0, 15, 0}, 0.6, true},
    {"P1 inside, ratio 0.5 equal", {5, 0, 15, 0}, 0.5, false},
    {"P1 inside, NaN threshold", {5, 0, 15, 0}, kNaN, false},
    // The outside endpoint is nearer C1 here; the farther one would give 12/9.
    {"P1 inside, nearer C1, just above", {7, 0, -2, 0}, std::nextafter(kTwoNinths, 1.0), true},
    {"P1 inside, nearer C1, equal", {7, 0, -2, 0}, kTwoNinths, false},
    {"P2 inside, nearer C1, just above", {-2, 0, 7, 0}, std::nextafter(kTwoNinths, 1.0), true},
    {"P2 inside, nearer C1, equal", {-2, 0, 7, 0}, kTwoNinths, false},
    {"P2 inside, nearer C2, just above", {12, 0, 3, 0}, std::nextafter(kTwoNinths, 1.0), true},
    {"P2 inside, nearer C2, equal", {12, 0, 3, 0}, kTwoNinths, false},
    {"P1 exactly on C1 counts as inside", {0, 0, 20, 0}, 0.6, true},
    {"P1 exactly on C1, ratio equal", {0, 0, 20, 0}, 0.5, false},
    {"spans the band, ratio 2 below", {-5, 0, 15, 0}, 2.5, true},
    {"spans the band, just above 2", {-5, 0, 15, 0}, std::nextafter(2.0, 3.0), true},
    {"spans the band, ratio equal", {-5, 0, 15, 0}, 2.0, false},
    {"spans the band, threshold 1", {-5, 0, 15, 0}, 1.0, false},
    {"beyond line2, one side", {12, 0, 20, 0}, 1e300, false},
    {"beyond line1, one side", {-20, 0, -12, 0}, kInf, false},
    {"diagonal, ratio 0.5 below", {5, 5, 15, 15}, 0.6, true},
    {"diagonal, ratio 0.5 equal", {5, 5, 15, 15}, 0.5, false},
    {"zero length inside the band", {5, 5, 5, 5}, kInf, false},
    {"zero length on line1 (NaN ratio)", {0, 5, 0, 5}, kInf, false},
    {"parallel to the lines, inside the band", {5, 0, 5, 10}, kInf, false},
    {"lying on line1 (NaN ratio)", {0, 0, 0, 10}, kInf, false},
    // Parallel to line2 (u - v = 10), so C2 lies at infinity and the band is
    // infinitely long; P1 sits on line1, which alone decides the sides.
    {"parallel to line2, P1 on line1, ratio 0", {0, 0, 5, 5}, 0.1, true, {1, 0, 0}, {1, -1, -10}},
    {"parallel to line2, P1 on line1, zero", {0, 0, 5, 5}, 0.0, false, {1, 0, 0}, {1, -1, -10}},
    {"equal lines, spanning (infinite ratio)", {2, 0, 8, 0}, kInf, false, {1, 0, -5}, {1, 0, -5}},
    {"equal lines, one side", {6, 0, 8, 0}, kInf, false, {1, 0, -5}, {1, 0, -5}},
    {"equal lines, P1 on the crossing, below", {5, 0, 8, 0}, 1.5, true, {1, 0, -5}, {1, 0, -5}},
    {"equal lines, P1 on the crossing, equal", {5, 0, 8, 0}, 1.0, false, {1, 0, -5}, {1, 0, -5}},
    // Lines u + v = 0 and u - v = 0 cut y = 5 at u = -5 and u = 5.
    {"converging lines, ratio 3/8 below", {0, 5, 8, 5}, 0.4, true, {1, 1, 0}, {1, -1, 0}},
    {"converging lines, ratio 3/8 equal", {0, 5, 8, 5}, 0.375, false, {1, 1, 0}, {1, -1, 0}},
};

TEST(EpipolarSegmentTest, WorkedExamples) {
    for (const SegmentCase& c : kSegmentCases) {
        SCOPED_TRACE(c.what);
        const cv::Mat line1 = column({c.line1[0], c.line1[1], c.line1[2]});
        const cv::Mat line2 = column({c.line2[0], c.line2[1], c.line2[2]});
        const cv::Mat segment = column({c.segment[0], c.segment[1], c.segment[2], c.segment[3]});
        EXPECT_EQ(epipolarSegmentTest(segment, line1, line2, c.threshold), c.expected);

        // The same segment as the middle column of a wider matrix, whose
        // elements are not consecutive in memory.
        cv::Mat wide(4, 3, CV_64F, cv::Scalar(-777.0));
        segment.copyTo(wide.col(1));
        EXPECT_EQ(epipolarSegmentTest(wide.col(1), line1, line2, c.threshold), c.expected)
            << "non-continuous segment column";
    }
}

// Maps the image-1 point (x, y) to the image-2 line u = x + y.
cv::Mat verticalLineMatrix() { return (cv::Mat_<double>(3, 3) << 0, 0, 1, 0, 0, 0, -1, -1, 0); }

class EpipolarFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        std::string pattern = (fs::temp_directory_path() / "epipolar_test_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    static std::string fileText() {
        std::ifstream in("Ecandidates.txt", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void writeStaleFile() { std::ofstream("Ecandidates.txt") << "stale content\n"; }

    fs::path previous_;
    fs::path dir_;
};

TEST_F(EpipolarFileTest, WritesOneRowOfSpaceTerminatedTokensPerImage1Segment) {
    writeStaleFile();
    const double segments1[] = {
        0, 0, 10, 0,   // band 0 <= u <= 10
        12, 3, 20, 5,  // band 15 <= u <= 25
        4, 4, 4, 4,    // zero length: both lines u = 8
    };
    const double segments2[] = {2, 5, 8, 5, 5, 0, 15, 0, 20, 0, 30, 0, -5, 0, 15, 0};
    writeEpipolarCandidates(segments1, segments2, 3, 4, verticalLineMatrix(), 0.6);
    EXPECT_EQ(fileText(), "1 1 0 0 \n0 0 1 0 \n0 0 0 0 \n");
}

TEST_F(EpipolarFileTest, NoImage1SegmentsLeavesAnEmptyFile) {
    for (int numSegments1 : {0, -2}) {
        SCOPED_TRACE(numSegments1);
        writeStaleFile();
        const double segments2[] = {2, 5, 8, 5};
        writeEpipolarCandidates(nullptr, segments2, numSegments1, 1, verticalLineMatrix(), 0.6);
        EXPECT_TRUE(fs::exists("Ecandidates.txt"));
        EXPECT_EQ(fileText(), "");
    }
}

TEST_F(EpipolarFileTest, NoImage2SegmentsGivesBareLineEnds) {
    const double segments1[] = {0, 0, 10, 0, 1, 1, 2, 2, 3, 3, 4, 4};
    for (int numSegments2 : {0, -1}) {
        SCOPED_TRACE(numSegments2);
        writeEpipolarCandidates(segments1, nullptr, 3, numSegments2, verticalLineMatrix(), 0.6);
        EXPECT_EQ(fileText(), "\n\n\n");
    }
}

TEST_F(EpipolarFileTest, UnopenableFileIsReported) {
    fs::create_directory("Ecandidates.txt");
    const double segments[] = {0, 0, 10, 0};
    try {
        writeEpipolarCandidates(segments, segments, 1, 1, verticalLineMatrix(), 0.6);
        FAIL() << "no error for an unopenable output file";
    } catch (const HarvestError& e) {
        EXPECT_EQ(e.kind(), "outputFile");
        EXPECT_NE(std::string(e.what()).find("Ecandidates.txt"), std::string::npos) << e.what();
    }
}

TEST_F(EpipolarFileTest, FailedWriteIsReported) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "/dev/full is not available";
    fs::create_symlink("/dev/full", "Ecandidates.txt");
    const double segments[] = {0, 0, 10, 0};
    try {
        writeEpipolarCandidates(segments, segments, 1, 1, verticalLineMatrix(), 0.6);
        FAIL() << "no error for a write that did not reach the file";
    } catch (const HarvestError& e) {
        EXPECT_EQ(e.kind(), "outputFile");
        EXPECT_NE(std::string(e.what()).find("Ecandidates.txt"), std::string::npos) << e.what();
    }
}

TEST_F(EpipolarFileTest, MatrixOfWrongShapeOrTypeRaisesOpenCvError) {
    const struct {
        const char* what;
        cv::Mat matrix;
    } cases[] = {
        {"3x3 CV_32F", cv::Mat::eye(3, 3, CV_32F)},
        {"4x4 CV_64F", cv::Mat::eye(4, 4, CV_64F)},
        // Its product is a 2x1 line, which only the cross product rejects.
        {"2x3 CV_64F", cv::Mat::ones(2, 3, CV_64F)},
        {"empty", cv::Mat()},
    };
    const double segments[] = {0, 0, 10, 0};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_THROW(writeEpipolarCandidates(segments, segments, 1, 1, c.matrix, 0.6), cv::Exception);
    }
}

}  // namespace
