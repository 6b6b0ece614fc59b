#include "linematch/descriptor_seeds.hpp"

#include "linematch/segments.hpp"

#include <opencv2/line_descriptor.hpp>

#include <climits>
#include <cstdint>
#include <cstring>
#include <cmath>
#include <stdexcept>

namespace linematch {

namespace {

struct Nearest {
    int best = -1;
    int bestDistance = INT_MAX;
    int secondDistance = INT_MAX;
};

int hammingDistance(const uchar* a, const uchar* b, int bytes) {
    int bits = 0;
    int k = 0;
    for (; k + 8 <= bytes; k += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + k, 8);
        std::memcpy(&y, b + k, 8);
        bits += __builtin_popcountll(x ^ y);
    }
    for (; k < bytes; ++k) bits += __builtin_popcount(static_cast<unsigned>(a[k] ^ b[k]));
    return bits;
}

// Best and second-best row of `to` for every row of `from`.
std::vector<Nearest> nearestRows(const cv::Mat& from, const cv::Mat& to) {
    CV_Assert(from.type() == CV_8U && to.type() == CV_8U && from.cols == to.cols);
    std::vector<Nearest> nearest(from.rows);
    for (int a = 0; a < from.rows; ++a) {
        Nearest& n = nearest[a];
        const uchar* rowA = from.ptr<uchar>(a);
        for (int b = 0; b < to.rows; ++b) {
            const int d = hammingDistance(rowA, to.ptr<uchar>(b), from.cols);
            if (d < n.bestDistance) {
                n.secondDistance = n.bestDistance;
                n.bestDistance = d;
                n.best = b;
            } else if (d < n.secondDistance) {
                n.secondDistance = d;
            }
        }
    }
    return nearest;
}

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
        // The descriptor code files key lines by (class_id, octave); a
        // distinct id per segment keeps one descriptor per segment.
        kl.class_id = static_cast<int>(k);
        kl.response = kl.lineLength / static_cast<float>(std::max(gray.cols, gray.rows));
        kl.size = kl.lineLength;
        kl.numOfPixels = static_cast<int>(std::lround(kl.lineLength));
        keyLines.push_back(kl);
    }
    cv::Mat descriptors;
    if (keyLines.empty()) return cv::Mat(0, 32, CV_8U);
    cv::line_descriptor::BinaryDescriptor::createBinaryDescriptor()->compute(gray, keyLines, descriptors);
    if (descriptors.rows != static_cast<int>(segments.size()) || static_cast<int>(keyLines.size()) != descriptors.rows)
        throw std::runtime_error("line descriptor: expected one descriptor per segment");
    // The descriptor code may return the key lines in another order; put the
    // rows back in segment order.
    cv::Mat ordered(descriptors.rows, descriptors.cols, descriptors.type());
    for (int k = 0; k < descriptors.rows; ++k) descriptors.row(k).copyTo(ordered.row(keyLines[k].class_id));
    return ordered;
}

std::vector<SegmentMatch> matchDescriptors(const cv::Mat& descriptors1, const cv::Mat& descriptors2,
                                           const DescriptorSettings& settings) {
    std::vector<SegmentMatch> matches;
    if (descriptors1.empty() || descriptors2.empty()) return matches;
    const std::vector<Nearest> forward = nearestRows(descriptors1, descriptors2);
    std::vector<Nearest> backward;
    if (settings.mutual) backward = nearestRows(descriptors2, descriptors1);
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
