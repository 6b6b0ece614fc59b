#include "linematch/pair_records.hpp"

#include "linematch/line_geometry.hpp"
#include "linematch/segments.hpp"
#include "spatial_index.hpp"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

namespace linematch {

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

double pointSegmentDistance(double x, double y, const Segment& s) {
    const double dx = s[2] - s[0], dy = s[3] - s[1];
    const double squared = dx * dx + dy * dy;
    double t = squared > 0 ? ((x - s[0]) * dx + (y - s[1]) * dy) / squared : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(x - (s[0] + t * dx), y - (s[1] + t * dy));
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

std::vector<SeedPair> buildPairRecords(const std::vector<Segment>& segments1,
                                       const std::vector<Segment>& segments2,
                                       const std::vector<SegmentMatch>& seeds,
                                       const PairRecordSettings& settings) {
    std::vector<SeedPair> records;
    std::set<std::pair<int, int>> tried, recorded;
    const int numSeeds = static_cast<int>(seeds.size());
    std::vector<cv::Point2d> mids;
    mids.reserve(seeds.size());
    for (const SegmentMatch& s : seeds) mids.push_back(midpoint(segments1[s.image1Segment]));
    const PointIndex index(mids);
    std::vector<std::pair<double, int>> byDistance;
    for (int s = 0; s < numSeeds; ++s) {
        // Every other seed within the distance, nearest first.
        index.nearest(mids[s], numSeeds, settings.maxSeedDistance, [s](int t) { return t != s; }, byDistance);
        int paired = 0;
        for (const auto& [d, t] : byDistance) {
            if (paired == settings.neighbours) break;
            const std::pair<int, int> key(std::min(s, t), std::max(s, t));
            if (!tried.insert(key).second) {
                // Already estimated from the other seed's side; count it if
                // it became a record.
                paired += static_cast<int>(recorded.count(key));
                continue;
            }
            cv::Matx33d h;
            if (!estimateLocalHomography(segments1[seeds[key.first].image1Segment],
                                         segments2[seeds[key.first].image2Segment],
                                         segments1[seeds[key.second].image1Segment],
                                         segments2[seeds[key.second].image2Segment],
                                         settings.minSpread, h))
                continue;
            records.push_back(makeSeedPair(seeds, key.first, key.second, h));
            recorded.insert(key);
            ++paired;
        }
    }
    return records;
}

std::vector<double> pairIndexTable(const std::vector<Segment>& segments1, const std::vector<SeedPair>& records,
                                   int pairsPerSegment, int threads) {
    std::vector<cv::Point2d> mids;
    mids.reserve(segments1.size());
    for (const Segment& s : segments1) mids.push_back(midpoint(s));
    std::vector<std::array<int, 2>> pairs;
    pairs.reserve(records.size());
    for (const SeedPair& r : records)
        pairs.push_back({static_cast<int>(r.record.image1SegmentA), static_cast<int>(r.record.image1SegmentB)});
    return nearestSegmentPairs(mids, segments1, pairs, pairsPerSegment, threads);
}

std::vector<std::vector<int>> buildPairIndexTable(const std::vector<Segment>& segments1,
                                                  const std::vector<SeedPair>& records, int pairsPerSegment,
                                                  int threads) {
    std::vector<std::vector<int>> table(segments1.size());
    const std::vector<double> rows = pairIndexTable(segments1, records, pairsPerSegment, threads);
    if (rows.empty()) return table;
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i].assign(rows.begin() + static_cast<long>(i * static_cast<std::size_t>(pairsPerSegment)),
                        rows.begin() + static_cast<long>((i + 1) * static_cast<std::size_t>(pairsPerSegment)));
    return table;
}

}  // namespace linematch
