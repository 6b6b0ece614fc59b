#include "linematch/result_description.hpp"

#include "linematch/seed_sources.hpp"

#include <cctype>
#include <utility>

namespace linematch {

namespace {

using Kind = ResultField::Kind;

// A field of this name and kind, its value still to be filled in.
ResultField field(const char* name, Kind kind) {
    ResultField f;
    f.name = name;
    f.kind = kind;
    return f;
}

// A table of rows x columns numbers, row by row.
ResultField table(const char* name, Kind kind, int rows, int columns) {
    ResultField f = field(name, kind);
    f.rows = rows;
    f.columns = columns;
    f.values.reserve(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
    return f;
}

ResultField scalar(const char* name, Kind kind, double value, int reportDigits = -1) {
    ResultField f = field(name, kind);
    f.number = value;
    f.reportDigits = reportDigits;
    return f;
}
ResultField number(const char* name, double value, int reportDigits = -1) {
    return scalar(name, Kind::number, value, reportDigits);
}
ResultField count(const char* name, double value) { return scalar(name, Kind::count, value); }
ResultField flag(const char* name, bool value) { return scalar(name, Kind::flag, value ? 1 : 0); }

ResultField text(const char* name, std::string value) {
    ResultField f = field(name, Kind::text);
    f.text = std::move(value);
    return f;
}

ResultField matrix3(const char* name, const cv::Matx33d& m, bool present = true) {
    ResultField f = table(name, Kind::matrix, 3, 3);
    f.present = present;
    if (present) f.values.assign(m.val, m.val + 9);
    return f;
}

ResultField pairs(const char* name, const std::vector<SegmentMatch>& matches) {
    ResultField f = table(name, Kind::pairs, static_cast<int>(matches.size()), 2);
    for (const SegmentMatch& m : matches) {
        f.values.push_back(m.image1Segment);
        f.values.push_back(m.image2Segment);
    }
    return f;
}

ResultField values(const char* name, const std::vector<double>& list) {
    ResultField f = table(name, Kind::values, static_cast<int>(list.size()), 1);
    f.values = list;
    return f;
}

ResultField segmentRows(const char* name, const std::vector<Segment>& segments) {
    ResultField f = table(name, Kind::matrix, static_cast<int>(segments.size()), 4);
    for (const Segment& s : segments) f.values.insert(f.values.end(), s.begin(), s.end());
    return f;
}

ResultField record(const char* name, std::vector<ResultField> fields, bool row = false) {
    ResultField f = field(name, Kind::record);
    f.fields = std::move(fields);
    f.row = row;
    return f;
}

ResultField list(const char* name, std::vector<ResultField> items, ResultField shape) {
    ResultField f = field(name, Kind::list);
    f.fields = std::move(items);
    f.itemShape.push_back(std::move(shape));
    return f;
}

ResultField shownIn(ResultField f, unsigned frontEnds) {
    f.shownIn = frontEnds;
    return f;
}

ResultField renamed(ResultField f, const char* reportName, const char* mexName) {
    f.reportName = reportName;
    f.mexName = mexName;
    return f;
}

// matches, correct, precision, recall: a row of four in the MEX.
ResultField scoreRecord(const char* name, const Score& s) {
    return record(name,
                  {count("matches", s.matches), count("correct", s.correct), number("precision", s.precision, 4),
                   number("recall", s.recall, 4)},
                  true);
}

// One round's figures (roundFields' order); the report numbers its rounds
// from 1.
ResultField roundRecord(const RoundSummary& s, int round) {
    std::vector<ResultField> fields{shownIn(count("round", round), inReport)};
    for (const RoundField& f : roundFields()) fields.push_back(count(f.name, s.*f.value));
    return record("", std::move(fields), true);
}

ResultField roundScoreRecord(const RoundScores& s) {
    // The MEX has long had the running totals alone, one row per round.
    return record("", {shownIn(scoreRecord("added", s.added), inReport | inPython), scoreRecord("so_far", s.soFar)},
                  true);
}

// A plane: its homography (not in the report, which keeps to figures),
// its inlier count (the point matches it would index are not returned)
// and how closely it fits them.
ResultField planeRecord(const PlaneModel& p) {
    return record("", {renamed(shownIn(matrix3("homography", p.homography), inMex | inPython), nullptr, "H"),
                       count("inliers", static_cast<double>(p.inliers.size())),
                       renamed(number("median_residual", p.medianResidual, 4), "median_residual_px", nullptr)});
}

ResultField geometryRecord(const TwoViewGeometry& g) {
    std::vector<ResultField> planes;
    for (const PlaneModel& p : g.planes) planes.push_back(planeRecord(p));
    const EpipolarModel& e = g.epipolar;
    ResultField fundamental =
        record("fundamental", {flag("verified", e.verified),
                               renamed(matrix3("matrix", e.fundamental, e.verified), nullptr, "F"),
                               count("inliers", e.inliers), count("off_plane_inliers", e.offPlaneInliers),
                               renamed(number("median_residual", e.medianResidual, 4), "median_residual_px", nullptr)});
    return record("geometry", {list("planes", std::move(planes), planeRecord(PlaneModel{})), std::move(fundamental)});
}

ResultField scoresRecord(const ResultScores* scores) {
    const ResultScores s = scores ? *scores : ResultScores{};
    std::vector<ResultField> rounds;
    for (const RoundScores& r : s.rounds) rounds.push_back(roundScoreRecord(r));
    ResultField f = record("scores", {count("true_correspondences", static_cast<double>(s.trueCorrespondences)),
                                      scoreRecord("descriptor_alone", s.descriptorAlone),
                                      scoreRecord("point_seeds", s.pointSeeds), scoreRecord("seeds", s.seeds),
                                      list("rounds", std::move(rounds), roundScoreRecord(RoundScores{})),
                                      scoreRecord("final", s.final),
                                      number("average_precision", s.averagePrecision, 4),
                                      number("confident_half_precision", s.confidentHalfPrecision, 4)});
    f.present = scores != nullptr;
    return renamed(std::move(f), "ground_truth", "score");
}

}  // namespace

const ResultField* ResultField::find(const std::string& fieldName) const {
    for (const ResultField& f : fields)
        if (f.name == fieldName) return &f;
    return nullptr;
}

ResultField describeResult(const MatchResult& r, const ResultScores* scores) {
    constexpr unsigned arrays = inMex | inPython;
    std::vector<ResultField> fields;
    fields.push_back(shownIn(pairs("descriptor_matches", r.descriptorMatches), arrays));
    fields.push_back(shownIn(pairs("seeds", r.seeds), arrays));
    std::vector<ResultField> rounds;
    for (std::size_t k = 0; k < r.rounds.size(); ++k) rounds.push_back(roundRecord(r.rounds[k], static_cast<int>(k + 1)));
    fields.push_back(list("rounds", std::move(rounds), roundRecord(RoundSummary{}, 0)));
    std::vector<ResultField> seconds;
    for (const StageSeconds& stage : stageSeconds()) seconds.push_back(number(stage.name, r.*stage.seconds, 3));
    fields.push_back(record("seconds", std::move(seconds), true));
    fields.push_back(shownIn(values("confidence", r.confidence), arrays));
    fields.push_back(geometryRecord(r.geometry));
    fields.push_back(text("status", r.status));
    std::vector<ResultField> sources;
    for (int k = 0; k < kSeedSources; ++k)
        sources.push_back(record(seedSourceName(static_cast<SeedSource>(k)),
                                 {count("seeds", r.seedsBySource[k]), count("kept", r.keptBySource[k])}));
    fields.push_back(record("seed_sources", std::move(sources)));

    // The report's counts, where Python and the MEX have the lists.
    fields.push_back(shownIn(record("segments", {count("image1", static_cast<double>(r.segments1.size())),
                                                 count("image2", static_cast<double>(r.segments2.size()))}),
                             inReport));
    fields.push_back(shownIn(record("points", {count("matches", r.pointMatches), count("verified", r.pointsVerified),
                                               count("planes", r.pointPlanes), count("level", r.pointLevel),
                                               count("seed_candidates", static_cast<double>(r.pointSeeds.size()))}),
                             inReport));
    fields.push_back(shownIn(flag("lbd_sought", r.lbdSought), inReport));
    fields.push_back(
        shownIn(record("stages", {count("descriptor_matches", static_cast<double>(r.descriptorMatches.size())),
                                  count("seeds_kept", static_cast<double>(r.seeds.size())),
                                  count("matches", static_cast<double>(r.matches.size()))}),
                inReport));

    // Python's result holds what the MEX file returns as outputs of their
    // own (M, S1, S2) and each round's additions.
    fields.push_back(shownIn(pairs("matches", r.matches), inPython));
    fields.push_back(shownIn(segmentRows("segments1", r.segments1), inPython));
    fields.push_back(shownIn(segmentRows("segments2", r.segments2), inPython));
    std::vector<ResultField> added;
    for (const std::vector<SegmentMatch>& m : r.roundMatches) added.push_back(pairs("", m));
    fields.push_back(shownIn(list("round_matches", std::move(added), pairs("", {})), inPython));

    fields.push_back(scoresRecord(scores));
    return record("", std::move(fields));
}

ResultField describeResult(const MatchOutcome& outcome) {
    return describeResult(outcome.result, outcome.scores ? &*outcome.scores : nullptr);
}

std::string camelCase(const std::string& snakeCase) {
    std::string out;
    bool upper = false;
    for (char c : snakeCase) {
        if (c == '_') {
            upper = !out.empty();
            continue;
        }
        out += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        upper = false;
    }
    return out;
}

}  // namespace linematch
