// Value types shared by the stages of the two-image line matcher.
#pragma once

#include "lineharvest/types.hpp"

#include <opencv2/core.hpp>

#include <array>
#include <cstddef>
#include <vector>

namespace linematch {

// x1, y1, x2, y2 in pixels. The detector orients a segment by the side of
// its darker region, so the direction is part of what a segment says.
using Segment = std::array<double, 4>;

// Image-1 segment i corresponds to image-2 segment w (0-based indices into
// the two segment lists).
struct SegmentMatch {
    int image1Segment;
    int image2Segment;
    bool operator==(const SegmentMatch& o) const {
        return image1Segment == o.image1Segment && image2Segment == o.image2Segment;
    }
    bool operator<(const SegmentMatch& o) const {
        return image1Segment != o.image1Segment ? image1Segment < o.image1Segment
                                                : image2Segment < o.image2Segment;
    }
};

// A pair record: two seeds and the local homography image 1 -> image 2
// estimated from them. `record` is the lineharvest core's record (the two
// seeds' segment indices and the homography, row-major), which the transfer
// reads in place; beside it what only the matcher uses: the seeds' indices
// into the seed list the record was made from, and votes, how many
// neighbouring seeds it carries onto their partners (seed checks; 0 where
// nothing voted).
struct SeedPair {
    lineharvest::PairRecord record;
    int seedA;
    int seedB;
    int votes = 0;

    cv::Matx33d homography() const { return cv::Matx33d(record.homography); }
};

// The record of seeds[seedA] and seeds[seedB] with homography h.
inline SeedPair makeSeedPair(const std::vector<SegmentMatch>& seeds, int seedA, int seedB, const cv::Matx33d& h,
                             int votes = 0) {
    SeedPair p{};
    p.record.image1SegmentA = seeds[static_cast<std::size_t>(seedA)].image1Segment;
    p.record.image1SegmentB = seeds[static_cast<std::size_t>(seedB)].image1Segment;
    p.record.image2SegmentA = seeds[static_cast<std::size_t>(seedA)].image2Segment;
    p.record.image2SegmentB = seeds[static_cast<std::size_t>(seedB)].image2Segment;
    for (int k = 0; k < 9; ++k) p.record.homography[k] = h.val[k];
    p.seedA = seedA;
    p.seedB = seedB;
    p.votes = votes;
    return p;
}

}  // namespace linematch
