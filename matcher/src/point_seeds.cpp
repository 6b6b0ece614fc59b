#include "linematch/point_seeds.hpp"

#include "linematch/segments.hpp"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <future>
#include <map>
#include <numeric>
#include <tuple>
#include <utility>

namespace linematch {

namespace {

cv::Point2d carry(const cv::Matx33d& h, const cv::Point2d& p, double* depth = nullptr) {
    const cv::Vec3d q = h * cv::Vec3d(p.x, p.y, 1.0);
    if (depth) *depth = q[2];
    return {q[0] / q[2], q[1] / q[2]};
}

double pointSegmentDistance(const cv::Point2d& p, const Segment& s) {
    const double dx = s[2] - s[0], dy = s[3] - s[1];
    const double squared = dx * dx + dy * dy;
    double t = squared > 0 ? ((p.x - s[0]) * dx + (p.y - s[1]) * dy) / squared : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p.x - (s[0] + t * dx), p.y - (s[1] + t * dy));
}

// Indices of the matches that h carries to within maxError of their
// image-2 point, from the same side of the line at infinity as the first.
std::vector<int> inliersOf(const cv::Matx33d& h, const std::vector<PointCorrespondence>& matches,
                           const std::vector<int>& candidates, double maxError) {
    std::vector<int> inliers;
    for (int k : candidates) {
        double depth = 0;
        const cv::Point2d q = carry(h, matches[k].image1, &depth);
        if (!(depth > 0)) continue;
        if (std::hypot(q.x - matches[k].image2.x, q.y - matches[k].image2.y) <= maxError) inliers.push_back(k);
    }
    return inliers;
}

// Least-squares homography on the given matches (OpenCV's normalised DLT
// with Levenberg-Marquardt refinement), scaled so that it maps their first
// image-1 point with positive depth.
bool refine(const std::vector<PointCorrespondence>& matches, const std::vector<int>& subset, cv::Matx33d& h) {
    if (subset.size() < 4) return false;
    std::vector<cv::Point2d> from, to;
    for (int k : subset) {
        from.push_back(matches[k].image1);
        to.push_back(matches[k].image2);
    }
    const cv::Mat fit = cv::findHomography(from, to, 0);
    if (fit.empty() || !cv::checkRange(fit)) return false;
    h = cv::Matx33d(fit);
    const cv::Vec3d q = h * cv::Vec3d(from[0].x, from[0].y, 1.0);
    if (q[2] < 0) h *= -1.0;
    return true;
}

}  // namespace

KeypointSet detectKeypoints(const cv::Mat& gray, const PointSeedSettings& settings, double side, bool affine) {
    CV_Assert(gray.type() == CV_8UC1);
    const double factor = side > 0 ? std::min(1.0, side / std::max(gray.cols, gray.rows)) : 1.0;
    KeypointSet out;
    // Too small to hold a keypoint (and, for the simulated views, too small
    // to squeeze by the largest tilt): none, rather than a failed resize.
    const double shortSide = std::min(gray.cols, gray.rows) * factor;
    if (shortSide < (affine ? 48 : 16)) {
        out.descriptors = cv::Mat(0, 128, CV_32F);
        return out;
    }
    cv::Mat image = gray;
    if (factor < 1) cv::resize(gray, image, cv::Size(), factor, factor, cv::INTER_AREA);
    cv::Ptr<cv::Feature2D> detector =
        cv::SIFT::create(std::max(affine ? settings.affineKeypoints : settings.maxKeypoints, 0));
    // Tilts up to 2.8 (about 70 degrees of viewpoint): the views plain SIFT
    // misses, with far fewer simulated views than the default tilt of 5.
    if (affine) detector = cv::AffineFeature::create(detector, 3);
    std::vector<cv::KeyPoint> keypoints;
    detector->detectAndCompute(image, cv::noArray(), keypoints, out.descriptors);
    if (out.descriptors.type() != CV_32F) out.descriptors.convertTo(out.descriptors, CV_32F);
    // The detector works in parallel and may list its keypoints in any
    // order; the robust fits downstream depend on the order, so it is fixed
    // here.
    std::vector<int> order(keypoints.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int>(k);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        const cv::KeyPoint &p = keypoints[a], &q = keypoints[b];
        return std::tie(p.pt.y, p.pt.x, p.size, p.angle, p.response, p.octave, a) <
               std::tie(q.pt.y, q.pt.x, q.size, q.angle, q.response, q.octave, b);
    });
    cv::Mat sorted(out.descriptors.rows, out.descriptors.cols, CV_32F);
    out.points.reserve(keypoints.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        const cv::KeyPoint& p = keypoints[order[k]];
        out.descriptors.row(order[k]).copyTo(sorted.row(static_cast<int>(k)));
        // Pixel centres of the shrunk image back to the given one.
        out.points.emplace_back((p.pt.x + 0.5) / factor - 0.5, (p.pt.y + 0.5) / factor - 0.5);
    }
    out.descriptors = sorted;
    return out;
}

