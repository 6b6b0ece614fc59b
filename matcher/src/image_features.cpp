#include "linematch/image_features.hpp"

#include "linematch/descriptor_seeds.hpp"
#include "linematch/segments.hpp"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/flann.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <iterator>
#include <limits>
#include <sstream>
#include <unistd.h>

namespace linematch {

namespace {

cv::Mat grayOf(const cv::Mat& image) {
    if (image.empty()) throw std::invalid_argument("image is empty");
    if (image.depth() != CV_8U || (image.channels() != 1 && image.channels() != 3 && image.channels() != 4))
        throw std::invalid_argument("image must be an 8-bit image with 1, 3 or 4 channels");
    if (image.channels() == 1) return image;
    cv::Mat gray;
    cv::cvtColor(image, gray, image.channels() == 3 ? cv::COLOR_BGR2GRAY : cv::COLOR_BGRA2GRAY);
    return gray;
}

const char* const kLevelNames[kPointLevels] = {"first-level keypoints", "detail keypoints", "affine-view keypoints"};

void needImage(const ImageFeatures& features, const char* part) {
    if (features.gray.empty())
        throw MissingFeatures(std::string("the features lack the ") + part +
                              " this pair needs and carry no image to compute them from");
}

void computeLevel(ImageFeatures& features, const MatcherSettings& settings, int level) {
    needImage(features, kLevelNames[level]);
    features.keypoints[level] =
        detectKeypoints(features.gray, settings.points, levelSide(settings.points, level), level == 2);
    features.hasKeypoints[level] = true;
}

void computeLbd(ImageFeatures& features) {
    needImage(features, "LBD descriptors");
    features.lbd = lbdDescriptors(features.gray, features.segments);
    features.hasLbd = true;
}

// first on a thread of its own beside second when both are to run.
template <class First, class Second>
void maybeSideBySide(bool parallel, bool doFirst, bool doSecond, const First& first, const Second& second) {
    if (parallel && doFirst && doSecond) {
        std::future<void> other = std::async(std::launch::async, second);
        first();
        other.get();
        return;
    }
    if (doFirst) first();
    if (doSecond) second();
}

}  // namespace

std::string featureSettingsKey(const MatcherSettings& settings) {
    char text[256];
    const PointSeedSettings& p = settings.points;
    std::snprintf(text, sizeof text,
                  "min_length=%.17g first=%.17g detail=%.17g affine=%.17g keypoints=%d affine_keypoints=%d",
                  settings.minSegmentLength, p.firstSide, p.detailSide, p.affineSide, p.maxKeypoints,
                  p.affineKeypoints);
    return text;
}

ImageFeatures extractFeatures(const cv::Mat& image, const MatcherSettings& settings, FeatureParts parts) {
    ImageFeatures features;
    features.gray = grayOf(image);
    features.size = features.gray.size();
    features.settingsKey = featureSettingsKey(settings);
    features.segments = detectSegments(features.gray, settings.minSegmentLength);
    completeFeatures(features, settings, parts);
    features.grown = false;
    return features;
}

void completeFeatures(ImageFeatures& features, const MatcherSettings& settings, FeatureParts parts) {
    const bool wanted[kPointLevels] = {parts.first, parts.detail, parts.affine};
    for (int level = 0; level < kPointLevels; ++level)
        if (wanted[level] && !features.hasKeypoints[level]) {
            computeLevel(features, settings, level);
            features.grown = true;
        }
    if (parts.lbd && !features.hasLbd) {
        computeLbd(features);
        features.grown = true;
    }
}

void completePairLevel(ImageFeatures& features1, ImageFeatures& features2, const MatcherSettings& settings,
                       int level, bool sideBySide) {
    const bool missing1 = !features1.hasKeypoints[level], missing2 = !features2.hasKeypoints[level];
    if (missing1) needImage(features1, kLevelNames[level]);
    if (missing2) needImage(features2, kLevelNames[level]);
    maybeSideBySide(
        sideBySide, missing1, missing2, [&] { computeLevel(features1, settings, level); },
        [&] { computeLevel(features2, settings, level); });
    features1.grown = features1.grown || missing1;
    features2.grown = features2.grown || missing2;
}

void completePairLbd(ImageFeatures& features1, ImageFeatures& features2, bool sideBySide) {
    const bool missing1 = !features1.hasLbd, missing2 = !features2.hasLbd;
    if (missing1) needImage(features1, "LBD descriptors");
    if (missing2) needImage(features2, "LBD descriptors");
    maybeSideBySide(
        sideBySide, missing1, missing2, [&] { computeLbd(features1); }, [&] { computeLbd(features2); });
    features1.grown = features1.grown || missing1;
    features2.grown = features2.grown || missing2;
}

// --- pairs that do not overlap -----------------------------------------------

namespace {

// Approximate ratio-test matches of two keypoint sets: one k-d tree, 16
// checks, at a few percent of the exact search's cost. (On the Oxford
// sequences' hardest pairs, img1 against img6, a plane keeps 79 to 1365
// inliers this way, pairs of two scenes 5 to 14; OpenCV's default of 4
// trees and 32 checks costs two and a half times as much for the same
// verdicts.) The trees are drawn with this thread's OpenCV generator
// and the C library's, seeded here so that a pair is judged the same on
// every run whatever ran before; OpenCV's is given back its state after.
std::vector<PointCorrespondence> roughMatches(const KeypointSet& k1, const KeypointSet& k2, double ratio) {
    std::vector<PointCorrespondence> matches;
    if (k1.descriptors.rows < 1 || k2.descriptors.rows < 2) return matches;
    cv::RNG& generator = cv::theRNG();
    const cv::RNG before = generator;
    generator = cv::RNG(1);
    std::srand(1);
    std::vector<std::vector<cv::DMatch>> nearest;
    try {
        cv::FlannBasedMatcher matcher(cv::makePtr<cv::flann::KDTreeIndexParams>(1),
                                      cv::makePtr<cv::flann::SearchParams>(16));
        matcher.knnMatch(k1.descriptors, k2.descriptors, nearest, 2);
    } catch (...) {
        generator = before;
        throw;
    }
    generator = before;
    // One match per image-2 keypoint, the closest, as the point stage's
    // mutual test keeps it: many keypoints on one spot would otherwise
    // make a collapsing homography with as many inliers.
    std::vector<int> best(static_cast<std::size_t>(k2.descriptors.rows), -1);
    for (std::size_t r = 0; r < nearest.size(); ++r) {
        const std::vector<cv::DMatch>& n = nearest[r];
        if (n.size() < 2 || !(n[0].distance < ratio * n[1].distance)) continue;
        int& b = best[static_cast<std::size_t>(n[0].trainIdx)];
        if (b < 0 || n[0].distance < nearest[static_cast<std::size_t>(b)][0].distance) b = static_cast<int>(r);
    }
    for (std::size_t w = 0; w < best.size(); ++w)
        if (best[w] >= 0) matches.push_back({k1.points[nearest[best[w]][0].queryIdx], k2.points[w]});
    return matches;
}

}  // namespace

bool mayOverlap(const ImageFeatures& features1, const ImageFeatures& features2, const MatcherSettings& settings) {
    const PointSeedSettings& p = settings.points;
    if (!p.enabled) return true;  // nothing to judge by
    const int minInliers = std::max(p.minInliers, 5);
    const double scale = std::max(1.0, std::max({features1.size.width, features1.size.height, features2.size.width,
                                                 features2.size.height}) / 1000.0);
    bool judged = false;
    for (int level : {0, 2}) {
        if (level == 2 && !p.affineViews) continue;
        if (!features1.hasKeypoints[level] || !features2.hasKeypoints[level]) continue;
        judged = true;
        const std::vector<PointCorrespondence> matches =
            roughMatches(features1.keypoints[level], features2.keypoints[level], p.ratio);
        if (static_cast<int>(matches.size()) < minInliers) continue;
        std::vector<cv::Point2d> from, to;
        for (const PointCorrespondence& m : matches) {
            from.push_back(m.image1);
            to.push_back(m.image2);
        }
        // Twice the point stage's tolerance: a plane it would verify is
        // found here too, whatever the approximate search missed (random
        // matches reach the count at three times, seen on unrelated
        // photographs).
        cv::Mat inliers;
        const cv::Mat h = cv::findHomography(from, to, cv::RANSAC, 2 * p.inlierDistance * scale, inliers, 2000, 0.995);
        // A view of one side of a plane keeps the orientation (as the point
        // stage's planes).
        if (!h.empty() && cv::determinant(h) > 0 && cv::countNonZero(inliers) >= minInliers) return true;
    }
    // Without the levels to judge by, the pair is matched in full.
    return !judged;
}

MatchResult noOverlapResult(const ImageFeatures& features1, const ImageFeatures& features2) {
    MatchResult result;
    result.status = "no_overlap";
    result.segments1 = features1.segments;
    result.segments2 = features2.segments;
    result.rounds.emplace_back();
    result.roundMatches.emplace_back();
    return result;
}

// --- the file ---------------------------------------------------------------

namespace {

const char kMagic[8] = {'L', 'M', 'F', 'E', 'A', 'T', 'S', '\n'};
constexpr std::uint32_t kVersion = 1;
// Refused above these (a damaged count must not make a huge allocation
// before the checksum is seen to fail: the checksum comes last).
constexpr std::uint64_t kMaxCount = std::uint64_t(1) << 32;

// FNV-1a, 64 bits: finds damaged bytes (this is not a defence against
// someone who means to forge a file: the cache folder is the user's own).
std::uint64_t fnv1a(const char* data, std::size_t size) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::size_t k = 0; k < size; ++k) {
        h ^= static_cast<unsigned char>(data[k]);
        h *= 1099511628211ull;
    }
    return h;
}

