// Seeds from point matches where line descriptors fail (a change of scale
// or a quarter turn), the safe answer when no seeds hold, and the caller's
// own seeds. On OpenCV's sample photographs and warps made here, so that
// they run on any machine with opencv-doc.
#include "linematch/evaluation.hpp"
#include "linematch/image_warp.hpp"
#include "linematch/line_geometry.hpp"
#include "linematch/matcher.hpp"
#include "linematch/point_seeds.hpp"
#include "sample_images.hpp"
#include "linematch/segments.hpp"

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <numeric>
#include <random>
#include <set>
#include <stdexcept>
#include <string>

namespace {

using sample::dataDir;
using sample::readImage;

struct Warped {
    cv::Mat image;
    cv::Matx33d homography;
};

Warped viewOf(const cv::Mat& image, const linematch::ViewChange& change) {
    cv::Size canvas;
    const cv::Matx33d h = linematch::viewChangeHomography(image.size(), cv::Matx33d::eye(), change, canvas);
    return {linematch::warpImage(image, h, canvas), h};
}

TEST(WarpImage, QuarterTurnsAndScalesLandOnThePixelGrid) {
    cv::Mat image(30, 50, CV_8U, cv::Scalar(0));
    image.at<uchar>(2, 7) = 255;  // row 2, column 7
    struct Case {
        linematch::ViewChange change;
        cv::Size canvas;
        cv::Point at;  // where the bright pixel lands
    };
    const Case cases[] = {
        {{1, 90, 1, 0}, {30, 50}, {2, 42}},   // counter-clockwise: the top row becomes the left column
        {{1, 180, 1, 0}, {50, 30}, {42, 27}},
        {{1, -90, 1, 0}, {30, 50}, {27, 7}},
        {{2, 0, 1, 0}, {99, 59}, {14, 4}},
    };
    for (const Case& c : cases) {
        const Warped w = viewOf(image, c.change);
        EXPECT_EQ(w.image.size(), c.canvas) << c.change.rotation << " " << c.change.scale;
        EXPECT_EQ(w.image.at<uchar>(c.at), 255) << c.change.rotation << " " << c.change.scale;
        const cv::Vec3d q = w.homography * cv::Vec3d(7, 2, 1);
        EXPECT_NEAR(q[0] / q[2], c.at.x, 1e-9);
        EXPECT_NEAR(q[1] / q[2], c.at.y, 1e-9);
    }
    cv::Size canvas;
    EXPECT_THROW(linematch::viewChangeHomography(image.size(), cv::Matx33d::eye(), {0, 0, 1, 0}, canvas),
                 std::invalid_argument);
    EXPECT_THROW(linematch::viewChangeHomography(image.size(), cv::Matx33d::eye(), {1, 0, 0.5, 0}, canvas),
                 std::invalid_argument);
}

// LBD finds next to nothing under these changes; the point seeds carry
// the matcher.
TEST(PointSeeds, ScaleAndRotationOfAPhotograph) {
    const cv::Mat a = readImage("building.jpg");
    ASSERT_FALSE(a.empty());
    const linematch::ViewChange changes[] = {{0.5, 0, 1, 0}, {2, 0, 1, 0}, {1, 90, 1, 0}, {1, 180, 1, 0}};
    for (const linematch::ViewChange& change : changes) {
        const Warped w = viewOf(a, change);
        const linematch::MatchResult r = linematch::matchLines(a, w.image);
        const linematch::GroundTruth truth(r.segments1, r.segments2, w.homography);
        const linematch::Score point = truth.score(r.pointSeeds), final = truth.score(r.matches);
        SCOPED_TRACE("scale " + std::to_string(change.scale) + ", rotation " + std::to_string(change.rotation));
        EXPECT_EQ(r.status, "ok");
        EXPECT_GE(point.matches, 100);
        EXPECT_GE(point.precision, 0.9);
        // Measured 0.97-0.99 / 0.75-0.96.
        EXPECT_GE(final.precision, 0.93);
        EXPECT_GE(final.recall, 0.65);
    }
}

TEST(PointSeeds, UnrelatedImagesGiveThinSupportAndNoAnswer) {
    const cv::Mat a = readImage("building.jpg"), b = readImage("baboon.jpg");
    ASSERT_FALSE(a.empty() || b.empty());
    const linematch::MatchResult r = linematch::matchLines(a, b);
    EXPECT_EQ(r.status, "thin_support");
    EXPECT_TRUE(r.matches.empty());
    EXPECT_TRUE(r.seeds.empty());
    ASSERT_EQ(r.rounds.size(), 1u);
    // The two per-round lists stay in step: the round added nothing.
    ASSERT_EQ(r.roundMatches.size(), 1u);
    EXPECT_TRUE(r.roundMatches[0].empty());
    EXPECT_LT(r.rounds[0].keptSeeds, linematch::MatcherSettings{}.minSeeds);
}

// A caller with a point matcher of its own: its matches alone (here the
// true map on a grid, with the matcher's own point and LBD seeds off) make
// the seeds; and line seeds given by index go through the checks like any.
TEST(PointSeeds, TheCallersOwnSeeds) {
    const cv::Mat a = readImage("building.jpg");
    ASSERT_FALSE(a.empty());
    const Warped w = viewOf(a, {0.5, 30, 1, 0});
    linematch::MatcherSettings own;
    own.points.enabled = false;
    own.lbdSeeds = false;
    linematch::GivenSeeds given;
    for (int y = 10; y < a.rows; y += 25)
        for (int x = 10; x < a.cols; x += 25) {
            const cv::Vec3d q = w.homography * cv::Vec3d(x, y, 1);
            given.points.push_back({{double(x), double(y)}, {q[0] / q[2], q[1] / q[2]}});
        }
    const linematch::MatchResult byPoints = linematch::matchLines(a, w.image, own, given);
    const linematch::GroundTruth truth(byPoints.segments1, byPoints.segments2, w.homography);
    EXPECT_EQ(byPoints.status, "ok");
    EXPECT_GE(truth.score(byPoints.matches).precision, 0.95);
    EXPECT_GE(truth.score(byPoints.matches).recall, 0.7);
    EXPECT_EQ(byPoints.seedsBySource[static_cast<int>(linematch::SeedSource::point)],
              static_cast<int>(byPoints.pointSeeds.size()));

    // Line seeds: the point result's seeds handed back by index, no other
    // source; one out of range is refused.
    linematch::GivenSeeds lines;
    lines.lines = byPoints.seeds;
    const linematch::MatchResult byLines =
        linematch::matchSegments(a, w.image, byPoints.segments1, byPoints.segments2, own, lines);
    EXPECT_EQ(byLines.seedsBySource[static_cast<int>(linematch::SeedSource::given)],
              static_cast<int>(lines.lines.size()));
    EXPECT_GE(byLines.keptBySource[static_cast<int>(linematch::SeedSource::given)],
              static_cast<int>(0.9 * lines.lines.size()));
    EXPECT_GE(truth.score(byLines.matches).precision, 0.9);
    EXPECT_GE(truth.score(byLines.matches).recall, 0.6);
    lines.lines.push_back({static_cast<int>(byPoints.segments1.size()), 0});
    EXPECT_THROW(linematch::matchSegments(a, w.image, byPoints.segments1, byPoints.segments2, own, lines),
                 std::invalid_argument);
}

TEST(PointSeeds, SameAnswerEveryRun) {
    const cv::Mat a = readImage("board.jpg");
    ASSERT_FALSE(a.empty());
    const Warped w = viewOf(a, {0.7, 20, 1, 0});
    linematch::MatcherSettings two;
    two.threads = 2;
    const linematch::MatchResult one = linematch::matchLines(a, w.image), other = linematch::matchLines(a, w.image, two);
    EXPECT_FALSE(one.matches.empty());
    EXPECT_EQ(one.matches, other.matches);
    EXPECT_EQ(one.pointSeeds, other.pointSeeds);
}

}  // namespace

