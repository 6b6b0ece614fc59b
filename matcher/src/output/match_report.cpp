#include "linematch/match_report.hpp"

#include "linematch/match_request.hpp"
#include "linematch/matcher_options.hpp"
#include "linematch/result_scores.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace linematch {

namespace {

using Json = nlohmann::ordered_json;

// Figures rounded to the digits the report shows; the JSON library writes
// the shortest text that reads back to the rounded double.
double rounded(double v, int digits) {
    const double scale = std::pow(10.0, digits);
    return std::round(v * scale) / scale;
}

Json scoreJson(const Score& s) {
    return {{"matches", s.matches}, {"correct", s.correct}, {"precision", rounded(s.precision, 4)},
            {"recall", rounded(s.recall, 4)}};
}

// The models the point matches verified; the fundamental matrix itself,
// row by row, only when it was verified.
Json geometryJson(const TwoViewGeometry& g) {
    Json planes = Json::array();
    for (const PlaneModel& p : g.planes)
        planes.push_back({{"inliers", p.inliers.size()}, {"median_residual_px", rounded(p.medianResidual, 4)}});
    const EpipolarModel& e = g.epipolar;
    Json fundamental = {{"verified", e.verified},
                        {"inliers", e.inliers},
                        {"off_plane_inliers", e.offPlaneInliers},
                        {"median_residual_px", rounded(e.medianResidual, 4)}};
    if (e.verified) {
        Json matrix = Json::array();
        for (int k = 0; k < 9; ++k) matrix.push_back(e.fundamental.val[k]);
        fundamental["matrix"] = matrix;
    }
    return {{"planes", planes}, {"fundamental", fundamental}};
}

// Every option of the front ends' table under its Python keyword, written
// from the table so that a new option is reported without a word here,
// after the keys reports have always had (kept for their readers; some
// name a table option a second time) and the transfer's fixed settings.
Json settingsJson(const FrontEndSettings& options) {
    const MatcherSettings& settings = options.matcher;
    Json o = {{"min_segment_length", settings.minSegmentLength},
              {"ratio", settings.descriptor.ratio},
              {"mutual", settings.descriptor.mutual},
              {"neighbour_support", settings.checks.neighbourSupport},
              {"pair_agreement", settings.checks.pairAgreement},
              {"line_refit", settings.checks.lineRefit},
              {"neighbour_verification", settings.verification.enabled},
              {"verify_distance", settings.verification.lineDistance},
              {"one_line", settings.singlePartnerLine},
              {"vote_distance", settings.checks.voteDistance},
              {"min_votes", settings.checks.minVotes},
              {"max_rounds", settings.maxRounds},
              {"distance_threshold", settings.transfer.thresholds.maxLineDistance},
              {"angle_threshold", settings.transfer.thresholds.maxAngleDifference},
              {"overlap_threshold", settings.transfer.thresholds.minOverlapRatio},
              {"pairs_per_segment", settings.transfer.pairsPerSegment}};
    for (const MatcherOption& option : matcherOptions()) {
        const double v = option.get(options);
        switch (option.type) {
        case OptionType::onOff: o[option.key] = v != 0; break;
        case OptionType::whole: o[option.key] = static_cast<long long>(v); break;
        case OptionType::real: o[option.key] = v; break;
        }
    }
    return o;
}

std::vector<SegmentMatch> joined(const std::vector<SegmentMatch>& a, const std::vector<SegmentMatch>& b) {
    std::vector<SegmentMatch> out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

}  // namespace

std::string reportJson(const MatchResult& r, const FrontEndSettings& options, const ReportContext& c) {
    Json o;
    o["status"] = r.status;
    o["image1"] = c.image1;
    o["image2"] = c.image2;
    o["segments"] = {{"image1", r.segments1.size()}, {"image2", r.segments2.size()}};
    o["settings"] = settingsJson(options);
    o["points"] = {{"matches", r.pointMatches},
                   {"verified", r.pointsVerified},
                   {"planes", r.pointPlanes},
                   {"level", r.pointLevel},
                   {"seed_candidates", r.pointSeeds.size()}};
    o["geometry"] = geometryJson(r.geometry);
    o["lbd_sought"] = r.lbdSought;
    Json sources = Json::object();
    for (int k = 0; k < kSeedSources; ++k)
        sources[seedSourceName(static_cast<SeedSource>(k))] = {{"seeds", r.seedsBySource[k]},
                                                               {"kept", r.keptBySource[k]}};
    o["seed_sources"] = sources;
    o["stages"] = {{"descriptor_matches", r.descriptorMatches.size()},
                   {"seeds_kept", r.seeds.size()},
                   {"matches", r.matches.size()}};
    Json rounds = Json::array();
    for (std::size_t k = 0; k < r.rounds.size(); ++k) {
        Json round = {{"round", k + 1}};
        for (const RoundField& f : roundFields()) round[f.name] = r.rounds[k].*f.value;
        rounds.push_back(round);
    }
    o["rounds"] = rounds;
    Json seconds = Json::object();
    for (const StageSeconds& stage : stageSeconds()) seconds[stage.name] = rounded(r.*stage.seconds, 3);
    seconds["total"] = rounded(c.secondsTotal, 3);
    o["seconds"] = seconds;
    if (c.truth) {
        const GroundTruth& t = *c.truth;
        const ResultScores scores = scoreResult(r, t);
        Json truth;
        truth["homography_file"] = c.homographyFile;
        truth["true_correspondences"] = scores.trueCorrespondences;
        truth["descriptor_alone"] = scoreJson(scores.descriptorAlone);
        truth["point_seeds"] = scoreJson(t.score(r.pointSeeds));
        truth["seeds"] = scoreJson(scores.seeds);
        Json perRound = Json::array();
        for (const RoundScores& s : scores.rounds)
            perRound.push_back({{"added", scoreJson(s.added)}, {"so_far", scoreJson(s.soFar)}});
        truth["rounds"] = perRound;
        truth["final"] = scoreJson(scores.final);
        truth["average_precision"] = rounded(scores.averagePrecision, 4);
        truth["confident_half_precision"] = rounded(scores.confidentHalfPrecision, 4);
        if (c.upperBound) {
            const UpperBoundRun& u = *c.upperBound;
            truth["upper_bound_ground_truth_seeds"] = {
                {"note", "seeds drawn from the ground truth: the transfer's upper bound with perfect seeds, not a "
                         "matcher"},
                {"seeds", u.seeds.size()},
                {"pair_records", u.records},
                {"added", scoreJson(t.score(u.added))},
                {"seeds_and_added", scoreJson(t.score(joined(u.seeds, u.added)))}};
        }
        o["ground_truth"] = truth;
    }
    // File names are bytes: one that is not UTF-8 (a Latin-1 name) gets
    // U+FFFD for its bad bytes instead of making the file invalid JSON.
    return o.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string reportText(const MatchResult& r, const MatcherSettings& settings, const ReportContext& c) {
    std::ostringstream o;
    char line[256];
    o << "linematch: " << c.image1 << " -> " << c.image2 << "\n";
    std::snprintf(line, sizeof line, "  segments          %zu in image 1, %zu in image 2\n", r.segments1.size(),
                  r.segments2.size());
    o << line;
    static const char* const levels[] = {"", ", detail level", ", affine-simulated views"};
    std::snprintf(line, sizeof line, "  point matches     %d (%d verified on %d plane%s%s), seed candidates %zu\n",
                  r.pointMatches, r.pointsVerified, r.pointPlanes, r.pointPlanes == 1 ? "" : "s",
                  levels[std::clamp(r.pointLevel, 0, 2)], r.pointSeeds.size());
    o << line;
    const EpipolarModel& epipolar = r.geometry.epipolar;
    std::snprintf(line, sizeof line,
                  "  geometry          %zu plane%s, fundamental matrix %s (%d inliers, %d off the planes)\n",
                  r.geometry.planes.size(), r.geometry.planes.size() == 1 ? "" : "s",
                  epipolar.verified ? "verified" : "not verified", epipolar.inliers, epipolar.offPlaneInliers);
    o << line;
    if (r.lbdSought)
        std::snprintf(line, sizeof line, "  LBD matches       %zu (mutual best match, ratio %.2f)\n",
                      r.descriptorMatches.size(), settings.descriptor.ratio);
    else
        std::snprintf(line, sizeof line, "  LBD matches       not sought (%zu point seeds, LBD below %d)\n",
                      r.pointSeeds.size(), settings.lbdBelow);
    o << line;
    o << "  seeds by source  ";
    for (int k = 0; k < kSeedSources; ++k) {
        std::snprintf(line, sizeof line, " %s %d (kept %d)%s", seedSourceName(static_cast<SeedSource>(k)),
                      r.seedsBySource[k], r.keptBySource[k], k + 1 < kSeedSources ? "," : "\n");
        o << line;
    }
    for (std::size_t k = 0; k < r.rounds.size(); ++k) {
        const RoundSummary& s = r.rounds[k];
        std::snprintf(line, sizeof line,
                      "  round %zu           seeds %d, kept %d, pair records %d, added %d (%d refused), next seeds +%d\n",
                      k + 1, s.seeds, s.keptSeeds, s.records, s.added, s.rejected, s.newSeeds);
        o << line;
    }
    std::snprintf(line, sizeof line, "  matches           %zu (%zu seeds + %zu added)%s\n", r.matches.size(),
                  r.seeds.size(), r.matches.size() - r.seeds.size(),
                  r.status == "ok"           ? ""
                  : r.status == "no_overlap" ? "  -- no overlap: the images' keypoints share no plane, no answer"
                                             : "  -- thin support: no consistent seed and no plane, no answer");
    o << line;
    std::snprintf(line, sizeof line,
                  "  time              %.2f s (segments %.2f, points %.2f, descriptors %.2f, checks %.2f, transfer %.2f)\n",
                  c.secondsTotal, r.secondsSegments, r.secondsPoints, r.secondsDescriptors, r.secondsChecks,
                  r.secondsTransfer);
    o << line;
    if (!c.truth) return o.str();

    const GroundTruth& t = *c.truth;
    o << "\n  scored against " << c.homographyFile << ": " << t.size()
      << " true correspondences (2 px, same direction, overlap 0.5)\n";
    o << "                                        matches  correct  precision  recall\n";
    const auto row = [&](const std::string& label, const Score& s) {
        std::snprintf(line, sizeof line, "  %-38s %7d  %7d  %9.3f  %6.3f\n", label.c_str(), s.matches, s.correct,
                      s.precision, s.recall);
        o << line;
    };
    const ResultScores scores = scoreResult(r, t);
    row("point seed candidates", t.score(r.pointSeeds));
    if (r.lbdSought) row("LBD alone (mutual + ratio)", scores.descriptorAlone);
    row("seeds after the checks", scores.seeds);
    for (std::size_t k = 0; k < scores.rounds.size(); ++k)
        row("  + round " + std::to_string(k + 1) + " (seeds and rounds so far)", scores.rounds[k].soFar);
    row("this matcher", scores.final);
    std::snprintf(line, sizeof line, "  ranked by confidence: average precision %.3f, the more confident half %.3f\n",
                  scores.averagePrecision, scores.confidentHalfPrecision);
    o << line;
    if (c.upperBound) {
        const UpperBoundRun& u = *c.upperBound;
        row("upper bound: ground-truth seeds (*)", t.score(joined(u.seeds, u.added)));
        std::snprintf(line, sizeof line,
                      "  (*) not a matcher: %zu seeds drawn from the ground truth, %d pair records, one transfer;\n"
                      "      its %zu added correspondences alone: precision %.3f\n",
                      u.seeds.size(), u.records, u.added.size(), t.score(u.added).precision);
        o << line;
    }
    return o.str();
}

}  // namespace linematch
