#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "epipolar_pair.hpp"
#include "geometry.hpp"
#include "mat_geometry.hpp"
#include "lineharvest/epipolar.hpp"
#include "lineharvest/errors.hpp"

namespace fs = std::filesystem;
using lineharvest::epipolarCandidates;
using lineharvest::epipolarCrossing;
using lineharvest::epipolarLine;
using lineharvest::epipolarSegmentTest;
using reference::epipolarSegmentTest;
using lineharvest::HarvestError;
using lineharvest::SegmentArray;
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

        double ownLine[3];
        lineharvest::lineThroughSegment(c.segment, ownLine);
        EXPECT_EQ(epipolarSegmentTest(c.segment, ownLine, c.line1, c.line2, c.threshold), c.expected)
            << "plain arrays";
    }
}

TEST(EpipolarSegmentTest, ColumnsOfWrongShapeOrTypeRaiseOpenCvError) {
    const cv::Mat line = column({1, 0, 0});
    const cv::Mat segment = column({2, 5, 8, 5});
    EXPECT_THROW(epipolarSegmentTest(column({2, 5, 8}), line, line, 1.0), cv::Exception);
    EXPECT_THROW(epipolarSegmentTest(segment, column({1, 0}), line, 1.0), cv::Exception);
    EXPECT_THROW(epipolarSegmentTest(segment, line, cv::Mat::zeros(3, 1, CV_32F), 1.0), cv::Exception);
    EXPECT_THROW(epipolarSegmentTest(segment.t(), line, line, 1.0), cv::Exception);
}

// The screen as first written, on OpenCV matrices in every step: the product
// of the matrix with each homogeneous endpoint, the cross products, the
// division by the third component. Kept as the reference that the plain
// arithmetic of epipolarCandidates must reproduce bit for bit.
std::string referenceScreenText(const std::vector<double>& segments1, const std::vector<double>& segments2,
                                const cv::Mat& matrix, double ratioThreshold) {
    const auto distance = [](const double* p, const double* q) {
        const double dx = p[0] - q[0];
        const double dy = p[1] - q[1];
        return std::sqrt(dx * dx + dy * dy);
    };
    const auto dotFrom = [](const double* a, const double* b, const double* c) {
        return (b[0] - a[0]) * (c[0] - a[0]) + (b[1] - a[1]) * (c[1] - a[1]);
    };
    const auto pairTest = [&](const cv::Mat& segment, const cv::Mat& line1, const cv::Mat& line2) {
        cv::Mat line = cv::Mat::zeros(3, 1, CV_64F);
        const double x1 = segment.at<double>(0), y1 = segment.at<double>(1);
        const double x2 = segment.at<double>(2), y2 = segment.at<double>(3);
        line.at<double>(0) = y1 - y2;
        line.at<double>(1) = x2 - x1;
        line.at<double>(2) = x1 * y2 - x2 * y1;
        cv::Mat crossing1 = line.cross(line1);
        crossing1 = crossing1 / crossing1.at<double>(2);
        cv::Mat crossing2 = line.cross(line2);
        crossing2 = crossing2 / crossing2.at<double>(2);
        const double p1[2] = {x1, y1}, p2[2] = {x2, y2};
        const double* c1 = crossing1.ptr<double>();
        const double* c2 = crossing2.ptr<double>();
        const bool inside1 = dotFrom(p1, c1, c2) <= 0;
        const bool inside2 = dotFrom(p2, c1, c2) <= 0;
        if (inside1 && inside2) return true;
        if (!inside1 && !inside2) {
            const double a = line1.at<double>(0), b = line1.at<double>(1), c = line1.at<double>(2);
            if (((a * x1 + b * y1) + c) * ((a * x2 + b * y2) + c) > 0) return false;
            return ratioThreshold > distance(p1, p2) / distance(c1, c2);
        }
        const double* outside = inside1 ? p2 : p1;
        double nearer = distance(outside, c1);
        if (nearer > distance(outside, c2)) nearer = distance(outside, c2);
        return ratioThreshold > nearer / distance(p2, p1);
    };

    std::ostringstream out;
    cv::Mat segment = cv::Mat::zeros(4, 1, CV_64F);
    cv::Mat first = cv::Mat::zeros(3, 1, CV_64F);
    cv::Mat second = cv::Mat::zeros(3, 1, CV_64F);
    for (std::size_t i = 0; i < segments1.size() / 4; ++i) {
        first = (cv::Mat_<double>(3, 1) << segments1[4 * i], segments1[4 * i + 1], 1.0);
        second = (cv::Mat_<double>(3, 1) << segments1[4 * i + 2], segments1[4 * i + 3], 1.0);
        const cv::Mat line1 = matrix * first;
        const cv::Mat line2 = matrix * second;
        for (std::size_t j = 0; j < segments2.size() / 4; ++j) {
            for (int k = 0; k < 4; ++k) segment.at<double>(k) = segments2[4 * j + k];
            out << (pairTest(segment, line1, line2) ? 1 : 0) << " ";
        }
        out << std::endl;
    }
    return out.str();
}