// Segments carried exactly onto their partners are all found, however many
// and however long they are, and however far apart they lie: the search
// looks only at the image-2 segments near each carried one. Short segments
// keep to slots of their own, so that none lands on two lines; long ones
// cross the whole field.
TEST(PointSeeds, PlanesCarryEverySegmentOntoItsPartner) {
    const struct {
        int count;
        double shortest, longest, field;
        bool slotted;
    } scenes[] = {
        {1500, 10, 40, 4000, true},          // detected-like
        {800, 200, 2000, 2000, false},       // long ones crossing the whole field
        {400, 10, 60, 1 << 20, true},        // sparse over a large field
    };
    const cv::Matx33d h(0.9, -0.2, 35, 0.15, 1.05, -20, 0, 0, 1);
    for (const auto& scene : scenes) {
        SCOPED_TRACE(std::to_string(scene.count) + " segments");
        std::mt19937 generator(7);
        const auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(generator); };
        const int side = static_cast<int>(std::ceil(std::sqrt(scene.count)));
        const double slot = scene.field / side;
        std::vector<linematch::Segment> segments1, segments2(static_cast<std::size_t>(scene.count));
        for (int k = 0; k < scene.count; ++k) {
            const double l = uniform(scene.shortest, scene.longest), a = uniform(-CV_PI, CV_PI);
            double x = uniform(0, scene.field), y = uniform(0, scene.field);
            if (scene.slotted) {  // the middle half of slot k, the segment centred there
                x = (k % side + uniform(0.25, 0.75)) * slot - l / 2 * std::cos(a);
                y = (k / side + uniform(0.25, 0.75)) * slot - l / 2 * std::sin(a);
            }
            segments1.push_back({x, y, x + l * std::cos(a), y + l * std::sin(a)});
        }
        // Partner of segment i: image-2 segment partner[i], listed in shuffled order.
        std::vector<int> partner(segments1.size());
        std::iota(partner.begin(), partner.end(), 0);
        std::shuffle(partner.begin(), partner.end(), generator);
        // The partner lies 1.9 px to the side of the carried segment (within
        // lineDistance, 2) and is cut by a twentieth at each end: no point of
        // one need lie in a cell of the other.
        for (std::size_t i = 0; i < segments1.size(); ++i) {
            const linematch::Segment m = linematch::mapSegment(h, segments1[i]);
            const double dx = m[2] - m[0], dy = m[3] - m[1], l = std::hypot(dx, dy);
            const double nx = -dy / l * 1.9, ny = dx / l * 1.9;
            segments2[static_cast<std::size_t>(partner[i])] = {m[0] + 0.05 * dx + nx, m[1] + 0.05 * dy + ny,
                                                                m[2] - 0.05 * dx + nx, m[3] - 0.05 * dy + ny};
        }
        linematch::SegmentCarriers carriers;
        carriers.known.assign(segments1.size(), 1);
        carriers.homography.assign(segments1.size(), h);
        std::vector<linematch::SegmentMatch> seeds, carried;
        linematch::correspondencesFromPlanes(segments1, segments2, carriers, linematch::PointSeedSettings{}, seeds,
                                             carried);
        std::set<linematch::SegmentMatch> found(carried.begin(), carried.end());
        int missing = 0;
        for (std::size_t i = 0; i < segments1.size(); ++i)
            missing += !found.count({static_cast<int>(i), partner[i]});
        EXPECT_EQ(missing, 0);
        EXPECT_EQ(seeds.size(), segments1.size());
    }
}
