// Features as a value of their own: through their file and back exactly,
// damaged files refused, a pair matched from stored features giving what
// matchLines gives on the images, and a damaged cache entry computed again.
// On OpenCV's sample photographs and warps made here.
#include "linematch/feature_cache.hpp"
#include "linematch/image_features.hpp"
#include "linematch/image_warp.hpp"
#include "linematch/matcher.hpp"
#include "sample_images.hpp"

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using sample::readImage;

cv::Mat viewOf(const cv::Mat& image, const linematch::ViewChange& change) {
    cv::Size canvas;
    const cv::Matx33d h = linematch::viewChangeHomography(image.size(), cv::Matx33d::eye(), change, canvas);
    return linematch::warpImage(image, h, canvas);
}

bool sameMat(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0);
}

void expectSameFeatures(const linematch::ImageFeatures& a, const linematch::ImageFeatures& b) {
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.settingsKey, b.settingsKey);
    EXPECT_EQ(a.segments, b.segments);
    for (int level = 0; level < linematch::kPointLevels; ++level) {
        ASSERT_EQ(a.hasKeypoints[level], b.hasKeypoints[level]) << level;
        EXPECT_EQ(a.keypoints[level].points, b.keypoints[level].points) << level;
        EXPECT_TRUE(sameMat(a.keypoints[level].descriptors, b.keypoints[level].descriptors)) << level;
    }
    ASSERT_EQ(a.hasLbd, b.hasLbd);
    EXPECT_TRUE(sameMat(a.lbd, b.lbd));
}

TEST(ImageFeatures, ThroughTheFileAndBackExactly) {
    const cv::Mat a = readImage("building.jpg");
    ASSERT_FALSE(a.empty());
    const linematch::MatcherSettings settings;
    const linematch::ImageFeatures f = linematch::extractFeatures(a, settings, linematch::FeatureParts::all());
    ASSERT_FALSE(f.segments.empty());
    for (int level = 0; level < linematch::kPointLevels; ++level) ASSERT_GT(f.keypoints[level].points.size(), 0u);
    const std::string bytes = linematch::featureFileBytes(f);
    const linematch::ImageFeatures back = linematch::featuresFromBytes(bytes, "test");
    expectSameFeatures(f, back);
    EXPECT_TRUE(back.gray.empty());
    EXPECT_EQ(linematch::featureFileBytes(back), bytes);

    // Each damage refused with a clear error, never read as features.
    struct Case {
        const char* what;
        std::string bytes;
    };
    std::string flipped = bytes, magic = bytes, version = bytes;
    flipped[bytes.size() / 2] ^= 0x10;
    magic[0] = 'X';
    version[8] = 9;
    const Case cases[] = {
        {"checksum", flipped},
        {"magic", magic},
        {"version", version},
        {"truncated", bytes.substr(0, bytes.size() - 3)},
        {"length", bytes + "x"},
        {"too short", ""},
    };
    for (const Case& c : cases) {
        try {
            linematch::featuresFromBytes(c.bytes, "features.bin");
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const linematch::FeatureFileError& e) {
            EXPECT_NE(std::string(e.what()).find(c.what), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("features.bin"), std::string::npos) << e.what();
        }
    }
}