static_assert(sizeof(double) == 8, "IEEE doubles");

bool littleEndian() {
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

class Writer {
public:
    template <class T>
    void put(T value) {
        static_assert(std::is_arithmetic<T>::value, "numbers only");
        raw(&value, sizeof value);
    }
    void raw(const void* data, std::size_t size) {
        // Native order is little-endian on every machine this is built for;
        // the file says little-endian and a big-endian build refuses to
        // write it rather than write another format.
        out_.append(static_cast<const char*>(data), size);
    }
    void text(const std::string& s) {
        put<std::uint64_t>(s.size());
        raw(s.data(), s.size());
    }
    void matrix(const cv::Mat& m, int type, int cols) {
        CV_Assert(m.empty() || (m.type() == type && m.cols == cols));
        put<std::uint64_t>(static_cast<std::uint64_t>(m.rows));
        for (int r = 0; r < m.rows; ++r) raw(m.ptr(r), static_cast<std::size_t>(cols) * m.elemSize());
    }
    std::string& bytes() { return out_; }

private:
    std::string out_;
};

class Reader {
public:
    Reader(const char* data, std::size_t size, const std::string& where) : data_(data), size_(size), where_(where) {}
    template <class T>
    T get() {
        T value;
        raw(&value, sizeof value);
        return value;
    }
    void raw(void* into, std::size_t size) {
        if (size > size_ - at_) fail("truncated");
        std::memcpy(into, data_ + at_, size);
        at_ += size;
    }
    std::uint64_t count(std::uint64_t itemBytes) {
        const std::uint64_t n = get<std::uint64_t>();
        if (n > kMaxCount || (itemBytes > 0 && n * itemBytes > size_ - at_))
            fail("truncated or damaged (a count beyond the file)");
        return n;
    }
    std::string text() {
        const std::uint64_t n = count(1);
        std::string s(n, '\0');
        raw(s.data(), n);
        return s;
    }
    cv::Mat matrix(int type, int cols) {
        const std::size_t rowBytes = static_cast<std::size_t>(cols) * CV_ELEM_SIZE(type);
        const std::uint64_t rows = count(rowBytes);
        cv::Mat m(static_cast<int>(rows), cols, type);
        if (rows > 0) raw(m.ptr(), rows * rowBytes);
        return m;
    }
    bool atEnd() const { return at_ == size_; }
    [[noreturn]] void fail(const std::string& what) const {
        throw FeatureFileError(where_ + ": not a usable features file: " + what);
    }

private:
    const char* data_;
    std::size_t size_, at_ = 0;
    std::string where_;
};

constexpr std::uint8_t kHasLbd = 1 << kPointLevels;

}  // namespace

