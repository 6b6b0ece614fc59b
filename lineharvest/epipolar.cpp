#include "epipolar.hpp"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <string>

#include "geometry.hpp"
#include "lineharvest/errors.hpp"

namespace lineharvest {

namespace {

const char* const kOutputFileName = "Ecandidates.txt";

// Crossing point of two homogeneous lines, scaled to w = 1. The scaling is
// OpenCV's matrix-by-scalar division, i.e. a multiplication by the
// reciprocal; for a line parallel to the other, w is 0 and the components
// become infinite or NaN on purpose, which the caller's comparisons reject.
cv::Mat crossingPoint(const cv::Mat& line, const cv::Mat& other) {
    cv::Mat point = line.cross(other);
    point = point / point.at<double>(2, 0);
    return point;
}

// Segment length outside the band over the whole length, for a segment with
// one endpoint inside: `outside` is the other endpoint, measured to the
// nearer crossing point.
double outsideShare(const double* outside, const double* c1, const double* c2, const double* p1,
                    const double* p2) {
    const double d1 = pointDistance(outside, c1);
    const double d2 = pointDistance(outside, c2);
    double nearer = d1;
    if (d1 > d2) nearer = d2;
    return nearer / pointDistance(p2, p1);
}

std::string describeErrno(int error) {
    return error != 0 ? std::string(": ") + std::strerror(error) : std::string();
}

}  // namespace

bool epipolarSegmentTest(cv::Mat segment, cv::Mat line1, cv::Mat line2, double ratioThreshold) {
    cv::Mat line = cv::Mat::zeros(3, 1, CV_64F);
    lineThroughSegment(segment, line);
    const cv::Mat crossing1 = crossingPoint(line, line1);
    const cv::Mat crossing2 = crossingPoint(line, line2);

    // Endpoints are read by element so that a column taken out of a wider
    // matrix works as well as a continuous one.
    const double p1[2] = {segment.at<double>(0, 0), segment.at<double>(1, 0)};
    const double p2[2] = {segment.at<double>(2, 0), segment.at<double>(3, 0)};
    const double* c1 = crossing1.ptr<double>();  // fresh, hence continuous
    const double* c2 = crossing2.ptr<double>();

    // All four points lie on the segment's line, so a non-positive dot product
    // means "between the crossing points, ends included"; NaN fails both ways.
    const bool inside1 = dotFrom(p1, c1, c2) <= 0;
    const bool inside2 = dotFrom(p2, c1, c2) <= 0;

    if (inside1 && inside2) return true;

    if (!inside1 && !inside2) {
        const double a = line1.at<double>(0, 0);
        const double b = line1.at<double>(1, 0);
        const double c = line1.at<double>(2, 0);
        const double side1 = (a * p1[0] + b * p1[1]) + c;
        const double side2 = (a * p2[0] + b * p2[1]) + c;
        // Both endpoints beyond the same end of the band: nothing overlaps.
        if (side1 * side2 > 0) return false;
        const double ratio = pointDistance(p1, p2) / pointDistance(c1, c2);
        return ratioThreshold > ratio;
    }

    const double ratio = inside1 ? outsideShare(p2, c1, c2, p1, p2) : outsideShare(p1, c1, c2, p1, p2);
    return ratioThreshold > ratio;
}

void writeEpipolarCandidates(const double* segments1, const double* segments2, int numSegments1,
                             int numSegments2, cv::Mat epipolarMatrix, double ratioThreshold) {
    errno = 0;
    std::ofstream out(kOutputFileName, std::ios::out | std::ios::trunc);
    if (!out.is_open()) {
        throw HarvestError("outputFile", std::string("cannot open \"") + kOutputFileName +
                                             "\" for writing" + describeErrno(errno));
    }

    cv::Mat segment = cv::Mat::zeros(4, 1, CV_64F);
    cv::Mat firstEndpoint = cv::Mat::zeros(3, 1, CV_64F);
    cv::Mat secondEndpoint = cv::Mat::zeros(3, 1, CV_64F);
    // Filled by the products below; once sized, every later product reuses
    // their storage.
    cv::Mat line1;
    cv::Mat line2;

    for (int i = 0; i < numSegments1; ++i) {
        homogeneousEndpoints(segments1 + 4 * static_cast<std::ptrdiff_t>(i), firstEndpoint, secondEndpoint);
        // The two lines serve the whole row, so they are computed once here.
        line1 = epipolarMatrix * firstEndpoint;
        line2 = epipolarMatrix * secondEndpoint;

        for (int j = 0; j < numSegments2; ++j) {
            const double* s2 = segments2 + 4 * static_cast<std::ptrdiff_t>(j);
            for (int k = 0; k < 4; ++k) segment.at<double>(k, 0) = s2[k];
            out << (epipolarSegmentTest(segment, line1, line2, ratioThreshold) ? 1 : 0) << " ";
        }
        out << std::endl;
        // A full disk or a vanished device shows up at the flush; stop there
        // rather than compute rows nobody will read.
        if (!out) {
            throw HarvestError("outputFile",
                               std::string("failed writing \"") + kOutputFileName + "\"");
        }
    }

    out.close();
    if (out.fail()) {
        throw HarvestError("outputFile", std::string("failed closing \"") + kOutputFileName + "\"");
    }
}

}  // namespace lineharvest