namespace {

// Exact nearest neighbours by L2 distance, in blocks of rows so that the
// distance matrix of two large sets is never held whole. Pairs (row of d1,
// row of d2) where d1's best passes the ratio test and, with mutual, is
// d2's best too; ties go to the lower index.
std::vector<std::pair<int, int>> mutualMatches(const cv::Mat& d1, const cv::Mat& d2, double ratio, bool mutual) {
    std::vector<std::pair<int, int>> pairs;
    if (d1.rows < 1 || d2.rows < 2) return pairs;
    std::vector<int> best1(d1.rows, -1);
    std::vector<float> first1(d1.rows), second1(d1.rows);
    std::vector<int> best2(d2.rows, -1);
    std::vector<float> first2(d2.rows, HUGE_VALF);
    const int block = 256;
    cv::Mat distances;
    for (int r0 = 0; r0 < d1.rows; r0 += block) {
        const int r1 = std::min(d1.rows, r0 + block);
        cv::batchDistance(d1.rowRange(r0, r1), d2, distances, CV_32F, cv::noArray(), cv::NORM_L2SQR);
        for (int r = r0; r < r1; ++r) {
            const float* row = distances.ptr<float>(r - r0);
            float a = HUGE_VALF, b = HUGE_VALF;
            int at = -1;
            for (int c = 0; c < d2.rows; ++c) {
                const float d = row[c];
                if (d < a) {
                    b = a;
                    a = d;
                    at = c;
                } else if (d < b) {
                    b = d;
                }
                if (d < first2[c]) {
                    first2[c] = d;
                    best2[c] = r;
                }
            }
            best1[r] = at;
            first1[r] = a;
            second1[r] = b;
        }
    }
    const float ratio2 = static_cast<float>(ratio * ratio);
    for (int r = 0; r < d1.rows; ++r) {
        if (best1[r] < 0) continue;
        if (ratio < 1 && !(first1[r] < ratio2 * second1[r])) continue;
        if (mutual && best2[best1[r]] != r) continue;
        pairs.emplace_back(r, best1[r]);
    }
    return pairs;
}

// Normalised linear fit of a homography to point matches, from the 9 x 9
// normal equations (the local fits are many and small: an SVD of the full
// system would cost ten times as much). False when degenerate.
bool fitPointHomography(const std::vector<PointCorrespondence>& points, cv::Matx33d& h) {
    const std::size_t n = points.size();
    if (n < 4) return false;
    cv::Point2d c1(0, 0), c2(0, 0);
    for (const PointCorrespondence& p : points) {
        c1 += p.image1;
        c2 += p.image2;
    }
    c1 *= 1.0 / static_cast<double>(n);
    c2 *= 1.0 / static_cast<double>(n);
    double spread1 = 0, spread2 = 0;
    for (const PointCorrespondence& p : points) {
        spread1 += std::hypot(p.image1.x - c1.x, p.image1.y - c1.y);
        spread2 += std::hypot(p.image2.x - c2.x, p.image2.y - c2.y);
    }
    if (!(spread1 > 0) || !(spread2 > 0)) return false;
    const double k1 = std::sqrt(2.0) * static_cast<double>(n) / spread1;
    const double k2 = std::sqrt(2.0) * static_cast<double>(n) / spread2;
    cv::Matx<double, 9, 9> normal = cv::Matx<double, 9, 9>::zeros();
    for (const PointCorrespondence& p : points) {
        const double x = (p.image1.x - c1.x) * k1, y = (p.image1.y - c1.y) * k1;
        const double u = (p.image2.x - c2.x) * k2, v = (p.image2.y - c2.y) * k2;
        const double rows[2][9] = {{x, y, 1, 0, 0, 0, -u * x, -u * y, -u}, {0, 0, 0, x, y, 1, -v * x, -v * y, -v}};
        for (const auto& r : rows)
            for (int a = 0; a < 9; ++a)
                for (int b = a; b < 9; ++b) normal(a, b) += r[a] * r[b];
    }
    for (int a = 0; a < 9; ++a)
        for (int b = 0; b < a; ++b) normal(a, b) = normal(b, a);
    cv::Matx<double, 9, 1> values;
    cv::Matx<double, 9, 9> vectors;
    if (!cv::eigen(normal, values, vectors)) return false;
    // Eigenvalues in decreasing order: the last vector solves the system.
    const cv::Matx33d normalised(vectors(8, 0), vectors(8, 1), vectors(8, 2), vectors(8, 3), vectors(8, 4),
                                 vectors(8, 5), vectors(8, 6), vectors(8, 7), vectors(8, 8));
    const cv::Matx33d t1(k1, 0, -k1 * c1.x, 0, k1, -k1 * c1.y, 0, 0, 1);
    const cv::Matx33d t2inverse(1 / k2, 0, c2.x, 0, 1 / k2, c2.y, 0, 0, 1);
    h = t2inverse * normalised * t1;
    if (!cv::checkRange(cv::Mat(h)) || h(2, 2) == 0) return false;
    h *= 1.0 / h(2, 2);
    return true;
}

}  // namespace

double levelSide(const PointSeedSettings& settings, int level) {
    return level == 0 ? settings.firstSide : level == 1 ? settings.detailSide : settings.affineSide;
}

std::vector<PointCorrespondence> matchKeypointSets(const KeypointSet& k1, const KeypointSet& k2,
                                                   const PointSeedSettings& settings) {
    std::vector<PointCorrespondence> matches;
    for (const auto& [a, b] : mutualMatches(k1.descriptors, k2.descriptors, settings.ratio, settings.mutual))
        matches.push_back({k1.points[a], k2.points[b]});
    // Several keypoints (orientations, simulated views) can sit on one
    // spot; one match per pair of spots is enough.
    std::sort(matches.begin(), matches.end(), [](const PointCorrespondence& a, const PointCorrespondence& b) {
        return std::tie(a.image1.x, a.image1.y, a.image2.x, a.image2.y) <
               std::tie(b.image1.x, b.image1.y, b.image2.x, b.image2.y);
    });
    matches.erase(std::unique(matches.begin(), matches.end(),
                              [](const PointCorrespondence& a, const PointCorrespondence& b) {
                                  return std::hypot(a.image1.x - b.image1.x, a.image1.y - b.image1.y) < 0.5 &&
                                         std::hypot(a.image2.x - b.image2.x, a.image2.y - b.image2.y) < 0.5;
                              }),
                  matches.end());
    return matches;
}

