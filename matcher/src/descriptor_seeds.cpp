#include "linematch/descriptor_seeds.hpp"

#include "parallel_ranges.hpp"
#include "linematch/segments.hpp"

#include <opencv2/core/hal/hal.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/line_descriptor.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <string>

namespace linematch {

namespace {

// Best and second-best distance to the rows offered so far, in increasing
// row order: ties go to the lower row, and the second distance is the
// second smallest of all distances seen (equal to the best on a tie).
struct Nearest {
    int best = -1;
    int bestDistance = INT_MAX;
    int secondDistance = INT_MAX;

    void offer(int distance, int row) {
        if (distance < bestDistance) {
            secondDistance = bestDistance;
            bestDistance = distance;
            best = row;
        } else if (distance < secondDistance) {
            secondDistance = distance;
        }
    }
    // The same as offering, after the rows seen here, those seen by later
    // (all of them higher).
    void append(const Nearest& later) {
        if (later.bestDistance < bestDistance) {
            secondDistance = std::min(bestDistance, later.secondDistance);
            bestDistance = later.bestDistance;
            best = later.best;
        } else {
            secondDistance = std::min(secondDistance, later.bestDistance);
        }
    }
};

// OpenCV's Hamming distance: cv::hal::normHamming, or for rows of whole
// 16-byte blocks the same count with OpenCV's vector popcount inlined (the
// library call's fixed cost per pair is larger than the count itself for
// 32-byte descriptors).
class Hamming {
public:
    explicit Hamming(int bytes) : bytes_(bytes) {}
    int operator()(const uchar* a, const uchar* b) const {
#if CV_SIMD128
        if (bytes_ == 32) {
            // LBD's descriptor: two blocks.
            const cv::v_uint8x16 bits = cv::v_popcount(cv::v_load(a) ^ cv::v_load(b)) +
                                        cv::v_popcount(cv::v_load(a + 16) ^ cv::v_load(b + 16));
            return static_cast<int>(cv::v_reduce_sum(bits));
        }
        if (bytes_ % 16 == 0) {
            unsigned total = 0;
            for (int k = 0; k < bytes_;) {
                // A lane gains at most 8 per block: summed out every 31 blocks.
                cv::v_uint8x16 bits = cv::v_setzero_u8();
                for (int block = 0; block < 31 && k < bytes_; ++block, k += 16)
                    bits += cv::v_popcount(cv::v_load(a + k) ^ cv::v_load(b + k));
                total += cv::v_reduce_sum(bits);
            }
            return static_cast<int>(total);
        }
#endif
        return cv::hal::normHamming(a, b, bytes_);
    }

private:
    int bytes_;
};

struct NearestBothWays {
    std::vector<Nearest> forward;   // per row of d1: nearest rows of d2
    std::vector<Nearest> backward;  // per row of d2: nearest rows of d1 (when asked for)
};

// Every distance of the Hamming distance matrix is computed once and serves
// both directions. The rows of d1 are cut into contiguous ranges, one per
// thread; each range keeps its own backward minima, joined in range order.
NearestBothWays nearestBothWays(const cv::Mat& d1, const cv::Mat& d2, bool backward, int threads) {
    CV_Assert(d1.type() == CV_8U && d2.type() == CV_8U && d1.cols == d2.cols);
    NearestBothWays result;
    result.forward.resize(static_cast<std::size_t>(d1.rows));
    const int parts = rangeParts(d1.rows, threads, 64);
    std::vector<std::vector<Nearest>> partial(backward ? static_cast<std::size_t>(parts) : 0);
    const Hamming hamming(d1.cols);
    parallelRanges(d1.rows, parts, [&](int begin, int end, int part) {
        Nearest* back = nullptr;
        if (backward) {
            partial[static_cast<std::size_t>(part)].resize(static_cast<std::size_t>(d2.rows));
            back = partial[static_cast<std::size_t>(part)].data();
        }
        // Two rows of d1 at a time share the loads of each row of d2 and of
        // its backward minimum. The local minima cannot alias the backward
        // ones, so they stay in registers.
        int a = begin;
        for (; back && a + 1 < end; a += 2) {
            Nearest n0, n1;
            const uchar* row0 = d1.ptr<uchar>(a);
            const uchar* row1 = d1.ptr<uchar>(a + 1);
            for (int b = 0; b < d2.rows; ++b) {
                const uchar* rowB = d2.ptr<uchar>(b);
                const int e0 = hamming(row0, rowB), e1 = hamming(row1, rowB);
                n0.offer(e0, b);
                n1.offer(e1, b);
                Nearest m = back[b];
                m.offer(e0, a);
                m.offer(e1, a + 1);
                back[b] = m;
            }
            result.forward[static_cast<std::size_t>(a)] = n0;
            result.forward[static_cast<std::size_t>(a) + 1] = n1;
        }
        for (; a < end; ++a) {
            Nearest n;
            const uchar* rowA = d1.ptr<uchar>(a);
            for (int b = 0; b < d2.rows; ++b) {
                const int d = hamming(rowA, d2.ptr<uchar>(b));
                n.offer(d, b);
                if (back) back[b].offer(d, a);
            }
            result.forward[static_cast<std::size_t>(a)] = n;
        }
    });
    if (backward) {
        result.backward = std::move(partial[0]);
        for (int p = 1; p < parts; ++p)
            for (int b = 0; b < d2.rows; ++b)
                result.backward[static_cast<std::size_t>(b)].append(partial[static_cast<std::size_t>(p)][static_cast<std::size_t>(b)]);
    }
    return result;
}

// Largest key-line count per call and largest image diagonal (a margin left
// for the band beside the line) that LBD's 16-bit counters hold.
constexpr std::size_t kLbdMaxKeyLines = 32767;
constexpr int kLbdMaxDiagonal = 32767 - 64;

}  // namespace

cv::Mat lbdDescriptors(const cv::Mat& gray, const std::vector<Segment>& segments) {
    CV_Assert(gray.type() == CV_8UC1);
    std::vector<cv::line_descriptor::KeyLine> keyLines;
    keyLines.reserve(segments.size());
    for (std::size_t k = 0; k < segments.size(); ++k) {
        const Segment& s = segments[k];
        cv::line_descriptor::KeyLine kl;
        kl.startPointX = kl.sPointInOctaveX = static_cast<float>(s[0]);
        kl.startPointY = kl.sPointInOctaveY = static_cast<float>(s[1]);
        kl.endPointX = kl.ePointInOctaveX = static_cast<float>(s[2]);
        kl.endPointY = kl.ePointInOctaveY = static_cast<float>(s[3]);
        kl.lineLength = static_cast<float>(segmentLength(s));
        kl.angle = static_cast<float>(std::atan2(s[3] - s[1], s[2] - s[0]));
        kl.pt = cv::Point2f(static_cast<float>((s[0] + s[2]) / 2), static_cast<float>((s[1] + s[3]) / 2));
        kl.octave = 0;
        kl.class_id = static_cast<int>(k);
        kl.response = kl.lineLength / static_cast<float>(std::max(gray.cols, gray.rows));
        kl.size = kl.lineLength;
        kl.numOfPixels = static_cast<int>(std::lround(kl.lineLength));
        keyLines.push_back(kl);
    }
    if (keyLines.empty()) return cv::Mat(0, 32, CV_8U);
    // LBD counts key lines and indexes its pixels in 16-bit integers: more
    // than 32767 key lines in one call leave descriptors unfilled (and it
    // then reads them), and coordinates or lengths beyond 32767 wrap.
    // Batches of at most 32767 key lines give the same rows as one call.
    if (std::hypot(gray.cols, gray.rows) > kLbdMaxDiagonal)
        throw ImageTooLargeForDescriptor("image too large for the line descriptor: its diagonal must be at most " +
                                    std::to_string(kLbdMaxDiagonal) + " pixels");
    cv::Mat ordered(static_cast<int>(keyLines.size()), 32, CV_8U);
    const auto lbd = cv::line_descriptor::BinaryDescriptor::createBinaryDescriptor();
    for (std::size_t first = 0; first < keyLines.size(); first += kLbdMaxKeyLines) {
        const std::size_t last = std::min(keyLines.size(), first + kLbdMaxKeyLines);
        std::vector<cv::line_descriptor::KeyLine> batch(keyLines.begin() + static_cast<std::ptrdiff_t>(first),
                                                        keyLines.begin() + static_cast<std::ptrdiff_t>(last));
        // The descriptor code files key lines by (class_id, octave); a
        // distinct id per key line keeps one descriptor per segment.
        for (std::size_t k = 0; k < batch.size(); ++k) batch[k].class_id = static_cast<int>(k);
        cv::Mat descriptors;
        lbd->compute(gray, batch, descriptors);
        if (descriptors.rows != static_cast<int>(batch.size()) || descriptors.cols != 32 ||
            descriptors.type() != CV_8U)
            throw std::runtime_error("line descriptor: expected one descriptor per segment");
        // The descriptor code may return the key lines in another order; put
        // the rows back in segment order.
        for (int k = 0; k < descriptors.rows; ++k)
            descriptors.row(k).copyTo(ordered.row(static_cast<int>(first) + batch[static_cast<std::size_t>(k)].class_id));
    }
    return ordered;
}

std::vector<SegmentMatch> matchDescriptors(const cv::Mat& descriptors1, const cv::Mat& descriptors2,
                                           const DescriptorSettings& settings, int threads) {
    std::vector<SegmentMatch> matches;
    if (descriptors1.empty() || descriptors2.empty()) return matches;
    const NearestBothWays nearest = nearestBothWays(descriptors1, descriptors2, settings.mutual, threads);
    const std::vector<Nearest>& forward = nearest.forward;
    const std::vector<Nearest>& backward = nearest.backward;
    for (int i = 0; i < descriptors1.rows; ++i) {
        const Nearest& n = forward[i];
        if (n.best < 0) continue;
        if (settings.mutual && backward[n.best].best != i) continue;
        // With a single candidate there is no second distance to compare.
        if (settings.ratio < 1 && n.secondDistance != INT_MAX &&
            !(n.bestDistance < settings.ratio * n.secondDistance))
            continue;
        matches.push_back({i, n.best});
    }
    return matches;
}

}  // namespace linematch
