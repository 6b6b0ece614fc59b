// Value types shared by the stages of the two-image line matcher.
#pragma once

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

}  // namespace linematch