std::string screenText(const std::vector<double>& segments1, const std::vector<double>& segments2,
                       const double* matrix, double ratioThreshold) {
    const int n1 = static_cast<int>(segments1.size() / 4), n2 = static_cast<int>(segments2.size() / 4);
    const std::vector<std::uint8_t> candidates =
        epipolarCandidates({segments1.data(), n1}, {segments2.data(), n2}, matrix, ratioThreshold);
    std::ostringstream out;
    writeEpipolarCandidates(out, candidates, n1, n2);
    return out.str();
}

// Seeded random scenes mixing ordinary geometry with what breaks it: equal
// endpoints, segments parallel to epipolar lines, shared coordinates, NaN and
// infinite coordinates, huge and tiny values, matrices with zero, NaN or
// infinite entries and rank-deficient ones.
TEST(EpipolarCandidates, SameAsTheMatrixFormulationOnSeededRandomScenes) {
    std::mt19937_64 random(4711);
    std::uniform_real_distribution<double> pixel(-50.0, 850.0);
    std::uniform_real_distribution<double> entry(-2.0, 2.0);
    const double kInf = std::numeric_limits<double>::infinity();
    const double specials[] = {0.0, -0.0, 1.0, 5.0, 400.0, 1e-300, 1e300, kInf, -kInf, std::nan("")};
    const auto coordinate = [&](int mode) {
        if (mode == 0 && random() % 12 == 0) return specials[random() % 10];
        if (random() % 3 == 0) return std::round(pixel(random));  // shared whole pixels
        return pixel(random);
    };
    for (int scene = 0; scene < 300; ++scene) {
        SCOPED_TRACE("scene " + std::to_string(scene));
        const int mode = scene % 3;  // 0: with special values, 1 and 2: ordinary
        std::vector<double> segments[2];
        for (auto& segs : segments) {
            const int n = 1 + static_cast<int>(random() % 40);
            for (int k = 0; k < n; ++k) {
                double s[4] = {coordinate(mode), coordinate(mode), coordinate(mode), coordinate(mode)};
                switch (random() % 8) {
                    case 0: s[2] = s[0], s[3] = s[1]; break;  // zero length
                    case 1: s[2] = s[0]; break;               // vertical
                    case 2: s[3] = s[1]; break;               // horizontal
                    default: break;
                }
                segs.insert(segs.end(), s, s + 4);
            }
        }
        double matrix[9];
        for (double& m : matrix) m = entry(random);
        if (mode == 0) {
            matrix[random() % 9] = specials[random() % 10];
            if (random() % 2) matrix[6] = matrix[7] = 0.0;                   // lines with a = b = 0 ...
            if (random() % 4 == 0) std::copy(matrix, matrix + 3, matrix + 3);  // rank-deficient
        } else if (mode == 2) {
            // Fundamental-like: skew part that makes epipolar lines through
            // one point, so that many bands are nearly parallel.
            const double e[3] = {pixel(random), pixel(random), 1.0};
            const double skew[9] = {0, -e[2], e[1], e[2], 0, -e[0], -e[1], e[0], 0};
            std::copy(skew, skew + 9, matrix);
        }
        const double ratios[] = {0.0, 0.5, 1.0, 2.5, kInf, -1.0};
        const double ratio = ratios[random() % 6];
        const cv::Mat m(3, 3, CV_64F, matrix);
        ASSERT_EQ(screenText(segments[0], segments[1], matrix, ratio),
                  referenceScreenText(segments[0], segments[1], m, ratio));
    }
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Values over the whole exponent range, so that any other order of the
// operations, a fused multiply-add or a lost "+ 0" shows in the last bits or
// in the sign of a zero.
TEST(EpipolarArithmetic, LinesAndCrossingsMatchOpenCvBitForBit) {
    std::mt19937_64 random(99);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-40, 40);
    const auto value = [&]() {
        switch (random() % 16) {
            case 0: return 0.0;
            case 1: return -0.0;
            case 2: return 1.0;
            default: return std::ldexp(mantissa(random), exponent(random));
        }
    };
    for (int trial = 0; trial < 20000; ++trial) {
        double matrix[9], x = value(), y = value();
        for (double& m : matrix) m = value();
        const cv::Mat expectedLine = cv::Mat(3, 3, CV_64F, matrix) * (cv::Mat_<double>(3, 1) << x, y, 1.0);
        double line[3];
        epipolarLine(matrix, x, y, line);
        for (int k = 0; k < 3; ++k) {
            ASSERT_TRUE(sameBits(line[k], expectedLine.at<double>(k)))
                << "trial " << trial << " row " << k << ": " << line[k] << " vs " << expectedLine.at<double>(k);
        }

        double a[3] = {value(), value(), value()}, b[3] = {value(), value(), value()};
        cv::Mat expected = cv::Mat(3, 1, CV_64F, a).cross(cv::Mat(3, 1, CV_64F, b));
        expected = expected / expected.at<double>(2);
        double point[2];
        epipolarCrossing(a, b, point);
        for (int k = 0; k < 2; ++k) {
            if (std::isnan(point[k]) && std::isnan(expected.at<double>(k))) continue;
            ASSERT_TRUE(sameBits(point[k], expected.at<double>(k)))
                << "trial " << trial << " component " << k << ": " << point[k] << " vs " << expected.at<double>(k);
        }
    }
}