// A mild view (the first level suffices) and unrelated images (every
// level and LBD, thin support): from stored features without the images
// the result is exactly matchLines'.
TEST(ImageFeatures, PairsFromStoredFeaturesAreMatchLinesExactly) {
    const cv::Mat a = readImage("building.jpg"), b = readImage("baboon.jpg");
    ASSERT_FALSE(a.empty() || b.empty());
    struct Case {
        const char* name;
        cv::Mat image2;
        int threads;
    };
    const Case cases[] = {
        {"mild", viewOf(a, {0.8, 15, 1, 0}), 1},
        {"unrelated", b, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        linematch::MatcherSettings settings;
        settings.threads = c.threads;
        const linematch::MatchResult direct = linematch::matchLines(a, c.image2, settings);
        linematch::ImageFeatures f1 = linematch::featuresFromBytes(
            linematch::featureFileBytes(linematch::extractFeatures(a, settings, linematch::FeatureParts::all())), "1");
        linematch::ImageFeatures f2 = linematch::featuresFromBytes(
            linematch::featureFileBytes(linematch::extractFeatures(c.image2, settings, linematch::FeatureParts::all())),
            "2");
        const linematch::ImageFeatures stored1 = f1;
        const linematch::MatchResult cached = linematch::matchFeatures(f1, f2, settings);
        EXPECT_EQ(cached.status, direct.status);
        EXPECT_EQ(cached.pointLevel, direct.pointLevel);
        EXPECT_EQ(cached.lbdSought, direct.lbdSought);
        EXPECT_EQ(cached.matches, direct.matches);
        EXPECT_EQ(cached.confidence, direct.confidence);
        EXPECT_FALSE(f1.grown || f2.grown);
        // The overlap check tells the two apart from the stored keypoints.
        EXPECT_EQ(linematch::mayOverlap(f1, f2, settings), std::string(c.name) != "unrelated");

        // Only the first level stored and no image: a pair that needs more
        // says so; with the image it completes the features.
        linematch::ImageFeatures first = linematch::extractFeatures(c.image2, settings);
        const cv::Mat image = first.gray;
        first.gray = cv::Mat();
        linematch::ImageFeatures again1 = stored1;
        if (direct.pointLevel > 0 || direct.lbdSought) {
            EXPECT_THROW(linematch::matchFeatures(again1, first, settings), linematch::MissingFeatures);
            first.gray = image;
            EXPECT_EQ(linematch::matchFeatures(again1, first, settings).matches, direct.matches);
            EXPECT_TRUE(first.grown);
        }
    }
    // Features of other settings are not matched.
    linematch::MatcherSettings other;
    other.points.maxKeypoints = 100;
    linematch::ImageFeatures f1 = linematch::extractFeatures(a, {}), f2 = linematch::extractFeatures(b, other);
    EXPECT_THROW(linematch::matchFeatures(f1, f2, {}), std::invalid_argument);
}

TEST(FeatureCache, ADamagedEntryIsComputedAgain) {
    const cv::Mat a = readImage("building.jpg");
    ASSERT_FALSE(a.empty());
    char folder[] = "/tmp/linematch_features_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string image = std::string(folder) + "/a.png", file = std::string(folder) + "/a.bin";
    ASSERT_TRUE(cv::imwrite(image, a));
    const linematch::FrontEndSettings options;
    const linematch::CachedFeatures made = linematch::cachedFeatures(image, file, options, {});
    EXPECT_TRUE(made.computed);
    const linematch::CachedFeatures reused = linematch::cachedFeatures(image, file, options, {});
    EXPECT_FALSE(reused.computed);
    EXPECT_TRUE(reused.refused.empty());
    expectSameFeatures(made.features, reused.features);

    // One byte changed in the middle: refused, computed again, replaced.
    std::string bytes;
    {
        std::ifstream in(file, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bytes[bytes.size() / 2] ^= 1;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    const linematch::CachedFeatures redone = linematch::cachedFeatures(image, file, options, {});
    EXPECT_TRUE(redone.computed);
    EXPECT_NE(redone.refused.find("checksum"), std::string::npos) << redone.refused;
    expectSameFeatures(made.features, redone.features);
    expectSameFeatures(made.features, linematch::loadFeatures(file));

    // Features of an image of another size: refused when the image is at
    // hand (the file was named after another image, or the image changed).
    const cv::Mat part = a(cv::Rect(0, 0, a.cols / 2, a.rows / 2)).clone();
    const linematch::CachedFeatures other = linematch::cachedFeatures(image, file, options, {}, part);
    EXPECT_TRUE(other.computed);
    EXPECT_NE(other.refused.find("another image"), std::string::npos) << other.refused;
    EXPECT_EQ(other.features.size, part.size());
    std::remove(image.c_str());
    std::remove(file.c_str());
    rmdir(folder);
}

}  // namespace