std::pair<KeypointSet, KeypointSet> detectBoth(const cv::Mat& gray1, const cv::Mat& gray2,
                                               const PointSeedSettings& settings, double side, bool affine,
                                               int threads) {
    CV_Assert(gray1.type() == CV_8UC1 && gray2.type() == CV_8UC1);
    // The detector's pyramid is built serially; with two threads the two
    // images overlap. The keypoints come out in a fixed order either way.
    std::pair<KeypointSet, KeypointSet> both;
    if (threads >= 2) {
        std::future<KeypointSet> second =
            std::async(std::launch::async, [&] { return detectKeypoints(gray2, settings, side, affine); });
        both.first = detectKeypoints(gray1, settings, side, affine);
        both.second = second.get();
    } else {
        both.first = detectKeypoints(gray1, settings, side, affine);
        both.second = detectKeypoints(gray2, settings, side, affine);
    }
    return both;
}

std::vector<PointCorrespondence> matchKeypoints(const cv::Mat& gray1, const cv::Mat& gray2,
                                                const PointSeedSettings& settings, double side, bool affine,
                                                int threads) {
    const auto both = detectBoth(gray1, gray2, settings, side, affine, threads);
    return matchKeypointSets(both.first, both.second, settings);
}

std::vector<PointPlane> findPlanes(const std::vector<PointCorrespondence>& matches, const PointSeedSettings& settings,
                                   double scale) {
    std::vector<PointPlane> planes;
    const double maxError = settings.inlierDistance * scale;
    const int minInliers = std::max(settings.minInliers, 5);
    std::vector<int> remaining(matches.size());
    for (std::size_t k = 0; k < matches.size(); ++k) remaining[k] = static_cast<int>(k);
    while (static_cast<int>(planes.size()) < settings.maxPlanes && static_cast<int>(remaining.size()) >= minInliers) {
        std::vector<cv::Point2d> from, to;
        for (int k : remaining) {
            from.push_back(matches[k].image1);
            to.push_back(matches[k].image2);
        }
        const cv::Mat robust = cv::findHomography(from, to, cv::USAC_MAGSAC, maxError, cv::noArray(), 10000, 0.999);
        if (robust.empty() || !cv::checkRange(robust)) break;
        cv::Matx33d h(robust);
        if ((h * cv::Vec3d(from[0].x, from[0].y, 1.0))[2] < 0) h *= -1.0;
        std::vector<int> inliers = inliersOf(h, matches, remaining, maxError);
        // Two rounds of least squares on the inliers, which the robust
        // fit's own threshold may have drawn a little differently.
        for (int pass = 0; pass < 2 && static_cast<int>(inliers.size()) >= minInliers; ++pass) {
            cv::Matx33d refined;
            if (!refine(matches, inliers, refined)) break;
            std::vector<int> again = inliersOf(refined, matches, remaining, maxError);
            if (again.size() < inliers.size()) break;
            h = refined;
            inliers = std::move(again);
        }
        if (static_cast<int>(inliers.size()) < minInliers) break;
        // A view of one side of a plane keeps the orientation of the image.
        if (!(cv::determinant(h) > 0)) break;
        std::vector<char> taken(matches.size(), 0);
        for (int k : inliers) taken[k] = 1;
        std::vector<int> rest;
        for (int k : remaining)
            if (!taken[k]) rest.push_back(k);
        remaining = std::move(rest);
        planes.push_back({h, std::move(inliers)});
    }
    return planes;
}

namespace {

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Distance of q from the epipolar line of p (F p), pixels.
double epipolarDistance(const cv::Matx33d& f, const cv::Point2d& p, const cv::Point2d& q) {
    const cv::Vec3d l = f * cv::Vec3d(p.x, p.y, 1.0);
    const double norm = std::hypot(l[0], l[1]);
    return norm > 0 ? std::fabs(l[0] * q.x + l[1] * q.y + l[2]) / norm : HUGE_VAL;
}

}  // namespace

std::vector<PlaneModel> planeModels(const std::vector<PointCorrespondence>& matches,
                                    const std::vector<PointPlane>& planes) {
    std::vector<PlaneModel> models;
    for (const PointPlane& plane : planes) {
        std::vector<double> residuals;
        for (int k : plane.inliers) {
            const cv::Point2d q = carry(plane.homography, matches[k].image1);
            residuals.push_back(std::hypot(q.x - matches[k].image2.x, q.y - matches[k].image2.y));
        }
        models.push_back({plane.homography, plane.inliers, median(residuals)});
    }
    return models;
}