TEST(EpipolarCandidates, RefusesNegativeCountsAndNaNRatio) {
    const double segment[] = {0, 0, 10, 0};
    const double matrix[9] = {0, 0, 1, 0, 0, 0, -1, -1, 0};
    const struct {
        SegmentArray s1, s2;
        double ratio;
        const char* kind;
    } cases[] = {
        {{segment, -1}, {segment, 1}, 0.5, "badCount"},
        {{segment, 1}, {segment, -3}, 0.5, "badCount"},
        {{segment, 1}, {segment, 1}, std::nan(""), "badScalar"},
    };
    for (const auto& c : cases) {
        try {
            epipolarCandidates(c.s1, c.s2, matrix, c.ratio);
            ADD_FAILURE() << "no error for " << c.kind;
        } catch (const HarvestError& e) {
            EXPECT_EQ(e.kind(), c.kind) << e.what();
        }
    }
}

// Maps the image-1 point (x, y) to the image-2 line u = x + y (row-major).
const double kVerticalLineMatrix[9] = {0, 0, 1, 0, 0, 0, -1, -1, 0};

class EpipolarFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "epipolar_test_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = (dir_ / "Ecandidates.txt").string();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string fileText() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void writeStaleFile() const { std::ofstream(path_) << "stale content\n"; }
    void screenToFile(const double* segments1, int n1, const double* segments2, int n2, double ratio) const {
        writeEpipolarCandidates(path_, epipolarCandidates({segments1, n1}, {segments2, n2}, kVerticalLineMatrix, ratio),
                                n1, n2);
    }
    void expectOutputFileError(const double* segments) const {
        try {
            screenToFile(segments, 1, segments, 1, 0.6);
            FAIL() << "no error";
        } catch (const HarvestError& e) {
            EXPECT_EQ(e.kind(), "outputFile");
            EXPECT_NE(std::string(e.what()).find(path_), std::string::npos) << e.what();
        }
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(EpipolarFileTest, ReplacesTheFileWithOneRowOfSpaceTerminatedTokensPerImage1Segment) {
    writeStaleFile();
    const double segments1[] = {
        0, 0, 10, 0,   // band 0 <= u <= 10
        12, 3, 20, 5,  // band 15 <= u <= 25
        4, 4, 4, 4,    // zero length: both lines u = 8
    };
    const double segments2[] = {2, 5, 8, 5, 5, 0, 15, 0, 20, 0, 30, 0, -5, 0, 15, 0};
    const std::vector<std::uint8_t> candidates =
        epipolarCandidates({segments1, 3}, {segments2, 4}, kVerticalLineMatrix, 0.6);
    EXPECT_EQ(candidates, (std::vector<std::uint8_t>{1, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}));
    writeEpipolarCandidates(path_, candidates, 3, 4);
    EXPECT_EQ(fileText(), "1 1 0 0 \n0 0 1 0 \n0 0 0 0 \n");
}

TEST_F(EpipolarFileTest, NoImage1SegmentsLeavesAnEmptyFile) {
    writeStaleFile();
    const double segments2[] = {2, 5, 8, 5};
    screenToFile(nullptr, 0, segments2, 1, 0.6);
    EXPECT_TRUE(fs::exists(path_));
    EXPECT_EQ(fileText(), "");
}

TEST_F(EpipolarFileTest, NoImage2SegmentsGivesBareLineEnds) {
    const double segments1[] = {0, 0, 10, 0, 1, 1, 2, 2, 3, 3, 4, 4};
    screenToFile(segments1, 3, nullptr, 0, 0.6);
    EXPECT_EQ(fileText(), "\n\n\n");
}

TEST_F(EpipolarFileTest, UnopenableFileIsReported) {
    fs::create_directory(path_);
    const double segments[] = {0, 0, 10, 0};
    expectOutputFileError(segments);
}

TEST_F(EpipolarFileTest, FailedWriteIsReported) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "/dev/full is not available";
    fs::create_symlink("/dev/full", path_);
    const double segments[] = {0, 0, 10, 0};
    expectOutputFileError(segments);
}

TEST(EpipolarWriter, RefusesAMatrixOfAnotherSize) {
    std::ostringstream out;
    EXPECT_THROW(writeEpipolarCandidates(out, std::vector<std::uint8_t>(5), 2, 3), std::invalid_argument);
    EXPECT_THROW(writeEpipolarCandidates(out, std::vector<std::uint8_t>(), -1, 0), std::invalid_argument);
    EXPECT_EQ(out.str(), "");
}

}  // namespace
