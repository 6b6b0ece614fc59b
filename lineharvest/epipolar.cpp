#include "lineharvest/epipolar.hpp"

#include "epipolar_pair.hpp"
#include "geometry.hpp"
#include "lineharvest/errors.hpp"

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <ostream>
#include <stdexcept>
#include <string>

namespace lineharvest {

namespace {

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

// Crossing point of two homogeneous lines, scaled to w = 1, in the operation
// order of OpenCV's Mat::cross followed by a division of the Mat by its third
// element: the division multiplies by the reciprocal and adds 0, which turns
// -0 into +0. For parallel lines w is 0 and the components become infinite or
// NaN on purpose; the caller's comparisons reject them.
void epipolarCrossing(const double* a, const double* b, double* point) {
    const double x = a[1] * b[2] - a[2] * b[1];
    const double y = a[2] * b[0] - a[0] * b[2];
    const double w = a[0] * b[1] - a[1] * b[0];
    const double scale = 1.0 / w;
    point[0] = x * scale + 0.0;
    point[1] = y * scale + 0.0;
}

// Each row summed from left to right into an accumulator that starts at +0,
// as OpenCV's product does (so a row that sums to -0 gives +0).
void epipolarLine(const double* matrix, double x, double y, double* line) {
    for (int r = 0; r < 3; ++r) {
        const double* row = matrix + 3 * r;
        double sum = 0.0;
        sum += row[0] * x;
        sum += row[1] * y;
        sum += row[2] * 1.0;
        line[r] = sum;
    }
}

bool epipolarSegmentTest(const double* segment, const double* segmentLine, const double* line1,
                         const double* line2, double ratioThreshold) {
    double c1[2], c2[2];
    epipolarCrossing(segmentLine, line1, c1);
    epipolarCrossing(segmentLine, line2, c2);
    const double* p1 = segment;
    const double* p2 = segment + 2;

    // All four points lie on the segment's line, so a non-positive dot product
    // means "between the crossing points, ends included"; NaN fails both ways.
    const bool inside1 = dotFrom(p1, c1, c2) <= 0;
    const bool inside2 = dotFrom(p2, c1, c2) <= 0;

    if (inside1 && inside2) return true;

    if (!inside1 && !inside2) {
        const double side1 = (line1[0] * p1[0] + line1[1] * p1[1]) + line1[2];
        const double side2 = (line1[0] * p2[0] + line1[1] * p2[1]) + line1[2];
        // Both endpoints beyond the same end of the band: nothing overlaps.
        if (side1 * side2 > 0) return false;
        const double ratio = pointDistance(p1, p2) / pointDistance(c1, c2);
        return ratioThreshold > ratio;
    }

    const double ratio = inside1 ? outsideShare(p2, c1, c2, p1, p2) : outsideShare(p1, c1, c2, p1, p2);
    return ratioThreshold > ratio;
}

std::vector<std::uint8_t> epipolarCandidates(SegmentArray segments1, SegmentArray segments2,
                                             const double* epipolarMatrix, double ratioThreshold) {
    if (segments1.count < 0 || segments2.count < 0) {
        throw HarvestError(ErrorKind::badCount, "epipolar screen: negative segment count (" +
                                                    std::to_string(segments1.count) + ", " +
                                                    std::to_string(segments2.count) + ")");
    }
    if (std::isnan(ratioThreshold)) {
        throw HarvestError(ErrorKind::badScalar, "epipolar screen: the ratio threshold must not be NaN");
    }
    const std::size_t n1 = static_cast<std::size_t>(segments1.count);
    const std::size_t n2 = static_cast<std::size_t>(segments2.count);
    std::vector<std::uint8_t> matrix(n1 * n2);

    // Each image-2 segment's own line serves every row.
    std::vector<double> segmentLines(3 * n2);
    for (std::size_t w = 0; w < n2; ++w) lineThroughSegment(segments2.data + 4 * w, &segmentLines[3 * w]);

    for (std::size_t i = 0; i < n1; ++i) {
        const double* s1 = segments1.data + 4 * i;
        double line1[3], line2[3];
        epipolarLine(epipolarMatrix, s1[0], s1[1], line1);
        epipolarLine(epipolarMatrix, s1[2], s1[3], line2);
        std::uint8_t* row = matrix.data() + i * n2;
        for (std::size_t w = 0; w < n2; ++w) {
            row[w] = epipolarSegmentTest(segments2.data + 4 * w, &segmentLines[3 * w], line1, line2,
                                         ratioThreshold)
                         ? 1
                         : 0;
        }
    }
    return matrix;
}

void writeEpipolarCandidates(std::ostream& out, const std::vector<std::uint8_t>& matrix, int numRows,
                             int numColumns) {
    if (numRows < 0 || numColumns < 0 ||
        matrix.size() != static_cast<std::size_t>(numRows) * static_cast<std::size_t>(numColumns)) {
        throw std::invalid_argument("writeEpipolarCandidates: the matrix does not hold numRows x numColumns entries");
    }
    const std::size_t columns = static_cast<std::size_t>(numColumns);
    std::string line;
    line.reserve(2 * columns + 1);
    for (int i = 0; i < numRows; ++i) {
        line.clear();
        const std::uint8_t* row = matrix.data() + static_cast<std::size_t>(i) * columns;
        for (std::size_t w = 0; w < columns; ++w) {
            line += row[w] ? '1' : '0';
            line += ' ';
        }
        line += '\n';
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
        if (!out) return;
    }
}

void writeEpipolarCandidates(const std::string& path, const std::vector<std::uint8_t>& matrix, int numRows,
                             int numColumns) {
    errno = 0;
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    if (!out.is_open()) {
        throw HarvestError(ErrorKind::outputFile, "cannot open \"" + path + "\" for writing" + describeErrno(errno));
    }
    writeEpipolarCandidates(out, matrix, numRows, numColumns);
    out.close();
    // A full disk or a vanished device shows up at a flush or the close.
    if (out.fail()) {
        throw HarvestError(ErrorKind::outputFile, "failed writing \"" + path + "\"" + describeErrno(errno));
    }
}

}  // namespace lineharvest
