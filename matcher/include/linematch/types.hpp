// Value types shared by the stages of the two-image line matcher.
#pragma once

#include <opencv2/core.hpp>

#include <array>

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

// A pair record: two seeds (indices into the seed list they were made
// from) and the local homography image 1 -> image 2 estimated from them.
// votes: how many neighbouring seeds it carries onto their partners (seed
// checks; 0 where nothing voted).
struct SeedPair {
    int seedA;
    int seedB;
    cv::Matx33d homography;
    int votes = 0;
};

}  // namespace linematch
