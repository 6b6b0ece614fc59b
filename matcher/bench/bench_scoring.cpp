#include "bench_scoring.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <numeric>
#include <set>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace linematch::bench {

namespace {

bool blank(const std::string& line) { return line.find_first_not_of(" \t\r") == std::string::npos; }

std::runtime_error lineError(const std::string& path, int number, const std::string& what) {
    return std::runtime_error(path + ":" + std::to_string(number) + ": " + what);
}

}  // namespace

std::vector<SegmentMatch> readMatchList(const std::string& path, std::size_t count1, std::size_t count2) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<SegmentMatch> matches;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (blank(line)) continue;
        std::istringstream fields(line);
        long i = -1, w = -1;
        std::string rest;
        if (!(fields >> i >> w) || (fields >> rest)) throw lineError(path, number, "expected two indices");
        if (i < 0 || w < 0 || static_cast<std::size_t>(i) >= count1 || static_cast<std::size_t>(w) >= count2)
            throw lineError(path, number, "index outside the segment files");
        matches.push_back({static_cast<int>(i), static_cast<int>(w)});
    }
    if (in.bad()) throw std::runtime_error("cannot read " + path);
    return matches;
}

std::vector<double> readConfidenceList(const std::string& path, std::size_t expectedCount) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<double> confidence;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (blank(line)) continue;
        std::istringstream fields(line);
        double c = 0;
        std::string rest;
        if (!(fields >> c) || (fields >> rest) || !(c >= 0 && c <= 1))
            throw lineError(path, number, "expected one number in [0, 1]");
        confidence.push_back(c);
    }
    if (in.bad()) throw std::runtime_error("cannot read " + path);
    if (confidence.size() != expectedCount)
        throw std::runtime_error(path + ": " + std::to_string(confidence.size()) + " confidences for " +
                                 std::to_string(expectedCount) + " matches");
    return confidence;
}

RankedScore rankedScore(const std::vector<SegmentMatch>& matches, const std::vector<double>& confidence,
                        const std::function<bool(const SegmentMatch&)>& isTrue, std::size_t trueCount,
                        const std::function<bool(const SegmentMatch&)>& judged) {
    if (confidence.size() != matches.size())
        throw std::invalid_argument("rankedScore: one confidence per match is needed");
    std::vector<std::size_t> order(matches.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return confidence[a] > confidence[b]; });

    std::vector<char> correct;  // per rank
    std::set<std::pair<int, int>> seen;
    for (std::size_t k : order) {
        const SegmentMatch& m = matches[k];
        if (!seen.insert({m.image1Segment, m.image2Segment}).second) continue;
        if (judged && !judged(m)) continue;
        correct.push_back(isTrue(m) ? 1 : 0);
    }

    RankedScore s;
    s.ranked = static_cast<int>(correct.size());
    int hits = 0;
    double sum = 0;
    for (std::size_t k = 0; k < correct.size(); ++k) {
        if (!correct[k]) continue;
        ++hits;
        sum += static_cast<double>(hits) / static_cast<double>(k + 1);
    }
    s.averagePrecision = trueCount ? sum / static_cast<double>(trueCount) : 0.0;
    const std::size_t half = (correct.size() + 1) / 2;
    s.confidentHalfPrecision =
        half ? static_cast<double>(std::count(correct.begin(), correct.begin() + static_cast<long>(half), 1)) /
                   static_cast<double>(half)
             : std::numeric_limits<double>::quiet_NaN();
    return s;
}

std::string formatScore(double value) {
    if (std::isnan(value)) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

}  // namespace linematch::bench