EpipolarModel fitEpipolar(const std::vector<PointCorrespondence>& matches, const std::vector<PointPlane>& planes,
                          const PointSeedSettings& settings, double scale) {
    EpipolarModel model;
    const int minInliers = std::max(settings.minInliers, 8);
    if (!settings.fundamental || static_cast<int>(matches.size()) < minInliers) return model;
    std::vector<cv::Point2d> from, to;
    for (const PointCorrespondence& m : matches) {
        from.push_back(m.image1);
        to.push_back(m.image2);
    }
    const double maxError = settings.epipolarDistance * scale;
    cv::Mat mask;
    const cv::Mat fit = cv::findFundamentalMat(from, to, cv::USAC_MAGSAC, maxError, 0.999, 10000, mask);
    if (fit.rows != 3 || fit.cols != 3 || !cv::checkRange(fit)) return model;
    model.fundamental = cv::Matx33d(fit);
    std::vector<char> onPlane(matches.size(), 0);
    for (const PointPlane& p : planes)
        for (int k : p.inliers) onPlane[k] = 1;
    std::vector<double> residuals;
    for (std::size_t k = 0; k < matches.size(); ++k) {
        // Symmetric: each point near the other's epipolar line.
        const double d = std::max(epipolarDistance(model.fundamental, matches[k].image1, matches[k].image2),
                                  epipolarDistance(model.fundamental.t(), matches[k].image2, matches[k].image1));
        if (!(d <= maxError)) continue;
        residuals.push_back(d);
        ++model.inliers;
        if (!onPlane[k]) ++model.offPlaneInliers;
    }
    model.medianResidual = median(residuals);
    // Matches a little beyond a plane's inlier distance yet inside the
    // narrower epipolar band come with any plane, the more the more matches
    // there are (a rotating camera gives a dozen in a thousand): depth
    // beyond the planes shows as a share of the inliers, not a count alone.
    model.verified = model.inliers >= minInliers && model.offPlaneInliers >= settings.minOffPlane &&
                     model.offPlaneInliers >= settings.minOffPlaneShare * model.inliers;
    return model;
}

PlaneMap::PlaneMap(const std::vector<PointCorrespondence>& matches, const std::vector<PointPlane>& planes,
                   const PointSeedSettings& settings, double scale, bool wholeRegions)
    : wholeRegions_(wholeRegions && settings.wholeRegions), radius_(settings.supportRadius * scale), minNearby_(std::max(settings.minNearby, 1)),
      rivalShare_(settings.rivalShare), rivalDistance_(settings.lineDistance * scale),
      localPoints_(settings.localPoints) {
    for (const PointPlane& p : planes) {
        planes_.push_back(p.homography);
        inliers_.emplace_back();
        std::vector<cv::Point2f> points;
        for (int k : p.inliers) {
            inliers_.back().push_back(matches[k]);
            points.emplace_back(static_cast<float>(matches[k].image1.x), static_cast<float>(matches[k].image1.y));
        }
        hulls_.emplace_back();
        if (points.size() >= 3) cv::convexHull(points, hulls_.back());
    }
}

bool PlaneMap::carrier(const Segment& s, cv::Matx33d& homography) const {
    int plane = -1, most = 0;
    // Bounding box of the segment widened by the radius rejects most points
    // before the exact distance.
    const double x0 = std::min(s[0], s[2]) - radius_, x1 = std::max(s[0], s[2]) + radius_;
    const double y0 = std::min(s[1], s[3]) - radius_, y1 = std::max(s[1], s[3]) + radius_;
    std::vector<int> nearby(planes_.size(), 0);
    for (std::size_t p = 0; p < planes_.size(); ++p) {
        for (const PointCorrespondence& c : inliers_[p]) {
            const cv::Point2d& q = c.image1;
            if (q.x >= x0 && q.x <= x1 && q.y >= y0 && q.y <= y1 && pointSegmentDistance(q, s) <= radius_)
                ++nearby[p];
        }
        if (nearby[p] > most) {
            most = nearby[p];
            plane = static_cast<int>(p);
        }
    }
    if (plane < 0 || most < minNearby_) {
        // Away from every plane's inliers: in a scene of planes alone (no
        // depth beyond them verified), a plane still holds inside the
        // region its inliers span.
        if (!wholeRegions_) return false;
        for (std::size_t p = 0; p < planes_.size(); ++p) {
            bool inside = !hulls_[p].empty();
            for (int end = 0; end < 2 && inside; ++end)
                inside = cv::pointPolygonTest(hulls_[p], cv::Point2f(static_cast<float>(s[2 * end]),
                                                                     static_cast<float>(s[2 * end + 1])),
                                              true) >= -radius_;
            if (inside) {
                homography = planes_[p];
                return true;
            }
        }
        return false;
    }
    // Between two planes that both hold around the segment and put it in
    // different places (an occluding edge, a fold) neither is sure to be
    // the segment's own: no plane carries it.
    for (std::size_t p = 0; p < planes_.size(); ++p) {
        if (static_cast<int>(p) == plane || nearby[p] < minNearby_ || nearby[p] < rivalShare_ * most) continue;
        for (int end = 0; end < 2; ++end) {
            const cv::Point2d e(s[2 * end], s[2 * end + 1]);
            const cv::Point2d a = carry(planes_[plane], e), b = carry(planes_[p], e);
            if (!(std::hypot(a.x - b.x, a.y - b.y) <= rivalDistance_)) return false;
        }
    }
    homography = planes_[plane];
    if (localPoints_ < 4 || static_cast<int>(inliers_[plane].size()) <= localPoints_) return true;
    // Local fits are made per cell of a grid on image 1 (half the support
    // radius) and shared by the segments whose midpoints lie in it.
    const double cell = std::max(radius_ / 2, 1.0);
    const cv::Point2d mid((s[0] + s[2]) / 2, (s[1] + s[3]) / 2);
    const std::array<long, 3> key{plane, std::lround(std::floor(mid.x / cell)), std::lround(std::floor(mid.y / cell))};
    auto cached = localFits_.find(key);
    if (cached == localFits_.end()) {
        const cv::Point2d centre((key[1] + 0.5) * cell, (key[2] + 0.5) * cell);
        cached = localFits_.emplace(key, localFit(plane, centre)).first;
    }
    if (!cached->second.first) return true;
    const cv::Matx33d& local = cached->second.second;
    // The local fit stands in for the plane only where it stays close to it
    // (a few points to one side of a segment can tilt it far off).
    for (int end = 0; end < 2; ++end) {
        double dl = 0, dp = 0;
        const cv::Point2d e(s[2 * end], s[2 * end + 1]);
        const cv::Point2d a = carry(local, e, &dl), b = carry(homography, e, &dp);
        if (!(dl * dp > 0) || !(std::hypot(a.x - b.x, a.y - b.y) <= 8.0)) return true;
    }
    homography = local;
    return true;
}

