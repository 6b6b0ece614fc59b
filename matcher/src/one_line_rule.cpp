#include "linematch/one_line_rule.hpp"

#include "linematch/line_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace linematch {

namespace {

bool onLineOf(const Segment& s, const Segment& lineSegment, double maxDistance) {
    const cv::Vec3d l = unitLine(lineSegment);
    return std::fabs(l[0] * s[0] + l[1] * s[1] + l[2]) <= maxDistance &&
           std::fabs(l[0] * s[2] + l[1] * s[3] + l[2]) <= maxDistance;
}

}  // namespace

std::vector<char> singlePartnerLine(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                                    const std::vector<SegmentMatch>& matches, const std::vector<char>& judge,
                                    double sameLineDistance) {
    const int n = static_cast<int>(matches.size());
    std::unordered_multimap<int, int> by1, by2;
    for (int k = 0; k < n; ++k) {
        by1.emplace(matches[k].image1Segment, k);
        by2.emplace(matches[k].image2Segment, k);
    }
    std::vector<char> keep(n, 1);
    for (int k = 0; k < n; ++k) {
        if (!judge.empty() && !judge[k]) continue;
        const SegmentMatch& m = matches[k];
        const auto partners2 = by1.equal_range(m.image1Segment);
        for (auto it = partners2.first; it != partners2.second && keep[k]; ++it) {
            const int other = matches[it->second].image2Segment;
            if (other != m.image2Segment &&
                !onLineOf(segments2[other], segments2[m.image2Segment], sameLineDistance) &&
                !onLineOf(segments2[m.image2Segment], segments2[other], sameLineDistance))
                keep[k] = 0;
        }
        const auto partners1 = by2.equal_range(m.image2Segment);
        for (auto it = partners1.first; it != partners1.second && keep[k]; ++it) {
            const int other = matches[it->second].image1Segment;
            if (other != m.image1Segment &&
                !onLineOf(segments1[other], segments1[m.image1Segment], sameLineDistance) &&
                !onLineOf(segments1[m.image1Segment], segments1[other], sameLineDistance))
                keep[k] = 0;
        }
    }
    return keep;
}

}  // namespace linematch
