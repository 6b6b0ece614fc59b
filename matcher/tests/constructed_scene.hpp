// Small constructed scenes for the matcher's tests: segments in image 1 and
// their images under a known homography, so that every check can be shown
// a correspondence that is right and one that is not.
#pragma once

#include "linematch/line_geometry.hpp"
#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <cmath>
#include <vector>

namespace scene {

using linematch::Segment;
using linematch::SegmentMatch;

// A mild perspective map of about a 30 degree view change.
inline cv::Matx33d viewChange() { return {0.9, -0.15, 40, 0.12, 1.05, 10, 2e-4, -1e-4, 1}; }

// Segments of length 40 at angles that differ from one place to the next,
// on a 5 x 5 lattice with 60 px spacing starting at (100, 100).
inline std::vector<Segment> latticeSegments(int side = 5, double spacing = 60.0) {
    std::vector<Segment> segments;
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c) {
            const double cx = 100 + c * spacing, cy = 100 + r * spacing;
            const double angle = 0.7 * (r * side + c);
            const double dx = 20 * std::cos(angle), dy = 20 * std::sin(angle);
            segments.push_back({cx - dx, cy - dy, cx + dx, cy + dy});
        }
    return segments;
}

inline std::vector<Segment> mapAll(const cv::Matx33d& h, const std::vector<Segment>& segments) {
    std::vector<Segment> out;
    for (const Segment& s : segments) out.push_back(linematch::mapSegment(h, s));
    return out;
}

// s moved along its own line: the first endpoint by `first` pixels and the
// second by `second` pixels (positive: in the segment's direction).
inline Segment slide(const Segment& s, double first, double second) {
    const double length = std::hypot(s[2] - s[0], s[3] - s[1]);
    const double ux = (s[2] - s[0]) / length, uy = (s[3] - s[1]) / length;
    return {s[0] + first * ux, s[1] + first * uy, s[2] + second * ux, s[3] + second * uy};
}

// s moved sideways by `offset` pixels.
inline Segment shift(const Segment& s, double offset) {
    const double length = std::hypot(s[2] - s[0], s[3] - s[1]);
    const double nx = -(s[3] - s[1]) / length, ny = (s[2] - s[0]) / length;
    return {s[0] + offset * nx, s[1] + offset * ny, s[2] + offset * nx, s[3] + offset * ny};
}

inline std::vector<SegmentMatch> identityMatches(int n) {
    std::vector<SegmentMatch> m;
    for (int k = 0; k < n; ++k) m.push_back({k, k});
    return m;
}

}  // namespace scene