namespace {
// Critical value of the F distribution with 8 and about 40 degrees of
// freedom at the 1% level.
constexpr double kLocalFitF = 3.0;
}  // namespace

std::pair<bool, cv::Matx33d> PlaneMap::localFit(int plane, const cv::Point2d& centre) const {
    const std::vector<PointCorrespondence>& inliers = inliers_[plane];
    std::vector<std::pair<double, int>> byDistance;
    byDistance.reserve(inliers.size());
    for (std::size_t k = 0; k < inliers.size(); ++k)
        byDistance.emplace_back(std::hypot(inliers[k].image1.x - centre.x, inliers[k].image1.y - centre.y),
                                static_cast<int>(k));
    std::partial_sort(byDistance.begin(), byDistance.begin() + localPoints_, byDistance.end());
    std::vector<PointCorrespondence> nearest;
    for (int k = 0; k < localPoints_; ++k) nearest.push_back(inliers[byDistance[k].second]);
    cv::Matx33d local;
    if (!fitPointHomography(nearest, local)) return {false, local};
    // The local fit has eight parameters of its own; it stands in for the
    // plane only where the plane misses these points by clearly more than
    // eight parameters fitted to noise would explain (an F test of the
    // nested models at about the 1% level). Elsewhere the plane, fitted to
    // all its inliers, is the more precise of the two.
    const auto squaredMisses = [&](const cv::Matx33d& h) {
        double sum = 0;
        for (const PointCorrespondence& c : nearest) {
            const cv::Point2d q = carry(h, c.image1);
            sum += (q.x - c.image2.x) * (q.x - c.image2.x) + (q.y - c.image2.y) * (q.y - c.image2.y);
        }
        return sum;
    };
    const double ownMisses = squaredMisses(local), planeMisses = squaredMisses(planes_[plane]);
    const double freedom = 2.0 * static_cast<double>(nearest.size()) - 8.0;
    const bool better = freedom > 0 && std::isfinite(ownMisses) && std::isfinite(planeMisses) &&
                        (planeMisses - ownMisses) / 8.0 > kLocalFitF * ownMisses / freedom;
    return {better, local};
}

std::vector<char> agreesWithPlanes(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                                   const std::vector<SegmentMatch>& matches, const std::vector<char>& judge,
                                   const SegmentCarriers& carriers, double maxDistance) {
    std::vector<char> keep(matches.size(), 1);
    if (carriers.known.size() != segments1.size() || !(maxDistance > 0)) return keep;
    for (std::size_t k = 0; k < matches.size(); ++k) {
        if (!judge.empty() && !judge[k]) continue;
        const int i = matches[k].image1Segment;
        if (carriers.known[i])
            keep[k] = carriesOntoLine(carriers.homography[i], segments1[i], segments2[matches[k].image2Segment],
                                      maxDistance);
    }
    return keep;
}

SegmentCarriers carriersOf(const std::vector<Segment>& segments, const PlaneMap& planes) {
    SegmentCarriers c;
    c.known.assign(segments.size(), 0);
    c.homography.resize(segments.size());
    if (planes.empty()) return c;
    for (std::size_t i = 0; i < segments.size(); ++i) c.known[i] = planes.carrier(segments[i], c.homography[i]);
    return c;
}

