// Value types of the lineharvest core: read-only views of the caller's
// arrays (column-major as MATLAB holds them, row-major (N, 4) / (N, 14) as
// NumPy holds them: the same memory), thresholds, the raster window and one
// added correspondence.
#pragma once

#include <cstddef>

namespace lineharvest {

// count segments of four doubles x1 y1 x2 y2; segment k at data[4k .. 4k+3].
struct SegmentArray {
    const double* data = nullptr;
    int count = 0;
};

// count pair records of fourteen doubles; record r at data[14r .. 14r+13]:
// elements 0 and 2 an image-1 and an image-2 segment index already matched,
// 1 and 3 a second such pair, 4 unused, 5..13 a homography image 1 -> image 2
// in row-major order.
struct PairRecordArray {
    const double* data = nullptr;
    int count = 0;
};

// For image-1 segment i, entries data[i*pairsPerSegment + j], j < pairsPerSegment,
// are the pair record indices to try (whole numbers stored as doubles). The
// table has one such run per image-1 segment.
struct PairIndexTable {
    const double* data = nullptr;
    int pairsPerSegment = 0;
};

// The correspondence test: a value greater than its threshold rejects; an
// infinite threshold switches its test off; NaN thresholds are refused.
struct Thresholds {
    double maxLineDistance = 2.0;     // pixels, each mapped endpoint to the candidate's line
    double maxAngleDifference = 0.1;  // radians, between the directed segments
    double minOverlapRatio = 0.5;     // fraction of the shorter segment, partial overlaps
};

// Pixels (x, y) with xBegin <= x < xEnd and yBegin <= y < yEnd.
struct RasterWindow {
    int yBegin = 0;
    int yEnd = 0;
    int xBegin = 0;
    int xEnd = 0;
};

// One line "i w r" of Addcandidates.txt.
struct Correspondence {
    int image1Segment;
    int image2Segment;
    int pairRecord;
    bool operator==(const Correspondence& o) const {
        return image1Segment == o.image1Segment && image2Segment == o.image2Segment && pairRecord == o.pairRecord;
    }
};

}  // namespace lineharvest
