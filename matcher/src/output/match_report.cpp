#include "linematch/match_report.hpp"

#include "linematch/match_request.hpp"
#include "linematch/matcher_options.hpp"
#include "linematch/result_description.hpp"
#include "linematch/result_scores.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <vector>

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

// report.json's side of the result description (result_description.hpp):
// names as described (or the report's own where a field gives one),
// figures to the field's decimals, a matrix as its values row by row, and
// a record's matrices after its other fields, so that its figures read
// first. Fields absent or not shown in the report are left out.
bool inReportJson(const ResultField& f) { return (f.shownIn & inReport) && f.present; }

std::string reportKey(const ResultField& f) { return f.reportName ? f.reportName : f.name; }

Json fieldJson(const ResultField& f) {
    using Kind = ResultField::Kind;
    switch (f.kind) {
    case Kind::number: return f.reportDigits < 0 ? f.number : rounded(f.number, f.reportDigits);
    case Kind::count: return static_cast<long long>(f.number);
    case Kind::flag: return f.number != 0;
    case Kind::text: return f.text;
    case Kind::matrix:
    case Kind::values: {
        Json values = Json::array();
        for (double v : f.values) values.push_back(f.reportDigits < 0 ? v : rounded(v, f.reportDigits));
        return values;
    }
    case Kind::pairs: {
        Json pairs = Json::array();
        for (std::size_t k = 0; k + 1 < f.values.size(); k += 2)
            pairs.push_back({static_cast<long long>(f.values[k]), static_cast<long long>(f.values[k + 1])});
        return pairs;
    }
    case Kind::record: {
        Json record = Json::object();
        for (const bool matrices : {false, true})
            for (const ResultField& field : f.fields)
                if (inReportJson(field) && (field.kind == Kind::matrix) == matrices)
                    record[reportKey(field)] = fieldJson(field);
        return record;
    }
    case Kind::list: {
        Json items = Json::array();
        for (const ResultField& item : f.fields) items.push_back(fieldJson(item));
        return items;
    }
    }
    return nullptr;
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

std::string reportJson(const MatchOutcome& outcome, const FrontEndSettings& options, const ReportContext& c) {
    const ResultField described = describeResult(outcome);
    Json o;
    // The report's own layout of the result's fields, around what only the
    // run knows (the file names, the settings, the total time); the fields
    // it does not place follow in the description's order, the scores last.
    std::vector<const ResultField*> placed;
    const auto place = [&](const char* name) {
        const ResultField* f = described.find(name);
        if (!f) throw std::logic_error(std::string("the result has no field ") + name);
        if (inReportJson(*f)) o[reportKey(*f)] = fieldJson(*f);
        placed.push_back(f);
    };
    place("status");
    o["image1"] = c.image1;
    o["image2"] = c.image2;
    place("segments");
    o["settings"] = settingsJson(options);
    for (const char* name : {"points", "geometry", "lbd_sought", "seed_sources", "stages", "rounds", "seconds"})
        place(name);
    o["seconds"]["total"] = rounded(c.secondsTotal, 3);
    for (const ResultField& f : described.fields)
        if (inReportJson(f) && std::find(placed.begin(), placed.end(), &f) == placed.end())
            o[reportKey(f)] = fieldJson(f);
    if (o.contains("ground_truth")) {
        // The scores with the file they were made from first and the
        // ground-truth-seeded comparison last.
        Json truth = {{"homography_file", c.homographyFile}};
        for (auto& [key, value] : o["ground_truth"].items()) truth[key] = value;
        if (c.upperBound && c.truth) {
            const GroundTruth& t = *c.truth;
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

std::string reportText(const MatchOutcome& outcome, const MatcherSettings& settings, const ReportContext& c) {
    const MatchResult& r = outcome.result;
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
    if (!outcome.scores) return o.str();

    const ResultScores& scores = *outcome.scores;
    o << "\n  scored against " << c.homographyFile << ": " << scores.trueCorrespondences
      << " true correspondences (2 px, same direction, overlap 0.5)\n";
    o << "                                        matches  correct  precision  recall\n";
    const auto row = [&](const std::string& label, const Score& s) {
        std::snprintf(line, sizeof line, "  %-38s %7d  %7d  %9.3f  %6.3f\n", label.c_str(), s.matches, s.correct,
                      s.precision, s.recall);
        o << line;
    };
    row("point seed candidates", scores.pointSeeds);
    if (r.lbdSought) row("LBD alone (mutual + ratio)", scores.descriptorAlone);
    row("seeds after the checks", scores.seeds);
    for (std::size_t k = 0; k < scores.rounds.size(); ++k)
        row("  + round " + std::to_string(k + 1) + " (seeds and rounds so far)", scores.rounds[k].soFar);
    row("this matcher", scores.final);
    std::snprintf(line, sizeof line, "  ranked by confidence: average precision %.3f, the more confident half %.3f\n",
                  scores.averagePrecision, scores.confidentHalfPrecision);
    o << line;
    if (c.upperBound && c.truth) {
        const GroundTruth& t = *c.truth;
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
