// Nearest-neighbour queries on a uniform grid: the nearest points to a
// point (seed and verification neighbours), and the segment pairs nearest
// to a point by the sum of the two point-to-segment distances (the pair
// index table). Cells are searched in growing square rings until nothing
// outside them can come closer than the worst one kept, so the answers are
// exactly those of sorting every candidate by (distance, index): the same
// distances, computed by the same expressions, and ties to the lower index.
#pragma once

#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

namespace linematch {

// Cells over a set of axis-aligned boxes (a point is a box of size 0); each
// box is listed in every cell it overlaps.
class BoxGrid {
public:
    // boxes[k] = (x0, y0, x1, y1) with x0 <= x1, y0 <= y1, all finite;
    // `extra` widens the covered area (query points that are no box). About
    // itemsPerCell boxes of mean size 0 share a cell.
    BoxGrid(const std::vector<std::array<double, 4>>& boxes, const std::vector<cv::Point2d>& extra,
            double itemsPerCell);

    // Whether p lies in the covered area (queries elsewhere are answered by
    // the callers' full scans).
    bool covers(const cv::Point2d& p) const;

    // visit(k) for every box listed in the cells of ring r around p's cell
    // (cells at Chebyshev distance exactly r; a box may come more than once).
    // Returns a lower bound of the distance from p to every box in no cell
    // of rings 0..r, or infinity when those rings hold every cell.
    template <class Visit>
    double visitRing(const cv::Point2d& p, int r, Visit&& visit) const {
        const int cx = cellX(p.x), cy = cellY(p.y);
        const auto cell = [&](int x, int y) {
            if (x < 0 || y < 0 || x >= nx_ || y >= ny_) return;
            const std::size_t c = static_cast<std::size_t>(y) * static_cast<std::size_t>(nx_) + static_cast<std::size_t>(x);
            for (std::size_t k = start_[c]; k < start_[c + 1]; ++k) visit(items_[k]);
        };
        if (r == 0) {
            cell(cx, cy);
        } else {
            for (int x = cx - r; x <= cx + r; ++x) {
                cell(x, cy - r);
                cell(x, cy + r);
            }
            for (int y = cy - r + 1; y <= cy + r - 1; ++y) {
                cell(cx - r, y);
                cell(cx + r, y);
            }
        }
        if (cx - r <= 0 && cy - r <= 0 && cx + r >= nx_ - 1 && cy + r >= ny_ - 1) return HUGE_VAL;
        const double left = p.x - (x0_ + (cx - r) * cell_), right = x0_ + (cx + r + 1) * cell_ - p.x;
        const double top = p.y - (y0_ + (cy - r) * cell_), bottom = y0_ + (cy + r + 1) * cell_ - p.y;
        // The slack covers the rounding of the cell arithmetic and of the
        // callers' distances.
        return std::min(std::min(left, right), std::min(top, bottom)) - slack_;
    }

private:
    int cellX(double x) const { return std::clamp(static_cast<int>(std::floor((x - x0_) / cell_)), 0, nx_ - 1); }
    int cellY(double y) const { return std::clamp(static_cast<int>(std::floor((y - y0_) / cell_)), 0, ny_ - 1); }

    double x0_ = 0, y0_ = 0, x1_ = 0, y1_ = 0, cell_ = 1, slack_ = 0;
    int nx_ = 1, ny_ = 1;
    std::vector<std::size_t> start_;
    std::vector<int> items_;
};

// Candidates kept as (distance, index), least first, at most `count`.
class NearestList {
public:
    explicit NearestList(int count) : count_(static_cast<std::size_t>(std::max(count, 0))) {}
    void clear() { list_.clear(); }
    void offer(double distance, int index) {
        const std::pair<double, int> c(distance, index);
        if (list_.size() == count_ && !(c < list_.back())) return;
        list_.insert(std::upper_bound(list_.begin(), list_.end(), c), c);
        if (list_.size() > count_) list_.pop_back();
    }
    bool full() const { return list_.size() == count_; }
    // The worst one kept (only when full).
    double worst() const { return list_.back().first; }
    const std::vector<std::pair<double, int>>& list() const { return list_; }

private:
    std::size_t count_;
    std::vector<std::pair<double, int>> list_;
};

// Points with the nearest-point query the seed checks and the verification
// make: up to `count` points t with accept(t) and
// std::hypot(points[t].x - q.x, points[t].y - q.y) <= maxDistance, least
// (distance, t) first.
class PointIndex {
public:
    explicit PointIndex(std::vector<cv::Point2d> points);

    template <class Accept>
    void nearest(const cv::Point2d& q, int count, double maxDistance, Accept&& accept,
                 std::vector<std::pair<double, int>>& out) const {
        out.clear();
        if (count <= 0 || points_.empty()) return;
        NearestList best(count);
        const auto offer = [&](int t) {
            if (!accept(t)) return;
            const double d = std::hypot(points_[t].x - q.x, points_[t].y - q.y);
            if (d <= maxDistance) best.offer(d, t);
        };
        if (!grid_ || !std::isfinite(maxDistance) || !grid_->covers(q)) {
            for (int t = 0; t < static_cast<int>(points_.size()); ++t) offer(t);
        } else {
            // A point sits in one cell, so none is offered twice.
            for (int r = 0;; ++r) {
                const double bound = grid_->visitRing(q, r, offer);
                if (bound > maxDistance || (best.full() && best.worst() < bound)) break;
            }
        }
        out = best.list();
    }

private:
    std::vector<cv::Point2d> points_;
    // None when a coordinate is not finite: then every query scans all.
    std::unique_ptr<BoxGrid> grid_;
};

// For every query point q the `count` pairs p (two indices into segments)
// of least pointSegmentDistance(q, segments[pairs[p][0]]) +
// pointSegmentDistance(q, segments[pairs[p][1]]), least (sum, p) first;
// padded with the nearest when there are fewer pairs, none when there are
// no pairs or count < 1. Row-major, count entries per query, the pair
// indices held as doubles: the form of the lineharvest transfer's pair index
// table, which reads this vector in place. The queries are shared out among
// `threads` threads; the result does not depend on their number.
std::vector<double> nearestSegmentPairs(const std::vector<cv::Point2d>& queries, const std::vector<Segment>& segments,
                                        const std::vector<std::array<int, 2>>& pairs, int count, int threads = 1);

}  // namespace linematch
