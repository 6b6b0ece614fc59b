#include "mat_geometry.hpp"

#include "epipolar_pair.hpp"
#include "geometry.hpp"
#include "segment_match.hpp"

#include <cmath>

namespace reference {

namespace {

double element(const cv::Mat& column, int i) { return column.at<double>(i, 0); }

}  // namespace

double pointLineDistance(cv::Mat line, cv::Mat point) {
    const double a = element(line, 0), b = element(line, 1), c = element(line, 2);
    const double x = element(point, 0), y = element(point, 1);
    return std::fabs(a * x + b * y + c) / std::sqrt(a * a + b * b);
}

void homogeneousEndpoints(const double* segment, cv::Mat& first, cv::Mat& second) {
    first.at<double>(0, 0) = segment[0];
    first.at<double>(1, 0) = segment[1];
    first.at<double>(2, 0) = 1.0;
    second.at<double>(0, 0) = segment[2];
    second.at<double>(1, 0) = segment[3];
    second.at<double>(2, 0) = 1.0;
}

void lineThroughSegment(cv::Mat segment, cv::Mat& line) {
    const double s[4] = {element(segment, 0), element(segment, 1), element(segment, 2), element(segment, 3)};
    double l[3];
    lineharvest::lineThroughSegment(s, l);
    for (int k = 0; k < 3; ++k) line.at<double>(k, 0) = l[k];
}

cv::Mat skewMatrix(cv::Mat v) {
    cv::Mat m = cv::Mat::zeros(3, 3, CV_64F);
    const double v0 = element(v, 0), v1 = element(v, 1), v2 = element(v, 2);
    m.at<double>(0, 1) = -v2;
    m.at<double>(0, 2) = v1;
    m.at<double>(1, 0) = v2;
    m.at<double>(1, 2) = -v0;
    m.at<double>(2, 0) = -v1;
    m.at<double>(2, 1) = v0;
    return m;
}

bool isSegmentMatch(cv::Mat firstMapped, cv::Mat secondMapped, cv::Mat candidateSegment,
                    cv::Mat candidateLine, double maxLineDistance, double maxAngleDifference,
                    double minOverlapRatio, double* meanDistance) {
    const double mapped[4] = {firstMapped.at<double>(0, 0), firstMapped.at<double>(1, 0),
                              secondMapped.at<double>(0, 0), secondMapped.at<double>(1, 0)};
    const double line[3] = {candidateLine.at<double>(0, 0), candidateLine.at<double>(1, 0),
                            candidateLine.at<double>(2, 0)};
    return lineharvest::isSegmentMatch(mapped, candidateSegment.ptr<double>(), line,
                          lineharvest::Thresholds{maxLineDistance, maxAngleDifference, minOverlapRatio}, meanDistance);
}

bool epipolarSegmentTest(cv::Mat segment, cv::Mat line1, cv::Mat line2, double ratioThreshold) {
    CV_Assert(segment.type() == CV_64F && segment.rows == 4 && segment.cols == 1);
    CV_Assert(line1.type() == CV_64F && line1.rows == 3 && line1.cols == 1);
    CV_Assert(line2.type() == CV_64F && line2.rows == 3 && line2.cols == 1);
    // Read by element so that a column taken out of a wider matrix works as
    // well as a continuous one.
    double s[4], l1[3], l2[3], line[3];
    for (int k = 0; k < 4; ++k) s[k] = segment.at<double>(k, 0);
    for (int k = 0; k < 3; ++k) l1[k] = line1.at<double>(k, 0);
    for (int k = 0; k < 3; ++k) l2[k] = line2.at<double>(k, 0);
    lineharvest::lineThroughSegment(s, line);
    return lineharvest::epipolarSegmentTest(s, line, l1, l2, ratioThreshold);
}

}  // namespace reference
