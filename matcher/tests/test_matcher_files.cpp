// Files the matcher reads and writes, the warp tool's homography, and the
// ranking scores of the matches' confidence.
#include "linematch/evaluation.hpp"
#include "linematch/homography_file.hpp"
#include "linematch/image_warp.hpp"
#include "linematch/output_files.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/linematch_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name) << text;
        return dir + "/" + name;
    }
    std::string dir;
};

using HomographyFile = TempDir;

TEST_F(HomographyFile, ReadsOpenCvMatrixFilesAndNineNumbers) {
    const cv::Matx33d expected(0.76, -0.3, 225.7, 0.33, 1.01, -77, 3.4e-4, -1.4e-5, 1);
    const std::string xml = write("h.xml",
                                  "<?xml version=\"1.0\"?>\n<opencv_storage>\n<H13 type_id=\"opencv-matrix\">\n"
                                  "<rows>3</rows><cols>3</cols><dt>d</dt>\n<data>0.76 -0.3 225.7 0.33 1.01 -77 "
                                  "3.4e-4 -1.4e-5 1</data></H13>\n</opencv_storage>\n");
    const std::string text = write("h.txt", "0.76 -0.3 225.7\n0.33 1.01 -77\r\n3.4e-4 -1.4e-5 1\n");
    for (const std::string& path : {xml, text}) {
        const cv::Matx33d h = linematch::readHomographyFile(path);
        for (int k = 0; k < 9; ++k) EXPECT_DOUBLE_EQ(h.val[k], expected.val[k]) << path;
    }
    // Written and read back: the same doubles.
    const cv::Matx33d odd(1.0 / 3, 2.0 / 7, 1e-300, -0.1, 5, 6, 7e-5, 8, 9);
    linematch::writeHomographyFile(dir + "/w.txt", odd);
    const cv::Matx33d back = linematch::readHomographyFile(dir + "/w.txt");
    for (int k = 0; k < 9; ++k) EXPECT_EQ(back.val[k], odd.val[k]);
}

TEST_F(HomographyFile, RefusesWhatIsNotAUsableMatrix) {
    const std::pair<const char*, const char*> bad[] = {
        {"eight.txt", "1 0 0 0 1 0 0 0"},
        {"ten.txt", "1 0 0 0 1 0 0 0 1 5"},
        {"word.txt", "1 0 0 0 one 0 0 0 1"},
        {"suffix.txt", "1 0 0 0 1x 0 0 0 1"},
        {"nan.txt", "1 0 0 0 nan 0 0 0 1"},
        {"inf.txt", "1 0 0 0 1 0 0 0 inf"},
        {"singular.txt", "1 2 3 2 4 6 0 0 0"},
        {"empty.txt", ""},
        {"notxml.xml", "this is not xml"},
        {"twobytwo.yml", "%YAML:1.0\nH: !!opencv-matrix\n  rows: 2\n  cols: 2\n  dt: d\n  data: [1, 0, 0, 1]\n"},
    };
    for (const auto& [name, text] : bad)
        EXPECT_THROW(linematch::readHomographyFile(write(name, text)), std::runtime_error) << name;
    EXPECT_THROW(linematch::readHomographyFile(dir + "/missing.txt"), std::runtime_error);
    EXPECT_THROW(linematch::readHomographyFile(dir), std::runtime_error);  // a directory
}

using SegmentFile = TempDir;

TEST_F(SegmentFile, RoundTripsExactly) {
    const std::vector<linematch::Segment> segments{{1.5, 2.25, 300.125, 4}, {1.0 / 3, 0.1 + 0.2, -0.0, 1e-7}};
    linematch::writeSegmentFile(dir + "/s.txt", segments);
    EXPECT_EQ(linematch::readSegmentFile(dir + "/s.txt"), segments);
    std::ifstream in(dir + "/s.txt");
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "1.500 2.250 300.125 4.000");
}

TEST_F(SegmentFile, RefusesBadLinesAndUnwritablePaths) {
    for (const char* text : {"1 2 3\n", "1 2 3 4 5\n", "1 2 3 x\n", "1 2 3 nan\n"})
        EXPECT_THROW(linematch::readSegmentFile(write("bad.txt", text)), std::runtime_error) << text;
    EXPECT_THROW(linematch::writeSegmentFile(dir + "/no/such/dir/s.txt", {}), std::runtime_error);
    EXPECT_THROW(linematch::writeMatchFile(dir + "/no/such/dir/m.txt", {}), std::runtime_error);
}

