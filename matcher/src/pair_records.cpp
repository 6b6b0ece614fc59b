#include "example_prep.hpp"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <set>
#include <utility>

namespace lhprep {

namespace {

cv::Point2d firstEnd(const Segment& s) { return {s[0], s[1]}; }
cv::Point2d secondEnd(const Segment& s) { return {s[2], s[3]}; }
cv::Point2d midpoint(const Segment& s) { return {(s[0] + s[2]) / 2, (s[1] + s[3]) / 2}; }

cv::Vec3d lineThrough(const Segment& s) {
    return cv::Vec3d(s[0], s[1], 1.0).cross(cv::Vec3d(s[2], s[3], 1.0));
}

// Distance from p to the line through a and b (0 for a == b == p).
double lineDistance(const cv::Point2d& p, const cv::Point2d& a, const cv::Point2d& b) {
    const cv::Point2d d = b - a;
    const double length = std::hypot(d.x, d.y);
    if (length == 0) return std::hypot(p.x - a.x, p.y - a.y);
    return std::fabs(d.x * (p.y - a.y) - d.y * (p.x - a.x)) / length;
}

double angleBetweenLines(const Segment& a, const Segment& b) {
    const double ta = std::atan2(a[3] - a[1], a[2] - a[0]);
    const double tb = std::atan2(b[3] - b[1], b[2] - b[0]);
    double d = std::fmod(std::fabs(ta - tb), CV_PI);
    return std::min(d, CV_PI - d);
}

}  // namespace

double segmentLength(const Segment& s) { return std::hypot(s[2] - s[0], s[3] - s[1]); }

double pointSegmentDistance(double x, double y, const Segment& s) {
    const double dx = s[2] - s[0], dy = s[3] - s[1];
    const double squared = dx * dx + dy * dy;
    double t = squared > 0 ? ((x - s[0]) * dx + (y - s[1]) * dy) / squared : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(x - (s[0] + t * dx), y - (s[1] + t * dy));
}

Segment mapSegment(const cv::Matx33d& h, const Segment& s) {
    const cv::Vec3d p = h * cv::Vec3d(s[0], s[1], 1.0);
    const cv::Vec3d q = h * cv::Vec3d(s[2], s[3], 1.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (p[2] == 0 || q[2] == 0) return {nan, nan, nan, nan};
    return {p[0] / p[2], p[1] / p[2], q[0] / q[2], q[1] / q[2]};
}

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

std::vector<Correspondence> truthPairs(const std::vector<Segment>& segments1,
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
    std::vector<Correspondence> pairs;
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

std::vector<Correspondence> selectSeeds(const std::vector<Segment>& segments1,
                                        const std::vector<Segment>& segments2,
                                        const cv::Matx33d& truth, const TruthCriterion& criterion,
                                        const SeedSettings& settings) {
    struct Scored {
        Correspondence pair;
        double common;
    };
    std::vector<Scored> scored;
    for (const Correspondence& c : truthPairs(segments1, segments2, truth, criterion)) {
        double common = 0;
        isTrueCorrespondence(mapSegment(truth, segments1[c.image1Segment]),
                             segments2[c.image2Segment], criterion, &common);
        scored.push_back({c, common});
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const Scored& a, const Scored& b) { return a.common > b.common; });

    std::vector<bool> used1(segments1.size(), false), used2(segments2.size(), false);
    std::vector<Correspondence> unique;
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
    std::sort(unique.begin(), unique.end(), [](const Correspondence& a, const Correspondence& b) {
        return a.image1Segment < b.image1Segment;
    });

    // Fisher-Yates on the raw generator output, so that the draw is the same
    // with every standard library.
    std::mt19937 generator(settings.randomSeed);
    for (std::size_t k = unique.size(); k > 1; --k) std::swap(unique[k - 1], unique[generator() % k]);
    const auto keep = static_cast<std::size_t>(std::lround(settings.fraction * unique.size()));
    unique.resize(std::min(keep, unique.size()));
    std::sort(unique.begin(), unique.end(), [](const Correspondence& a, const Correspondence& b) {
        return a.image1Segment < b.image1Segment;
    });
    return unique;
}

bool estimateLocalHomography(const Segment& a1, const Segment& a2, const Segment& b1,
                             const Segment& b2, double minSpread, cv::Matx33d& homography) {
    const std::vector<cv::Point2d> corners = {firstEnd(a1), secondEnd(a1), firstEnd(b1),
                                              secondEnd(b1)};
    // No three of the four image-1 endpoints may be (nearly) collinear.
    for (int skip = 0; skip < 4; ++skip) {
        std::vector<cv::Point2d> t;
        for (int k = 0; k < 4; ++k)
            if (k != skip) t.push_back(corners[k]);
        for (int k = 0; k < 3; ++k)
            if (lineDistance(t[k], t[(k + 1) % 3], t[(k + 2) % 3]) < minSpread) return false;
    }

    std::vector<cv::Point2d> from = corners;
    std::vector<cv::Point2d> to = {firstEnd(a2), secondEnd(a2), firstEnd(b2), secondEnd(b2)};

    // Lines map to lines, so the crossing of the two lines is a further
    // correspondence that does not depend on where the detector cut the
    // segments. Used only where the crossing is well defined and local.
    if (angleBetweenLines(a1, b1) > 20.0 * CV_PI / 180.0 &&
        angleBetweenLines(a2, b2) > 20.0 * CV_PI / 180.0) {
        const cv::Vec3d j1 = lineThrough(a1).cross(lineThrough(b1));
        const cv::Vec3d j2 = lineThrough(a2).cross(lineThrough(b2));
        if (j1[2] != 0 && j2[2] != 0) {
            const cv::Point2d p1(j1[0] / j1[2], j1[1] / j1[2]);
            const cv::Point2d p2(j2[0] / j2[2], j2[1] / j2[2]);
            const double reach = std::max(segmentLength(a1), segmentLength(b1));
            if (pointSegmentDistance(p1.x, p1.y, a1) <= reach &&
                pointSegmentDistance(p1.x, p1.y, b1) <= reach) {
                from.push_back(p1);
                to.push_back(p2);
            }
        }
    }

    const cv::Mat h = cv::findHomography(from, to, 0);
    if (h.empty() || h.type() != CV_64F || !cv::checkRange(h)) return false;
    homography = cv::Matx33d(h);

    // Two views of one side of a plane: the map keeps the orientation and
    // sends no point between the seeds across the line at infinity.
    const auto depth = [&](const cv::Point2d& p) {
        return homography(2, 0) * p.x + homography(2, 1) * p.y + homography(2, 2);
    };
    if (depth(from[0]) < 0) homography *= -1.0;
    for (const cv::Point2d& p : from)
        if (!(depth(p) > 0)) return false;
    if (!(cv::determinant(homography) > 0)) return false;

    // The estimate must carry each seed onto its partner's line, the same
    // way round.
    for (const auto& [s1, s2] : {std::pair(a1, a2), std::pair(b1, b2)}) {
        const Segment m = mapSegment(homography, s1);
        if (std::isnan(m[0]) || std::isnan(m[2])) return false;
        if (lineDistance(firstEnd(m), firstEnd(s2), secondEnd(s2)) > 2.0 ||
            lineDistance(secondEnd(m), firstEnd(s2), secondEnd(s2)) > 2.0)
            return false;
        if ((m[2] - m[0]) * (s2[2] - s2[0]) + (m[3] - m[1]) * (s2[3] - s2[1]) <= 0) return false;
    }
    return true;
}

std::vector<PairRecord> buildPairRecords(const std::vector<Segment>& segments1,
                                         const std::vector<Segment>& segments2,
                                         const std::vector<Correspondence>& seeds,
                                         const PairSettings& settings) {
    std::vector<PairRecord> records;
    std::set<std::pair<int, int>> tried;
    const int numSeeds = static_cast<int>(seeds.size());
    std::vector<std::pair<double, int>> byDistance;
    for (int s = 0; s < numSeeds; ++s) {
        const cv::Point2d m = midpoint(segments1[seeds[s].image1Segment]);
        byDistance.clear();
        for (int t = 0; t < numSeeds; ++t) {
            if (t == s) continue;
            const cv::Point2d n = midpoint(segments1[seeds[t].image1Segment]);
            const double d = std::hypot(n.x - m.x, n.y - m.y);
            if (d <= settings.maxSeedDistance) byDistance.emplace_back(d, t);
        }
        std::sort(byDistance.begin(), byDistance.end());
        int paired = 0;
        for (const auto& [d, t] : byDistance) {
            if (paired == settings.neighbours) break;
            const std::pair<int, int> key(std::min(s, t), std::max(s, t));
            if (!tried.insert(key).second) {
                // Already estimated from the other seed's side; count it if
                // it became a record.
                for (const PairRecord& r : records)
                    if (r.seedA == key.first && r.seedB == key.second) ++paired;
                continue;
            }
            cv::Matx33d h;
            if (!estimateLocalHomography(segments1[seeds[key.first].image1Segment],
                                         segments2[seeds[key.first].image2Segment],
                                         segments1[seeds[key.second].image1Segment],
                                         segments2[seeds[key.second].image2Segment],
                                         settings.minSpread, h))
                continue;
            records.push_back({key.first, key.second, h});
            ++paired;
        }
    }
    return records;
}

std::vector<std::vector<int>> buildPairIndexTable(const std::vector<Segment>& segments1,
                                                  const std::vector<Correspondence>& seeds,
                                                  const std::vector<PairRecord>& records,
                                                  int pairsPerSegment) {
    std::vector<std::vector<int>> table(segments1.size());
    if (records.empty() || pairsPerSegment <= 0) return table;
    std::vector<std::pair<double, int>> byDistance(records.size());
    for (std::size_t i = 0; i < segments1.size(); ++i) {
        const cv::Point2d m = midpoint(segments1[i]);
        for (std::size_t r = 0; r < records.size(); ++r) {
            const Segment& a = segments1[seeds[records[r].seedA].image1Segment];
            const Segment& b = segments1[seeds[records[r].seedB].image1Segment];
            byDistance[r] = {pointSegmentDistance(m.x, m.y, a) + pointSegmentDistance(m.x, m.y, b),
                             static_cast<int>(r)};
        }
        const std::size_t k = std::min<std::size_t>(pairsPerSegment, records.size());
        std::partial_sort(byDistance.begin(), byDistance.begin() + k, byDistance.end());
        for (std::size_t j = 0; j < static_cast<std::size_t>(pairsPerSegment); ++j)
            table[i].push_back(byDistance[j < k ? j : 0].second);
    }
    return table;
}

}  // namespace lhprep