std::string featureFileBytes(const ImageFeatures& f) {
    if (!littleEndian()) throw FeatureFileError("features files are little-endian; this machine is not");
    Writer w;
    w.text(f.settingsKey);
    w.put<std::int32_t>(f.size.width);
    w.put<std::int32_t>(f.size.height);
    w.put<std::uint64_t>(f.segments.size());
    for (const Segment& s : f.segments) w.raw(s.data(), sizeof(double) * 4);
    std::uint8_t parts = f.hasLbd ? kHasLbd : 0;
    for (int level = 0; level < kPointLevels; ++level)
        if (f.hasKeypoints[level]) parts |= static_cast<std::uint8_t>(1 << level);
    w.put<std::uint8_t>(parts);
    for (int level = 0; level < kPointLevels; ++level) {
        if (!f.hasKeypoints[level]) continue;
        const KeypointSet& k = f.keypoints[level];
        if (static_cast<int>(k.points.size()) != k.descriptors.rows)
            throw std::invalid_argument("features: keypoints and descriptors differ in number");
        w.put<std::uint64_t>(k.points.size());
        for (const cv::Point2d& p : k.points) {
            w.put<double>(p.x);
            w.put<double>(p.y);
        }
        w.matrix(k.descriptors, CV_32F, 128);
    }
    if (f.hasLbd) {
        if (f.lbd.rows != static_cast<int>(f.segments.size()))
            throw std::invalid_argument("features: LBD descriptors and segments differ in number");
        w.matrix(f.lbd, CV_8U, 32);
    }
    const std::string& payload = w.bytes();
    std::string out(kMagic, sizeof kMagic);
    Writer head;
    head.put<std::uint32_t>(kVersion);
    head.put<std::uint64_t>(payload.size());
    out += head.bytes();
    out += payload;
    Writer tail;
    tail.put<std::uint64_t>(fnv1a(payload.data(), payload.size()));
    out += tail.bytes();
    return out;
}

