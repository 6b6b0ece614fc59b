#include "geometry.hpp"

#include <cmath>

namespace lineharvest {

namespace {

// Largest |difference| that angleDifference wraps by repeated steps; beyond
// it the difference is first reduced with a remainder so the loops stay short.
constexpr double kMaxLoopedDifference = 1.0e6;
constexpr double kPiBound = 3.1415926535;
constexpr double kTurn = 6.28318530718;

}  // namespace

double dotFrom(const double* a, const double* b, const double* c) {
    return (b[0] - a[0]) * (c[0] - a[0]) + (b[1] - a[1]) * (c[1] - a[1]);
}

double pointDistance(const double* p, const double* q) {
    const double dx = p[0] - q[0];
    const double dy = p[1] - q[1];
    return std::sqrt(dx * dx + dy * dy);
}

void footOfPerpendicular(const double* p, const double* a, const double* b, double* out) {
    const double dx = a[0] - b[0];
    const double dy = a[1] - b[1];
    const double lengthSquared = dx * dx + dy * dy;
    const double fy = ((p[0] - b[0]) * dx * dy + p[1] * dy * dy + b[1] * dx * dx) / lengthSquared;
    // Only meaningful for a line that is neither vertical nor horizontal;
    // the two exact tests below replace it otherwise.
    double fx = (dx * b[0] * dy + dx * dx * (fy - b[1])) / (dx * dy);
    if (a[0] == b[0]) fx = a[0];
    if (a[1] == b[1]) fx = p[0];
    out[0] = fx;
    out[1] = fy;
}

void signedAngleBetween(const double* s, const double* t, double* out) {
    const double ux = s[2] - s[0], uy = s[3] - s[1];
    const double vx = t[2] - t[0], vy = t[3] - t[1];
    *out = std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
}

void lineThroughSegment(const double* segment, double* line) {
    const double x1 = segment[0], y1 = segment[1], x2 = segment[2], y2 = segment[3];
    line[0] = y1 - y2;
    line[1] = x2 - x1;
    line[2] = x1 * y2 - x2 * y1;
}

double angleDifference(double a, double b) {
    double d = a - b;
    if (std::isinf(d)) return std::nan("");
    if (std::fabs(d) > kMaxLoopedDifference) d = std::fmod(d, kTurn);
    while (d <= -kPiBound) d += kTurn;
    while (d > kPiBound) d -= kTurn;
    return d >= 0 ? d : -d;
}

double segmentDistance(const double* p1, const double* p2, const double* q1, const double* q2) {
    const double ux = p1[0] - p2[0], uy = p1[1] - p2[1];
    const double vx = q1[0] - q2[0], vy = q1[1] - q2[1];
    const double wx = p2[0] - q2[0], wy = p2[1] - q2[1];
    const double a = ux * ux + uy * uy;
    const double b = ux * vx + uy * vy;
    const double c = vx * vx + vy * vy;
    const double d = ux * wx + uy * wy;
    const double e = vx * wx + vy * wy;
    const double D = a * c - b * b;
    double sN, sD = D, tN, tD = D;

    if (D < 1e-8) {  // parallel, or a segment of zero length
        sN = 0.0;
        sD = 1.0;
        tN = e;
        tD = c;
    } else {
        sN = b * e - c * d;
        tN = a * e - b * d;
        if (sN < 0.0) {
            sN = 0.0;
            tN = e;
            tD = c;
        } else if (sN > sD) {
            sN = sD;
            tN = e + b;
            tD = c;
        }
    }

    if (tN < 0.0) {
        tN = 0.0;
        if (-d < 0.0) {
            sN = 0.0;
        } else if (-d > a) {
            sN = sD;
        } else {
            sN = -d;
            sD = a;
        }
    } else if (tN > tD) {
        tN = tD;
        if (-d + b < 0.0) {
            sN = 0.0;
        } else if (-d + b > a) {
            sN = sD;
        } else {
            sN = -d + b;
            sD = a;
        }
    }

    const double sc = std::fabs(sN) < 1e-8 ? 0.0 : sN / sD;
    const double tc = std::fabs(tN) < 1e-8 ? 0.0 : tN / tD;
    const double r[2] = {std::fabs(wx + sc * ux - tc * vx), std::fabs(wy + sc * uy - tc * vy)};

    // Two-term norm scaled by the larger term, free of overflow and underflow.
    double scale = 2.2250738585072014e-308;
    double sum = 0.0;
    for (double term : r) {
        if (term > scale) {
            const double ratio = scale / term;
            sum = 1.0 + sum * (ratio * ratio);
            scale = term;
        } else {
            const double ratio = term / scale;
            sum += ratio * ratio;
        }
    }
    return scale * std::sqrt(sum);
}

}  // namespace lineharvest
