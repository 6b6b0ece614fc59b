#include "linematch/evaluation.hpp"

#include "linematch/ground_truth.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>

namespace linematch {

namespace {

// The truth flags in the order of decreasing confidence (stable: ties keep
// the matches' order). NaN would break the sort's ordering, so it ranks as
// the least confident.
std::vector<bool> ranked(const std::vector<bool>& isTrue, const std::vector<double>& confidence) {
    if (isTrue.size() != confidence.size())
        throw std::invalid_argument("ranking " + std::to_string(isTrue.size()) + " matches by " +
                                    std::to_string(confidence.size()) + " confidences");
    std::vector<double> key(confidence);
    for (double& v : key)
        if (std::isnan(v)) v = -std::numeric_limits<double>::infinity();
    std::vector<std::size_t> order(key.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return key[a] > key[b]; });
    std::vector<bool> flags(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) flags[k] = isTrue[order[k]];
    return flags;
}

}  // namespace

GroundTruth::GroundTruth(const std::vector<Segment>& segments1, const std::vector<Segment>& segments2,
                         const cv::Matx33d& homography, double maxDistance, double minOverlap) {
    TruthCriterion criterion;
    criterion.maxDistance = maxDistance;
    criterion.minOverlap = minOverlap;
    for (const SegmentMatch& c : truthPairs(segments1, segments2, homography, criterion))
        pairs_.insert({c.image1Segment, c.image2Segment});
}

Score GroundTruth::score(const std::vector<SegmentMatch>& matches) const {
    std::set<std::pair<int, int>> distinct;
    for (const SegmentMatch& m : matches) distinct.insert({m.image1Segment, m.image2Segment});
    Score s;
    s.matches = static_cast<int>(distinct.size());
    for (const auto& p : distinct) s.correct += pairs_.count(p) ? 1 : 0;
    s.precision = s.matches ? static_cast<double>(s.correct) / s.matches : 0.0;
    s.recall = pairs_.empty() ? 0.0 : static_cast<double>(s.correct) / pairs_.size();
    return s;
}

double averagePrecision(const std::vector<bool>& isTrue, const std::vector<double>& confidence,
                        std::size_t trueCorrespondences) {
    const std::vector<bool> flags = ranked(isTrue, confidence);
    if (trueCorrespondences == 0) return 0.0;
    double sum = 0;
    std::size_t correct = 0;
    for (std::size_t k = 0; k < flags.size(); ++k) {
        if (!flags[k]) continue;
        ++correct;
        sum += static_cast<double>(correct) / static_cast<double>(k + 1);
    }
    return sum / static_cast<double>(trueCorrespondences);
}

double confidentHalfPrecision(const std::vector<bool>& isTrue, const std::vector<double>& confidence) {
    const std::vector<bool> flags = ranked(isTrue, confidence);
    const std::size_t half = (flags.size() + 1) / 2;
    if (half == 0) return 0.0;
    const auto correct = std::count(flags.begin(), flags.begin() + static_cast<std::ptrdiff_t>(half), true);
    return static_cast<double>(correct) / static_cast<double>(half);
}

}  // namespace linematch
