// Value types of the lineharvest core: read-only views of the caller's
// arrays (column-major as MATLAB holds them, row-major (N, 4) / (N, 14) as
// NumPy holds them: the same memory), thresholds, the raster window and one
// added correspondence.
#pragma once

#include <cstddef>
#include <type_traits>

namespace lineharvest {

// count segments of four doubles x1 y1 x2 y2; segment k at data[4k .. 4k+3].
struct SegmentArray {
    const double* data = nullptr;
    int count = 0;
};

// One pair record: two correspondences already known (image-1 segment
// image1SegmentA with image-2 segment image2SegmentA, and the B pair; whole
// numbers stored as doubles) and the homography image 1 -> image 2 estimated
// from them, row-major. The layout is the caller's fourteen doubles per
// record (one column of a 14-row MATLAB matrix, one row of a NumPy (N, 14)
// array): i1a i1b w2a w2b, one unused element, h11 .. h33.
struct PairRecord {
    double image1SegmentA;
    double image1SegmentB;
    double image2SegmentA;
    double image2SegmentB;
    double unused;
    double homography[9];
};
static_assert(std::is_standard_layout_v<PairRecord> && std::is_trivially_copyable_v<PairRecord>,
              "PairRecord must be plain doubles");
static_assert(sizeof(PairRecord) == 14 * sizeof(double), "PairRecord must be fourteen packed doubles");
static_assert(offsetof(PairRecord, image2SegmentA) == 2 * sizeof(double) &&
                  offsetof(PairRecord, homography) == 5 * sizeof(double),
              "PairRecord fields must sit at the caller's element offsets");

// count pair records of fourteen doubles each, record r at data[14r .. 14r+13]
// in a caller's array; in a C++ caller's larger values (a PairRecord member
// with the caller's own fields beside it) the records lie `stride` bytes apart.
struct PairRecordArray {
    const double* data = nullptr;
    int count = 0;
    std::size_t stride = sizeof(PairRecord);  // bytes from one record to the next

    // Record r through its named fields (the same memory).
    const PairRecord& operator[](int r) const {
        return *reinterpret_cast<const PairRecord*>(reinterpret_cast<const unsigned char*>(data) +
                                                    static_cast<std::size_t>(r) * stride);
    }
};

// The view of count records held as PairRecord values, the first at `first`
// and each `stride` bytes after the one before: sizeof(PairRecord) for an
// array of them, sizeof(T) for the PairRecord members of an array of T. Read
// in place, so no copy of the records is made for the transfer.
inline PairRecordArray pairRecordView(const PairRecord* first, int count, std::size_t stride = sizeof(PairRecord)) {
    return {reinterpret_cast<const double*>(first), count, stride};
}

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