namespace {

// The image-2 segments near a carried segment, so that each carried
// segment is compared with those instead of with every image-2 segment
// (which made the plane stage grow with the product of the two counts).
// A segment lands on w only when both its endpoints lie within reach of
// w's line and the two share some extent along it: then some point of it
// lies within reach of the segment w itself. Each w is listed in the cells
// around points taken every half cell along it, cells at least twice the
// reach wide, so every point within reach of w lies in a cell that lists
// w, and the cells around the points taken along the carried segment hold
// every w it can land on (and others, which the full test then refuses).
class SegmentCells {
public:
    SegmentCells(const std::vector<Segment>& segments, double reach) : seen_(segments.size(), 0) {
        if (segments.empty() || !(reach >= 0) || !std::isfinite(reach)) return;
        double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL, total = 0;
        for (const Segment& s : segments) {
            x0 = std::min({x0, s[0], s[2]}), x1 = std::max({x1, s[0], s[2]});
            y0 = std::min({y0, s[1], s[3]}), y1 = std::max({y1, s[1], s[3]});
            total += segmentLength(s);
        }
        const double n = static_cast<double>(segments.size());
        // Twice the reach (and a pixel more for rounding); no more than
        // about 4 cells per segment, and about 32 listings per segment.
        cell_ = std::max({2 * (reach + 1), 8.0, std::sqrt((x1 - x0 + 1) * (y1 - y0 + 1) / (4 * n + 1024)),
                          18 * total / (32 * n + 1e6)});
        if (!std::isfinite(cell_) || !std::isfinite(x0 + y0 + x1 + y1)) return;
        // Two cells of margin: the points taken along a carried segment
        // may lie up to a cell outside the segments' extent.
        x0_ = x0 - 2 * cell_, y0_ = y0 - 2 * cell_;
        nx_ = static_cast<long long>((x1 - x0_) / cell_) + 3;
        ny_ = static_cast<long long>((y1 - y0_) / cell_) + 3;
        start_.assign(static_cast<std::size_t>(nx_ * ny_) + 1, 0);
        std::vector<int> last(static_cast<std::size_t>(nx_ * ny_), -1);
        for (int pass = 0; pass < 2; ++pass) {
            std::fill(last.begin(), last.end(), -1);
            std::vector<std::size_t> fill(start_.begin(), start_.end() - 1);
            if (pass == 1) items_.resize(start_.back());
            for (int w = 0; w < static_cast<int>(segments.size()); ++w)
                forPoints(segments[static_cast<std::size_t>(w)], [&](long long cx, long long cy) {
                    for (long long y = std::max(cy - 1, 0LL); y <= std::min(cy + 1, ny_ - 1); ++y)
                        for (long long x = std::max(cx - 1, 0LL); x <= std::min(cx + 1, nx_ - 1); ++x) {
                            const std::size_t c = static_cast<std::size_t>(y * nx_ + x);
                            if (last[c] == w) continue;
                            last[c] = w;
                            if (pass == 0)
                                ++start_[c + 1];
                            else
                                items_[fill[c]++] = w;
                        }
                });
            if (pass == 0) {
                std::size_t used = 0;
                for (std::size_t c = 1; c < start_.size(); ++c) {
                    used += start_[c] != 0;
                    start_[c] += start_[c - 1];
                }
                // Cells that each list a good part of all segments (long
                // ones crossing the image) select nothing: every lookup
                // would scan them all anyway.
                if (static_cast<double>(start_.back()) > static_cast<double>(used) * (n / 8 + 64)) {
                    start_.clear();
                    return;
                }
            }
        }
        built_ = true;
    }

    // The indices, ascending and each once, of the segments listed in the
    // cells of the points taken along m; every index when there is no grid
    // (a reach that is not a finite number) or when the cells list a good
    // part of all segments anyway (long segments crossing the whole image),
    // where scanning them all costs less than sorting.
    const std::vector<int>& near(const Segment& m) {
        const auto all = [&]() -> const std::vector<int>& {
            found_.resize(seen_.size());
            std::iota(found_.begin(), found_.end(), 0);
            return found_;
        };
        found_.clear();
        if (!built_) return all();
        if (++lookup_ == 0) {
            std::fill(seen_.begin(), seen_.end(), 0u);
            lookup_ = 1;
        }
        Segment clipped;
        if (!clip(m, clipped)) return found_;
        const std::size_t enough = seen_.size() / 8;
        bool crowded = false;
        forPoints(clipped, [&](long long cx, long long cy) {
            const std::size_t c = static_cast<std::size_t>(cy * nx_ + cx);
            if (crowded || found_.size() + (start_[c + 1] - start_[c]) > enough + 64) {
                crowded = true;
                return;
            }
            for (std::size_t k = start_[c]; k < start_[c + 1]; ++k) {
                const int w = items_[k];
                if (seen_[static_cast<std::size_t>(w)] == lookup_) continue;
                seen_[static_cast<std::size_t>(w)] = lookup_;
                found_.push_back(w);
            }
        });
        if (crowded) return all();
        std::sort(found_.begin(), found_.end());
        return found_;
    }

private:
    // f(cx, cy) for the cells (inside the grid) of points every half cell
    // along s, both ends included.
    template <class F>
    void forPoints(const Segment& s, F&& f) const {
        const double steps = std::ceil(segmentLength(s) / (cell_ / 2));
        const long long k1 = std::isfinite(steps) ? static_cast<long long>(std::max(steps, 1.0)) : 1;
        for (long long k = 0; k <= k1; ++k) {
            const double t = static_cast<double>(k) / static_cast<double>(k1);
            const double x = s[0] + t * (s[2] - s[0]), y = s[1] + t * (s[3] - s[1]);
            const double fx = std::floor((x - x0_) / cell_), fy = std::floor((y - y0_) / cell_);
            if (!(fx >= 0 && fy >= 0 && fx < static_cast<double>(nx_) && fy < static_cast<double>(ny_))) continue;
            f(static_cast<long long>(fx), static_cast<long long>(fy));
        }
    }

