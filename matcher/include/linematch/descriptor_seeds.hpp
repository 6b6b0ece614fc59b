// Seeds from line descriptors: LBD descriptors (OpenCV line_descriptor)
// computed on given segments, matched by Hamming distance, kept when the
// match is mutual and passes the ratio test.
#pragma once

#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <stdexcept>
#include <vector>

namespace linematch {

// An image beyond what the line descriptor can index (its diagonal over
// 32703 pixels): the front ends report it as their imageTooLarge, as they
// do an image over their pixel limit.
struct ImageTooLargeForDescriptor : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

struct DescriptorSettings {
    // best distance < ratio * second-best distance; 1 or more switches the
    // test off.
    double ratio = 0.7;
    // image-1 segment i and image-2 segment w must be each other's best match.
    bool mutual = true;
};

// One 32-byte binary descriptor per segment (row k for segment k), the
// segments taken as octave-0 key lines of gray (8-bit, one channel).
cv::Mat lbdDescriptors(const cv::Mat& gray, const std::vector<Segment>& segments);

// Matches of the rows of descriptors1 to those of descriptors2 (CV_8U,
// Hamming distance), in increasing image-1 index. Ties go to the lower index.
// The rows of descriptors1 are shared out among `threads` threads; the
// result does not depend on their number.
std::vector<SegmentMatch> matchDescriptors(const cv::Mat& descriptors1, const cv::Mat& descriptors2,
                                           const DescriptorSettings& settings, int threads = 1);

}  // namespace linematch