ImageFeatures featuresFromBytes(const std::string& bytes, const std::string& where) {
    if (!littleEndian()) throw FeatureFileError("features files are little-endian; this machine is not");
    Reader head(bytes.data(), bytes.size(), where);
    char magic[sizeof kMagic];
    if (bytes.size() < sizeof kMagic) head.fail("too short");
    head.raw(magic, sizeof magic);
    if (std::memcmp(magic, kMagic, sizeof kMagic) != 0) head.fail("wrong magic");
    const std::uint32_t version = head.get<std::uint32_t>();
    if (version != kVersion)
        head.fail("format version " + std::to_string(version) + ", this program reads " + std::to_string(kVersion));
    const std::uint64_t size = head.get<std::uint64_t>();
    const std::size_t start = sizeof kMagic + 12;
    if (size > bytes.size() - start || bytes.size() - start - size != 8) head.fail("truncated or damaged (length)");
    std::uint64_t sum;
    std::memcpy(&sum, bytes.data() + start + size, 8);
    if (sum != fnv1a(bytes.data() + start, size)) head.fail("damaged (checksum)");

    Reader r(bytes.data() + start, size, where);
    ImageFeatures f;
    f.settingsKey = r.text();
    f.size.width = r.get<std::int32_t>();
    f.size.height = r.get<std::int32_t>();
    if (f.size.width <= 0 || f.size.height <= 0) r.fail("image size not positive");
    f.segments.resize(r.count(sizeof(double) * 4));
    for (Segment& s : f.segments) r.raw(s.data(), sizeof(double) * 4);
    const std::uint8_t parts = r.get<std::uint8_t>();
    if (parts >= (kHasLbd << 1)) r.fail("unknown parts");
    for (int level = 0; level < kPointLevels; ++level) {
        if (!(parts & (1 << level))) continue;
        KeypointSet& k = f.keypoints[level];
        k.points.resize(r.count(16));
        for (cv::Point2d& p : k.points) {
            p.x = r.get<double>();
            p.y = r.get<double>();
        }
        k.descriptors = r.matrix(CV_32F, 128);
        if (k.descriptors.rows != static_cast<int>(k.points.size()))
            r.fail("keypoints and descriptors differ in number");
        f.hasKeypoints[level] = true;
    }
    if (parts & kHasLbd) {
        f.lbd = r.matrix(CV_8U, 32);
        if (f.lbd.rows != static_cast<int>(f.segments.size())) r.fail("LBD descriptors and segments differ in number");
        f.hasLbd = true;
    }
    if (!r.atEnd()) r.fail("bytes after the last part");
    return f;
}

void saveFeatures(const std::string& path, const ImageFeatures& features) {
    const std::string bytes = featureFileBytes(features);
    // A name of this host and process beside the target, renamed over it
    // when whole (a collection removes those of its host's dead processes).
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    const std::string scratch = path + ".tmp-" + host + "-" + std::to_string(::getpid()) + "-" +
                                std::to_string(reinterpret_cast<std::uintptr_t>(&bytes));
    {
        std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::remove(scratch.c_str());
            throw FeatureFileError("cannot write " + scratch);
        }
    }
    if (std::rename(scratch.c_str(), path.c_str()) != 0) {
        std::remove(scratch.c_str());
        throw FeatureFileError("cannot rename " + scratch + " to " + path);
    }
}

ImageFeatures loadFeatures(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw FeatureFileError(path + ": cannot be read");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw FeatureFileError(path + ": cannot be read");
    return featuresFromBytes(bytes, path);
}

}  // namespace linematch