    // m cut to the grid (Liang-Barsky); false when it misses it. Points of
    // m outside the grid are more than a cell from every segment.
    bool clip(const Segment& m, Segment& out) const {
        const double xa = x0_, ya = y0_, xb = x0_ + static_cast<double>(nx_) * cell_,
                     yb = y0_ + static_cast<double>(ny_) * cell_;
        const double dx = m[2] - m[0], dy = m[3] - m[1];
        double t0 = 0, t1 = 1;
        const double p[4] = {-dx, dx, -dy, dy}, q[4] = {m[0] - xa, xb - m[0], m[1] - ya, yb - m[1]};
        for (int k = 0; k < 4; ++k) {
            if (!std::isfinite(p[k]) || !std::isfinite(q[k])) return false;
            if (p[k] == 0) {
                if (q[k] < 0) return false;
                continue;
            }
            const double r = q[k] / p[k];
            if (p[k] < 0)
                t0 = std::max(t0, r);
            else
                t1 = std::min(t1, r);
        }
        if (t0 > t1) return false;
        out = {m[0] + t0 * dx, m[1] + t0 * dy, m[0] + t1 * dx, m[1] + t1 * dy};
        return true;
    }

    bool built_ = false;
    double x0_ = 0, y0_ = 0, cell_ = 1;
    long long nx_ = 0, ny_ = 0;
    std::vector<std::size_t> start_;
    std::vector<int> items_;
    std::vector<std::uint32_t> seen_;
    std::uint32_t lookup_ = 0;
    std::vector<int> found_;
};

}  // namespace

void correspondencesFromPlanes(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                               const SegmentCarriers& carriers, const PointSeedSettings& settings,
                               std::vector<SegmentMatch>& seeds, std::vector<SegmentMatch>& carried) {
    seeds.clear();
    carried.clear();
    if (carriers.known.size() != segments1.size() || segments2.empty()) return;
    const double maxDistance = settings.lineDistance;

    // Image-2 segments as lines and boxes for the search.
    std::vector<cv::Vec3d> lines2(segments2.size());
    std::vector<cv::Rect2d> boxes2(segments2.size());
    for (std::size_t w = 0; w < segments2.size(); ++w) {
        const Segment& s = segments2[w];
        lines2[w] = unitLine(s);
        boxes2[w] = cv::Rect2d(std::min(s[0], s[2]) - maxDistance, std::min(s[1], s[3]) - maxDistance,
                               std::fabs(s[2] - s[0]) + 2 * maxDistance, std::fabs(s[3] - s[1]) + 2 * maxDistance);
    }
    const auto onLine = [&](const cv::Vec3d& l, const Segment& m, double d) {
        return std::fabs(l[0] * m[0] + l[1] * m[1] + l[2]) <= d && std::fabs(l[0] * m[2] + l[1] * m[3] + l[2]) <= d;
    };

    struct Candidate {
        int image1, image2;
        double extent;
    };
    std::map<int, Candidate> bestForImage2;
    SegmentCells cells(segments2, maxDistance);
    for (int i = 0; i < static_cast<int>(segments1.size()); ++i) {
        const Segment& s = segments1[i];
        if (!carriers.known[i]) continue;
        const cv::Matx33d& h = carriers.homography[i];
        double depthA = 0, depthB = 0;
        const cv::Point2d a = carry(h, {s[0], s[1]}, &depthA), b = carry(h, {s[2], s[3]}, &depthB);
        if (!(depthA > 0) || !(depthB > 0)) continue;
        const Segment m{a.x, a.y, b.x, b.y};
        const cv::Rect2d box(std::min(m[0], m[2]), std::min(m[1], m[3]), std::fabs(m[2] - m[0]),
                             std::fabs(m[3] - m[1]));
        int best = -1;
        double bestExtent = 0;
        std::vector<int> landings;
        // Ascending, as a scan of every w would meet them: ties keep going
        // to the lower index.
        for (int w : cells.near(m)) {
            const cv::Rect2d& o = boxes2[w];
            if (box.x > o.x + o.width || o.x > box.x + box.width || box.y > o.y + o.height || o.y > box.y + box.height)
                continue;
            if (!onLine(lines2[w], m, maxDistance)) continue;
            const double extent = sharedExtent(m, segments2[w]);
            if (!(extent > 0)) continue;
            landings.push_back(w);
            if (extent > bestExtent) {
                bestExtent = extent;
                best = w;
            }
        }
        if (best < 0) continue;
        // Landing on two lines (parallel strokes a few pixels apart): which
        // one is the edge is not known.
        bool ambiguous = false;
        for (int w : landings)
            ambiguous = ambiguous || (w != best && !onLine(lines2[best], segments2[w], 1.5));
        if (ambiguous) continue;
        // Every piece of the partner edge that shares enough of the shorter
        // segment is a correspondence.
        const double lengthM = segmentLength(m);
        for (int w : landings) {
            const double lengthW = segmentLength(segments2[w]);
            const double common = sharedExtent(m, segments2[w]) * std::max(lengthM, lengthW);
            if (common >= settings.minOverlap * std::min(lengthM, lengthW)) carried.push_back({i, w});
        }
        if (bestExtent < settings.minExtent) continue;
        auto it = bestForImage2.find(best);
        if (it == bestForImage2.end() || it->second.extent < bestExtent) bestForImage2[best] = {i, best, bestExtent};
    }
    for (const auto& [w, c] : bestForImage2) seeds.push_back({c.image1, c.image2});
    std::sort(seeds.begin(), seeds.end());
}

