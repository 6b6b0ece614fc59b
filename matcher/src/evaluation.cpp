#include "linematch/evaluation.hpp"

#include "linematch/ground_truth.hpp"

namespace linematch {

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

}  // namespace linematch
