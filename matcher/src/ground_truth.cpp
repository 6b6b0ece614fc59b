#include "linematch/ground_truth.hpp"

#include "linematch/line_geometry.hpp"
#include "linematch/segments.hpp"

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

namespace linematch {

bool isTrueCorrespondence(const Segment& mapped, const Segment& candidate,
                          const TruthCriterion& criterion, double* commonLength) {
    if (commonLength) *commonLength = 0;
    const double cx = candidate[2] - candidate[0], cy = candidate[3] - candidate[1];
    const double candidateLength = std::hypot(cx, cy);
    const double mappedLength = segmentLength(mapped);
    if (!(candidateLength > 0) || !(mappedLength > 0)) return false;
    const double ux = cx / candidateLength, uy = cy / candidateLength;

    // Signed distances to the candidate's line, and positions along it.
    const double d1 = ux * (mapped[1] - candidate[1]) - uy * (mapped[0] - candidate[0]);
    const double d2 = ux * (mapped[3] - candidate[1]) - uy * (mapped[2] - candidate[0]);
    if (!(std::fabs(d1) <= criterion.maxDistance) || !(std::fabs(d2) <= criterion.maxDistance))
        return false;
    const double t1 = ux * (mapped[0] - candidate[0]) + uy * (mapped[1] - candidate[1]);
    const double t2 = ux * (mapped[2] - candidate[0]) + uy * (mapped[3] - candidate[1]);
    if (!(t2 > t1)) return false;  // runs against the candidate

    const double common = std::min(t2, candidateLength) - std::max(t1, 0.0);
    if (common <= 0) return false;
    if (commonLength) *commonLength = common;
    return common >= criterion.minOverlap * std::min(mappedLength, candidateLength);
}

std::vector<SegmentMatch> truthPairs(const std::vector<Segment>& segments1,
                                       const std::vector<Segment>& segments2,
                                       const cv::Matx33d& truth, const TruthCriterion& criterion) {
    // Bounding boxes of the image-2 segments, widened by the distance limit,
    // reject most pairs before the exact test.
    std::vector<cv::Rect2d> boxes;
    boxes.reserve(segments2.size());
    const double pad = criterion.maxDistance;
    for (const Segment& s : segments2) {
        const double x0 = std::min(s[0], s[2]) - pad, y0 = std::min(s[1], s[3]) - pad;
        boxes.emplace_back(x0, y0, std::fabs(s[2] - s[0]) + 2 * pad,
                           std::fabs(s[3] - s[1]) + 2 * pad);
    }
    std::vector<SegmentMatch> pairs;
    for (int i = 0; i < static_cast<int>(segments1.size()); ++i) {
        const Segment mapped = mapSegment(truth, segments1[i]);
        if (std::isnan(mapped[0]) || std::isnan(mapped[2])) continue;
        const cv::Rect2d box(std::min(mapped[0], mapped[2]), std::min(mapped[1], mapped[3]),
                             std::fabs(mapped[2] - mapped[0]), std::fabs(mapped[3] - mapped[1]));
        for (int w = 0; w < static_cast<int>(segments2.size()); ++w) {
            const cv::Rect2d& b = boxes[w];
            if (box.x > b.x + b.width || b.x > box.x + box.width || box.y > b.y + b.height ||
                b.y > box.y + box.height)
                continue;
            if (isTrueCorrespondence(mapped, segments2[w], criterion)) pairs.push_back({i, w});
        }
    }
    return pairs;
}

std::vector<SegmentMatch> selectSeeds(const std::vector<Segment>& segments1,
                                        const std::vector<Segment>& segments2,
                                        const cv::Matx33d& truth, const TruthCriterion& criterion,
                                        const TruthSeedSettings& settings) {
    struct Scored {
        SegmentMatch pair;
        double common;
    };
    std::vector<Scored> scored;
    for (const SegmentMatch& c : truthPairs(segments1, segments2, truth, criterion)) {
        double common = 0;
        isTrueCorrespondence(mapSegment(truth, segments1[c.image1Segment]),
                             segments2[c.image2Segment], criterion, &common);
        scored.push_back({c, common});
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const Scored& a, const Scored& b) { return a.common > b.common; });

    std::vector<bool> used1(segments1.size(), false), used2(segments2.size(), false);
    std::vector<SegmentMatch> unique;
    for (const Scored& s : scored) {
        if (used1[s.pair.image1Segment] || used2[s.pair.image2Segment]) continue;
        used1[s.pair.image1Segment] = used2[s.pair.image2Segment] = true;
        // A seed's endpoints serve as point correspondences, so both
        // segments must cover about the same stretch of the edge.
        const double longer =
            std::max(segmentLength(mapSegment(truth, segments1[s.pair.image1Segment])),
                     segmentLength(segments2[s.pair.image2Segment]));
        if (segmentLength(segments1[s.pair.image1Segment]) >= settings.minLength &&
            s.common >= settings.minExtentMatch * longer)
            unique.push_back(s.pair);
    }
    std::sort(unique.begin(), unique.end(), [](const SegmentMatch& a, const SegmentMatch& b) {
        return a.image1Segment < b.image1Segment;
    });

    // Fisher-Yates on the raw generator output, so that the draw is the same
    // with every standard library.
    std::mt19937 generator(settings.randomSeed);
    for (std::size_t k = unique.size(); k > 1; --k) std::swap(unique[k - 1], unique[generator() % k]);
    const auto keep = static_cast<std::size_t>(std::lround(settings.fraction * unique.size()));
    unique.resize(std::min(keep, unique.size()));
    std::sort(unique.begin(), unique.end(), [](const SegmentMatch& a, const SegmentMatch& b) {
        return a.image1Segment < b.image1Segment;
    });
    return unique;
}

}  // namespace linematch
