#include "linematch/line_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace linematch {

Segment mapSegment(const cv::Matx33d& h, const Segment& s) {
    const cv::Vec3d p = h * cv::Vec3d(s[0], s[1], 1.0);
    const cv::Vec3d q = h * cv::Vec3d(s[2], s[3], 1.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (p[2] == 0 || q[2] == 0) return {nan, nan, nan, nan};
    return {p[0] / p[2], p[1] / p[2], q[0] / q[2], q[1] / q[2]};
}

cv::Vec3d unitLine(const Segment& s) {
    const double dx = s[2] - s[0], dy = s[3] - s[1];
    const double length = std::hypot(dx, dy);
    if (!(length > 0)) return {0, 0, 0};
    const double a = -dy / length, b = dx / length;
    return {a, b, -(a * s[0] + b * s[1])};
}

double sharedExtent(const Segment& mapped, const Segment& b) {
    const double bx = b[2] - b[0], by = b[3] - b[1];
    const double lengthB = std::hypot(bx, by);
    const double lengthM = std::hypot(mapped[2] - mapped[0], mapped[3] - mapped[1]);
    if (!(lengthB > 0) || !(lengthM > 0)) return 0;
    const double ux = bx / lengthB, uy = by / lengthB;
    const double t1 = ux * (mapped[0] - b[0]) + uy * (mapped[1] - b[1]);
    const double t2 = ux * (mapped[2] - b[0]) + uy * (mapped[3] - b[1]);
    if (!(t2 > t1)) return 0;
    const double common = std::min(t2, lengthB) - std::max(t1, 0.0);
    return common > 0 ? common / std::max(lengthB, lengthM) : 0;
}

bool carriesOntoLine(const cv::Matx33d& h, const Segment& a, const Segment& b, double maxDistance) {
    const Segment m = mapSegment(h, a);
    const cv::Vec3d l = unitLine(b);
    const double d1 = std::fabs(l[0] * m[0] + l[1] * m[1] + l[2]);
    const double d2 = std::fabs(l[0] * m[2] + l[1] * m[3] + l[2]);
    if (!(d1 <= maxDistance) || !(d2 <= maxDistance)) return false;  // NaN fails too
    return sharedExtent(m, b) > 0;
}

namespace {

// Similarity that moves the centroid of pts to the origin and their mean
// distance from it to sqrt(2).
cv::Matx33d normalisingTransform(const std::vector<cv::Point2d>& pts) {
    cv::Point2d c(0, 0);
    for (const auto& p : pts) c += p;
    c *= 1.0 / static_cast<double>(pts.size());
    double spread = 0;
    for (const auto& p : pts) spread += std::hypot(p.x - c.x, p.y - c.y);
    spread /= static_cast<double>(pts.size());
    const double s = spread > 0 ? std::sqrt(2.0) / spread : 1.0;
    return {s, 0, -s * c.x, 0, s, -s * c.y, 0, 0, 1};
}

cv::Point2d apply(const cv::Matx33d& t, const cv::Point2d& p) {
    const cv::Vec3d q = t * cv::Vec3d(p.x, p.y, 1);
    return {q[0] / q[2], q[1] / q[2]};
}

}  // namespace

bool fitHomography(const std::vector<LineCorrespondence>& lines, const std::vector<PointCorrespondence>& points,
                   double pointWeight, cv::Matx33d& homography) {
    const int rows = 2 * static_cast<int>(lines.size() + points.size());
    if (rows < 8) return false;
    std::vector<cv::Point2d> pts1, pts2;
    for (const auto& l : lines) {
        pts1.emplace_back(l.image1[0], l.image1[1]);
        pts1.emplace_back(l.image1[2], l.image1[3]);
        pts2.emplace_back(l.image2[0], l.image2[1]);
        pts2.emplace_back(l.image2[2], l.image2[3]);
    }
    for (const auto& p : points) {
        pts1.push_back(p.image1);
        pts2.push_back(p.image2);
    }
    const cv::Matx33d t1 = normalisingTransform(pts1), t2 = normalisingTransform(pts2);

    cv::Mat a(rows, 9, CV_64F, cv::Scalar(0));
    int row = 0;
    for (const auto& l : lines) {
        const Segment b{apply(t2, {l.image2[0], l.image2[1]}).x, apply(t2, {l.image2[0], l.image2[1]}).y,
                        apply(t2, {l.image2[2], l.image2[3]}).x, apply(t2, {l.image2[2], l.image2[3]}).y};
        const cv::Vec3d line = unitLine(b);
        if (line == cv::Vec3d(0, 0, 0)) return false;
        for (int end = 0; end < 2; ++end) {
            const cv::Point2d p = apply(t1, {l.image1[2 * end], l.image1[2 * end + 1]});
            const double v[3] = {p.x, p.y, 1};
            double* r = a.ptr<double>(row++);
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) r[3 * i + j] = line[i] * v[j];
        }
    }
    for (const auto& pc : points) {
        const cv::Point2d p = apply(t1, pc.image1), q = apply(t2, pc.image2);
        const double v[3] = {p.x, p.y, 1};
        double* r1 = a.ptr<double>(row++);
        double* r2 = a.ptr<double>(row++);
        for (int j = 0; j < 3; ++j) {
            r1[3 + j] = -pointWeight * v[j];
            r1[6 + j] = pointWeight * q.y * v[j];
            r2[j] = pointWeight * v[j];
            r2[6 + j] = -pointWeight * q.x * v[j];
        }
    }
    // Only the right singular vectors are used. The full set of left ones
    // (rows x rows) costs more than the rest of the decomposition and
    // changes neither w nor vt; below 9 rows it is what makes vt 9 x 9.
    cv::Mat w, u, vt;
    cv::SVD::compute(a, w, u, vt, rows < 9 ? cv::SVD::FULL_UV : 0);
    if (vt.rows < 9) return false;
    // Eight independent conditions at least: the second-smallest singular
    // value must stand clear of zero.
    if (!(w.at<double>(7) > 1e-9 * w.at<double>(0))) return false;
    cv::Matx33d hn;
    for (int k = 0; k < 9; ++k) hn.val[k] = vt.at<double>(8, k);
    cv::Matx33d h = t2.inv() * hn * t1;
    if (!(std::fabs(h(2, 2)) > 0)) return false;
    h *= 1.0 / h(2, 2);
    for (double v : h.val)
        if (!std::isfinite(v)) return false;
    // All given image-1 points on the same side of the line at infinity.
    for (const auto& p : pts1)
        if (!(h(2, 0) * p.x + h(2, 1) * p.y + h(2, 2) > 0)) return false;
    homography = h;
    return true;
}

}  // namespace linematch
