#include "spatial_index.hpp"

#include "linematch/pair_records.hpp"
#include "parallel_ranges.hpp"

namespace linematch {

namespace {

bool finite(const cv::Point2d& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

bool finite(const Segment& s) {
    return std::isfinite(s[0]) && std::isfinite(s[1]) && std::isfinite(s[2]) && std::isfinite(s[3]);
}

double pairDistance(const cv::Point2d& q, const Segment& a, const Segment& b) {
    return pointSegmentDistance(q.x, q.y, a) + pointSegmentDistance(q.x, q.y, b);
}

// The full scan: every pair measured, the first `count` of (sum, index).
std::vector<double> allSegmentPairs(const std::vector<cv::Point2d>& queries, const std::vector<Segment>& segments,
                                    const std::vector<std::array<int, 2>>& pairs, int count) {
    std::vector<double> table;
    table.reserve(queries.size() * static_cast<std::size_t>(count));
    std::vector<std::pair<double, int>> byDistance(pairs.size());
    const std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(count), pairs.size());
    for (const cv::Point2d& q : queries) {
        for (std::size_t p = 0; p < pairs.size(); ++p)
            byDistance[p] = {pairDistance(q, segments[pairs[p][0]], segments[pairs[p][1]]), static_cast<int>(p)};
        std::partial_sort(byDistance.begin(), byDistance.begin() + static_cast<long>(k), byDistance.end());
        for (std::size_t j = 0; j < static_cast<std::size_t>(count); ++j)
            table.push_back(byDistance[j < k ? j : 0].second);
    }
    return table;
}

}  // namespace

BoxGrid::BoxGrid(const std::vector<std::array<double, 4>>& boxes, const std::vector<cv::Point2d>& extra,
                 double itemsPerCell) {
    bool any = false;
    const auto widen = [&](double ax, double ay, double bx, double by) {
        if (!any) {
            x0_ = ax, y0_ = ay, x1_ = bx, y1_ = by;
            any = true;
            return;
        }
        x0_ = std::min(x0_, ax), y0_ = std::min(y0_, ay), x1_ = std::max(x1_, bx), y1_ = std::max(y1_, by);
    };
    for (const auto& b : boxes) widen(b[0], b[1], b[2], b[3]);
    for (const cv::Point2d& p : extra) widen(p.x, p.y, p.x, p.y);
    const double width = x1_ - x0_, height = y1_ - y0_;
    const double n = static_cast<double>(std::max<std::size_t>(boxes.size(), 1));
    // About itemsPerCell boxes per cell, and never more than about 16 cells
    // per box however the boxes are spread.
    cell_ = std::sqrt(std::max(width, 1.0) * std::max(height, 1.0) * itemsPerCell / n);
    cell_ = std::max({cell_, std::max(width, height) / (4 * std::sqrt(n) + 16), 1e-6});
    nx_ = static_cast<int>(width / cell_) + 1;
    ny_ = static_cast<int>(height / cell_) + 1;
    const double magnitude = std::max({std::fabs(x0_), std::fabs(x1_), std::fabs(y0_), std::fabs(y1_)});
    slack_ = 1e-9 * (1 + magnitude + width + height);

    const std::size_t cells = static_cast<std::size_t>(nx_) * static_cast<std::size_t>(ny_);
    start_.assign(cells + 1, 0);
    const auto forCells = [&](const std::array<double, 4>& b, auto&& f) {
        const int ax = cellX(b[0]), bx = cellX(b[2]), ay = cellY(b[1]), by = cellY(b[3]);
        for (int y = ay; y <= by; ++y)
            for (int x = ax; x <= bx; ++x) f(static_cast<std::size_t>(y) * static_cast<std::size_t>(nx_) + static_cast<std::size_t>(x));
    };
    for (const auto& b : boxes) forCells(b, [&](std::size_t c) { ++start_[c + 1]; });
    for (std::size_t c = 0; c < cells; ++c) start_[c + 1] += start_[c];
    items_.resize(start_[cells]);
    std::vector<std::size_t> fill(start_.begin(), start_.end() - 1);
    for (int k = 0; k < static_cast<int>(boxes.size()); ++k)
        forCells(boxes[static_cast<std::size_t>(k)], [&](std::size_t c) { items_[fill[c]++] = k; });
}

bool BoxGrid::covers(const cv::Point2d& p) const { return p.x >= x0_ && p.x <= x1_ && p.y >= y0_ && p.y <= y1_; }

PointIndex::PointIndex(std::vector<cv::Point2d> points) : points_(std::move(points)) {
    std::vector<std::array<double, 4>> boxes;
    boxes.reserve(points_.size());
    for (const cv::Point2d& p : points_) {
        if (!finite(p)) return;
        boxes.push_back({p.x, p.y, p.x, p.y});
    }
    grid_ = std::make_unique<BoxGrid>(boxes, std::vector<cv::Point2d>{}, 2.0);
}

std::vector<double> nearestSegmentPairs(const std::vector<cv::Point2d>& queries, const std::vector<Segment>& segments,
                                        const std::vector<std::array<int, 2>>& pairs, int count, int threads) {
    if (pairs.empty() || count <= 0) return {};
    bool allFinite = std::all_of(queries.begin(), queries.end(), [](const cv::Point2d& q) { return finite(q); });
    // The distinct segments of the pairs, each with the pairs it is in.
    std::vector<int> slot(segments.size(), -1);
    std::vector<int> used;
    for (const auto& p : pairs)
        for (int s : p)
            if (slot[static_cast<std::size_t>(s)] < 0) {
                slot[static_cast<std::size_t>(s)] = static_cast<int>(used.size());
                used.push_back(s);
                allFinite = allFinite && finite(segments[static_cast<std::size_t>(s)]);
            }
    if (!allFinite) return allSegmentPairs(queries, segments, pairs, count);

    std::vector<std::size_t> pairStart(used.size() + 1, 0);
    for (const auto& p : pairs) {
        ++pairStart[static_cast<std::size_t>(slot[static_cast<std::size_t>(p[0])]) + 1];
        if (p[1] != p[0]) ++pairStart[static_cast<std::size_t>(slot[static_cast<std::size_t>(p[1])]) + 1];
    }
    for (std::size_t u = 0; u < used.size(); ++u) pairStart[u + 1] += pairStart[u];
    std::vector<int> pairsOf(pairStart.back());
    {
        std::vector<std::size_t> fill(pairStart.begin(), pairStart.end() - 1);
        for (int p = 0; p < static_cast<int>(pairs.size()); ++p) {
            const auto& pr = pairs[static_cast<std::size_t>(p)];
            pairsOf[fill[static_cast<std::size_t>(slot[static_cast<std::size_t>(pr[0])])]++] = p;
            if (pr[1] != pr[0]) pairsOf[fill[static_cast<std::size_t>(slot[static_cast<std::size_t>(pr[1])])]++] = p;
        }
    }
    std::vector<std::array<double, 4>> boxes;
    boxes.reserve(used.size());
    for (int s : used) {
        const Segment& g = segments[static_cast<std::size_t>(s)];
        boxes.push_back({std::min(g[0], g[2]), std::min(g[1], g[3]), std::max(g[0], g[2]), std::max(g[1], g[3])});
    }
    const BoxGrid grid(boxes, queries, 2.0);
    std::vector<std::array<int, 2>> pairSlots;
    pairSlots.reserve(pairs.size());
    for (const auto& p : pairs)
        pairSlots.push_back({slot[static_cast<std::size_t>(p[0])], slot[static_cast<std::size_t>(p[1])]});

    std::vector<double> table(queries.size() * static_cast<std::size_t>(count));
    const int n = static_cast<int>(queries.size());
    parallelRanges(n, rangeParts(n, threads, 256), [&](int begin, int end, int) {
        // Marks of the segments listed, the segments measured (with their
        // distance) and the pairs measured for query i.
        std::vector<int> listed(used.size(), -1), measured(used.size(), -1), pairSeen(pairs.size(), -1);
        std::vector<double> distance(used.size());
        NearestList best(count);
        for (int i = begin; i < end; ++i) {
            const cv::Point2d& q = queries[static_cast<std::size_t>(i)];
            best.clear();
            // A segment is in several pairs: its distance is measured once.
            const auto distanceTo = [&](int u) {
                if (measured[static_cast<std::size_t>(u)] != i) {
                    measured[static_cast<std::size_t>(u)] = i;
                    distance[static_cast<std::size_t>(u)] = pointSegmentDistance(
                        q.x, q.y, segments[static_cast<std::size_t>(used[static_cast<std::size_t>(u)])]);
                }
                return distance[static_cast<std::size_t>(u)];
            };
            const auto visit = [&](int u) {
                if (listed[static_cast<std::size_t>(u)] == i) return;
                listed[static_cast<std::size_t>(u)] = i;
                for (std::size_t k = pairStart[static_cast<std::size_t>(u)]; k < pairStart[static_cast<std::size_t>(u) + 1]; ++k) {
                    const int p = pairsOf[k];
                    if (pairSeen[static_cast<std::size_t>(p)] == i) continue;
                    pairSeen[static_cast<std::size_t>(p)] = i;
                    const auto& slots = pairSlots[static_cast<std::size_t>(p)];
                    // The same sum as pairDistance.
                    best.offer(distanceTo(slots[0]) + distanceTo(slots[1]), p);
                }
            };
            // A pair none of whose segments was listed in the rings searched
            // is at least twice the bound away.
            for (int r = 0;; ++r) {
                const double bound = grid.visitRing(q, r, visit);
                if (bound == HUGE_VAL || (best.full() && best.worst() < 2 * bound)) break;
            }
            const auto& list = best.list();
            double* row = &table[static_cast<std::size_t>(i) * static_cast<std::size_t>(count)];
            for (std::size_t j = 0; j < static_cast<std::size_t>(count); ++j) row[j] = list[j < list.size() ? j : 0].second;
        }
    });
    return table;
}

}  // namespace linematch
