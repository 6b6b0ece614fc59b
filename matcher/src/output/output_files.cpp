#include "linematch/output_files.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace linematch {

namespace {

std::string coordinate(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3f", v);
    if (std::strtod(buffer, nullptr) != v) std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

void finish(std::ofstream& out, const std::string& path) {
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

std::string segmentFileText(const std::vector<Segment>& segments) {
    std::string out;
    for (const Segment& s : segments)
        out += coordinate(s[0]) + ' ' + coordinate(s[1]) + ' ' + coordinate(s[2]) + ' ' + coordinate(s[3]) + '\n';
    return out;
}

std::string matchFileText(const std::vector<SegmentMatch>& matches) {
    std::string out;
    for (const SegmentMatch& m : matches)
        out += std::to_string(m.image1Segment) + ' ' + std::to_string(m.image2Segment) + '\n';
    return out;
}

std::string confidenceFileText(const std::vector<double>& confidence) {
    std::string out;
    char buffer[64];
    for (double v : confidence) {
        std::snprintf(buffer, sizeof buffer, "%.4f\n", v);
        out += buffer;
    }
    return out;
}

void writeSegmentFile(const std::string& path, const std::vector<Segment>& segments) {
    std::ofstream out(path);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << segmentFileText(segments);
    finish(out, path);
}

void writeMatchFile(const std::string& path, const std::vector<SegmentMatch>& matches) {
    std::ofstream out(path);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << matchFileText(matches);
    finish(out, path);
}

std::vector<Segment> readSegmentFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<Segment> segments;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        std::istringstream fields(line);
        Segment s;
        std::string rest;
        if (!(fields >> s[0] >> s[1] >> s[2] >> s[3]) || (fields >> rest) || !std::isfinite(s[0]) ||
            !std::isfinite(s[1]) || !std::isfinite(s[2]) || !std::isfinite(s[3]))
            throw std::runtime_error(path + ":" + std::to_string(number) + ": expected four finite numbers");
        segments.push_back(s);
    }
    if (in.bad()) throw std::runtime_error("cannot read " + path);
    return segments;
}

}  // namespace linematch