TEST_F(SegmentFile, MatchFileIsZeroBasedPairs) {
    linematch::writeMatchFile(dir + "/m.txt", {{0, 5}, {12, 0}});
    std::ifstream in(dir + "/m.txt");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "0 5\n12 0\n");
}

TEST(ConfidenceRanking, AveragePrecisionAndTheConfidentHalf) {
    const double nan = std::nan("");
    struct Case {
        const char* name;
        std::vector<bool> isTrue;
        std::vector<double> confidence;
        std::size_t trueCorrespondences;
        double averagePrecision, confidentHalf;
    };
    const Case cases[] = {
        {"empty", {}, {}, 5, 0, 0},
        {"all true, 4 to find", {true, true, true}, {0.2, 0.9, 0.5}, 4, 0.75, 1},
        {"all false", {false, false, false}, {0.9, 0.5, 0.1}, 3, 0, 0},
        // Ranked #2 (false), then the tie in the matches' order: #0 (true),
        // #1 (false). The tie the other way round would give 1/3 and 0.
        {"ties keep the matches' order", {true, false, false}, {0.5, 0.5, 0.9}, 1, 0.5, 0.5},
        {"a tie among several", {false, true, true, false}, {0.5, 0.5, 0.9, 0.5}, 2, (1 + 2.0 / 3) / 2, 0.5},
        {"no true correspondences", {true}, {0.3}, 0, 0, 1},
        {"NaN ranks last", {true, false}, {nan, 0.1}, 1, 0.5, 0},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(linematch::averagePrecision(c.isTrue, c.confidence, c.trueCorrespondences), c.averagePrecision,
                    1e-12)
            << c.name;
        EXPECT_NEAR(linematch::confidentHalfPrecision(c.isTrue, c.confidence), c.confidentHalf, 1e-12) << c.name;
    }
    EXPECT_THROW(linematch::averagePrecision({true, false}, {0.5}, 2), std::invalid_argument);
}

TEST(CornerShiftHomography, MovesEveryCornerWithinTheShareAndRepeats) {
    const cv::Size size(800, 600);
    for (std::uint32_t seed : {1u, 2u, 77u}) {
        const cv::Matx33d h = linematch::cornerShiftHomography(size, 0.12, seed);
        EXPECT_EQ(h.val[0], linematch::cornerShiftHomography(size, 0.12, seed).val[0]);
        double largest = 0;
        for (const cv::Point2d c : {cv::Point2d(0, 0), cv::Point2d(799, 0), cv::Point2d(799, 599), cv::Point2d(0, 599)}) {
            const cv::Vec3d m = h * cv::Vec3d(c.x, c.y, 1);
            const double dx = std::fabs(m[0] / m[2] - c.x), dy = std::fabs(m[1] / m[2] - c.y);
            EXPECT_LE(dx, 0.12 * 800 + 1e-3);
            EXPECT_LE(dy, 0.12 * 600 + 1e-3);
            largest = std::max({largest, dx / 800, dy / 600});
        }
        EXPECT_GT(largest, 0.03);  // it does move them
    }
    EXPECT_NE(linematch::cornerShiftHomography(size, 0.12, 1).val[2],
              linematch::cornerShiftHomography(size, 0.12, 2).val[2]);
    EXPECT_THROW(linematch::cornerShiftHomography(size, 0.6, 1), std::invalid_argument);
    EXPECT_THROW(linematch::cornerShiftHomography(size, -0.1, 1), std::invalid_argument);
}

TEST(WarpImage, PixelsGoWhereTheHomographySendsThem) {
    cv::Mat image(100, 120, CV_8U, cv::Scalar(0));
    image.at<uchar>(40, 30) = 255;
    const cv::Matx33d shiftBy(1, 0, 7, 0, 1, -5, 0, 0, 1);
    const cv::Mat warped = linematch::warpImage(image, shiftBy);
    ASSERT_EQ(warped.size(), image.size());
    EXPECT_EQ(warped.at<uchar>(35, 37), 255);
    EXPECT_EQ(warped.at<uchar>(40, 30), 0);
}

}  // namespace
