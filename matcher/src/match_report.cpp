#include "linematch/match_report.hpp"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace linematch {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string fixed(double v, int digits) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", digits, v);
    return buffer;
}

std::string scoreJson(const Score& s) {
    return "{\"matches\": " + std::to_string(s.matches) + ", \"correct\": " + std::to_string(s.correct) +
           ", \"precision\": " + fixed(s.precision, 4) + ", \"recall\": " + fixed(s.recall, 4) + "}";
}

std::vector<SegmentMatch> joined(const std::vector<SegmentMatch>& a, const std::vector<SegmentMatch>& b) {
    std::vector<SegmentMatch> out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

// Seeds plus the additions of rounds 0..round.
std::vector<SegmentMatch> cumulative(const MatchResult& r, std::size_t round) {
    std::vector<SegmentMatch> out = r.seeds;
    for (std::size_t k = 0; k <= round && k < r.roundMatches.size(); ++k)
        out.insert(out.end(), r.roundMatches[k].begin(), r.roundMatches[k].end());
    return out;
}

}  // namespace

std::string reportJson(const MatchResult& r, const MatcherSettings& settings, const ReportContext& c) {
    std::ostringstream o;
    o << "{\n";
    o << "  \"status\": " << quoted(r.status) << ",\n";
    o << "  \"image1\": " << quoted(c.image1) << ",\n";
    o << "  \"image2\": " << quoted(c.image2) << ",\n";
    o << "  \"segments\": {\"image1\": " << r.segments1.size() << ", \"image2\": " << r.segments2.size() << "},\n";
    o << "  \"settings\": {\"min_segment_length\": " << settings.minSegmentLength
      << ", \"ratio\": " << settings.descriptor.ratio << ", \"mutual\": " << (settings.descriptor.mutual ? "true" : "false")
      << ", \"neighbour_support\": " << (settings.checks.neighbourSupport ? "true" : "false")
      << ", \"pair_agreement\": " << (settings.checks.pairAgreement ? "true" : "false")
      << ", \"line_refit\": " << (settings.checks.lineRefit ? "true" : "false")
      << ", \"neighbour_verification\": " << (settings.verification.enabled ? "true" : "false")
      << ", \"vote_distance\": " << settings.checks.voteDistance << ", \"min_votes\": " << settings.checks.minVotes
      << ", \"max_rounds\": " << settings.maxRounds
      << ", \"distance_threshold\": " << settings.transfer.thresholds.maxLineDistance
      << ", \"angle_threshold\": " << settings.transfer.thresholds.maxAngleDifference
      << ", \"overlap_threshold\": " << settings.transfer.thresholds.minOverlapRatio
      << ", \"pairs_per_segment\": " << settings.transfer.pairsPerSegment << "},\n";
    o << "  \"points\": {\"matches\": " << r.pointMatches << ", \"verified\": " << r.pointsVerified
      << ", \"planes\": " << r.pointPlanes << ", \"level\": " << r.pointLevel
      << ", \"seed_candidates\": " << r.pointSeeds.size() << "},\n";
    o << "  \"lbd_sought\": " << (r.lbdSought ? "true" : "false") << ",\n";
    o << "  \"seed_sources\": {";
    for (int k = 0; k < kSeedSources; ++k)
        o << (k ? ", " : "") << quoted(seedSourceName(static_cast<SeedSource>(k))) << ": {\"seeds\": " << r.seedsBySource[k]
          << ", \"kept\": " << r.keptBySource[k] << "}";
    o << "},\n";
    o << "  \"stages\": {\"descriptor_matches\": " << r.descriptorMatches.size() << ", \"seeds_kept\": " << r.seeds.size()
      << ", \"matches\": " << r.matches.size() << "},\n";
    o << "  \"rounds\": [";
    for (std::size_t k = 0; k < r.rounds.size(); ++k) {
        const RoundSummary& s = r.rounds[k];
        o << (k ? ",\n" : "\n") << "    {\"round\": " << k + 1 << ", \"seeds\": " << s.seeds
          << ", \"seeds_kept\": " << s.keptSeeds << ", \"pair_records\": " << s.records
           << ", \"transferred\": " << s.transferred << ", \"rejected\": " << s.rejected << ", \"added\": " << s.added << ", \"new_seeds\": " << s.newSeeds;
        o << "}";
    }
    o << (r.rounds.empty() ? "],\n" : "\n  ],\n");
    o << "  \"seconds\": {\"segments\": " << fixed(r.secondsSegments, 3) << ", \"points\": "
      << fixed(r.secondsPoints, 3) << ", \"descriptors\": "
      << fixed(r.secondsDescriptors, 3) << ", \"seed_checks\": " << fixed(r.secondsChecks, 3)
      << ", \"transfer\": " << fixed(r.secondsTransfer, 3) << ", \"total\": " << fixed(c.secondsTotal, 3) << "}";
    if (c.truth) {
        const GroundTruth& t = *c.truth;
        o << ",\n  \"ground_truth\": {\n";
        o << "    \"homography_file\": " << quoted(c.homographyFile) << ",\n";
        o << "    \"true_correspondences\": " << t.size() << ",\n";
        o << "    \"descriptor_alone\": " << scoreJson(t.score(r.descriptorMatches)) << ",\n";
        o << "    \"point_seeds\": " << scoreJson(t.score(r.pointSeeds)) << ",\n";
        o << "    \"seeds\": " << scoreJson(t.score(r.seeds)) << ",\n";
        o << "    \"rounds\": [";
        for (std::size_t k = 0; k < r.roundMatches.size(); ++k)
            o << (k ? ", " : "") << "{\"added\": " << scoreJson(t.score(r.roundMatches[k]))
              << ", \"so_far\": " << scoreJson(t.score(cumulative(r, k))) << "}";
        o << "],\n";
        o << "    \"final\": " << scoreJson(t.score(r.matches));
        if (c.upperBound) {
            const UpperBoundRun& u = *c.upperBound;
            o << ",\n    \"upper_bound_ground_truth_seeds\": {\"note\": "
              << quoted("seeds drawn from the ground truth: the transfer's upper bound with perfect seeds, not a "
                        "matcher")
              << ", \"seeds\": " << u.seeds.size() << ", \"pair_records\": " << u.records
              << ", \"added\": " << scoreJson(t.score(u.added))
              << ", \"seeds_and_added\": " << scoreJson(t.score(joined(u.seeds, u.added))) << "}";
        }
        o << "\n  }";
    }
    o << "\n}\n";
    return o.str();
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
                  r.status == "ok" ? "" : "  -- thin support: too few consistent seeds, no answer");
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
    row("point seed candidates", t.score(r.pointSeeds));
    if (r.lbdSought) row("LBD alone (mutual + ratio)", t.score(r.descriptorMatches));
    row("seeds after the checks", t.score(r.seeds));
    for (std::size_t k = 0; k < r.roundMatches.size(); ++k)
        row("  + round " + std::to_string(k + 1) + " (seeds and rounds so far)", t.score(cumulative(r, k)));
    row("this matcher", t.score(r.matches));
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