namespace {

// Image-1 segments that h carries onto the line of some image-2 segment
// (both ends within maxDistance, running the same way, overlapping).
int segmentsLanding(const cv::Matx33d& h, const std::vector<Segment>& segments1, const std::vector<int>& which,
                    const std::vector<Segment>& segments2, const std::vector<cv::Vec3d>& lines2, SegmentCells& cells,
                    double maxDistance) {
    int landing = 0;
    for (int i : which) {
        const Segment m = mapSegment(h, segments1[i]);
        if (!std::isfinite(m[0]) || !std::isfinite(m[2])) continue;
        for (int w : cells.near(m)) {
            const cv::Vec3d& l = lines2[w];
            if (std::fabs(l[0] * m[0] + l[1] * m[1] + l[2]) > maxDistance ||
                std::fabs(l[0] * m[2] + l[1] * m[3] + l[2]) > maxDistance)
                continue;
            if (sharedExtent(m, segments2[w]) > 0) {
                ++landing;
                break;
            }
        }
    }
    return landing;
}

}  // namespace

std::vector<PointPlane> prunePlanesByLines(const std::vector<PointCorrespondence>& matches,
                                           std::vector<PointPlane> planes, const std::vector<Segment>& segments1,
                                           const std::vector<Segment>& segments2, const PointSeedSettings& settings,
                                           double scale) {
    if (planes.size() < 2 || segments2.empty()) return planes;
    std::vector<cv::Vec3d> lines2(segments2.size());
    for (std::size_t w = 0; w < segments2.size(); ++w) lines2[w] = unitLine(segments2[w]);
    SegmentCells cells(segments2, settings.lineDistance);
    PointSeedSettings plain = settings;
    plain.localPoints = 0;
    std::vector<PointPlane> kept{planes.front()};
    for (std::size_t p = 1; p < planes.size(); ++p) {
        // The segments this plane would carry, among the planes kept so far.
        std::vector<PointPlane> trial = kept;
        trial.push_back(planes[p]);
        const PlaneMap map(matches, trial, plain, scale);
        std::vector<int> mine;
        for (std::size_t i = 0; i < segments1.size(); ++i) {
            cv::Matx33d h;
            if (map.carrier(segments1[i], h) && h == planes[p].homography) mine.push_back(static_cast<int>(i));
        }
        const int own =
            segmentsLanding(planes[p].homography, segments1, mine, segments2, lines2, cells, settings.lineDistance);
        int best = 0;
        for (const PointPlane& q : kept)
            best = std::max(best, segmentsLanding(q.homography, segments1, mine, segments2, lines2, cells,
                                                  settings.lineDistance));
        // The lines of its region tell a real plane from an earlier one seen
        // a few pixels off through coarse keypoints: only the real one puts
        // clearly more of them onto lines of image 2.
        if (own > 0 && own >= best + std::max(3, best / 10)) kept.push_back(planes[p]);
    }
    return kept;
}

PointSeedResult pointSeeds(const cv::Mat& gray1, const cv::Mat& gray2, const std::vector<Segment>& segments1,
                           const std::vector<Segment>& segments2, const PointSeedSettings& settings, double scale,
                           const std::vector<PointCorrespondence>& given, int threads) {
    // Each level's keypoints are detected when the stage first asks for them.
    std::array<std::pair<KeypointSet, KeypointSet>, kPointLevels> levels;
    std::array<bool, kPointLevels> detected{};
    const KeypointLevels keypoints = [&](int level) {
        if (!detected[level]) {
            levels[level] = detectBoth(gray1, gray2, settings, levelSide(settings, level), level == 2, threads);
            detected[level] = true;
        }
        return std::make_pair(&levels[level].first, &levels[level].second);
    };
    return pointSeeds(gray1.size(), gray2.size(), keypoints, segments1, segments2, settings, scale, given);
}

PointSeedResult pointSeeds(cv::Size size1, cv::Size size2, const KeypointLevels& keypoints,
                           const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                           const PointSeedSettings& settings, double scale,
                           const std::vector<PointCorrespondence>& given) {
    PointSeedResult result;
    const auto countVerified = [](const std::vector<PointPlane>& planes) {
        int n = 0;
        for (const PointPlane& p : planes) n += static_cast<int>(p.inliers.size());
        return n;
    };
    if (!given.empty()) {
        result.matches = given;
        result.planes = findPlanes(result.matches, settings, scale);
    } else {
        const double longest = std::max({size1.width, size1.height, size2.width, size2.height});
        for (int level = 0; level < kPointLevels; ++level) {
            if (level == 2 && !settings.affineViews) break;
            // The detail level sees nothing new when the first one already
            // worked on the images as they are.
            if (level == 1 && (settings.firstSide <= 0 || settings.firstSide >= longest)) continue;
            const auto [k1, k2] = keypoints(level);
            std::vector<PointCorrespondence> matches = matchKeypointSets(*k1, *k2, settings);
            std::vector<PointPlane> planes = findPlanes(matches, settings, scale);
            if (level == 0 || countVerified(planes) > countVerified(result.planes)) {
                result.matches = std::move(matches);
                result.planes = std::move(planes);
                result.level = level;
            }
            if (countVerified(result.planes) >= settings.enoughVerified) break;
        }
    }
    result.planes = prunePlanesByLines(result.matches, std::move(result.planes), segments1, segments2, settings, scale);
    result.verified = countVerified(result.planes);
    result.geometry.planes = planeModels(result.matches, result.planes);
    result.geometry.epipolar = fitEpipolar(result.matches, result.planes, settings, scale);
    result.carriers = carriersOf(segments1, PlaneMap(result.matches, result.planes, settings, scale,
                                                     !result.geometry.epipolar.verified));
    correspondencesFromPlanes(segments1, segments2, result.carriers, settings, result.seeds, result.carried);
    return result;
}

}  // namespace linematch
