// The matcher's result as one tree of named fields, from which every front
// end makes what its users see: the command's report.json, the MEX INFO
// struct and Python's MatchResult. Each front end has one small converter
// that walks the tree by the rules of its kind (below); none lays out a
// field of its own. A new figure of the result is one field here, and the
// three front ends show it.
//
// Names are snake_case; the MEX converter writes them in camelCase. Where
// a front end has long used another name (the MEX file's H and F, the
// report's median_residual_px), the field says so: those names are part of
// the interface and stay.
#pragma once

#include "linematch/match_request.hpp"
#include "linematch/matcher.hpp"
#include "linematch/result_scores.hpp"

#include <string>
#include <vector>

namespace linematch {

// The front ends a field is shown in (a mask).
enum ShownIn : unsigned {
    inReport = 1u,  // report.json
    inMex = 2u,     // the MEX INFO struct
    inPython = 4u,  // Python's MatchResult
    inEveryFrontEnd = inReport | inMex | inPython,
};

struct ResultField {
    enum class Kind {
        number,  // a real number
        count,   // a whole number: an integer in JSON and Python, a double in the MEX
        flag,    // true or false
        text,
        matrix,  // rows x columns real numbers, values row by row
        pairs,   // 0-based index pairs (i, w), values row by row (rows x 2)
        values,  // a list of real numbers (rows of them)
        record,  // named fields
        list,    // items, all of the shape of itemShape
    };

    std::string name;
    Kind kind = Kind::record;
    double number = 0;  // number, count, flag
    std::string text;
    int rows = 0, columns = 0;  // matrix, pairs, values
    std::vector<double> values;
    // A model that was not found (an unverified fundamental matrix) or a
    // record that does not apply (the scores without a ground truth):
    // left out of report.json and the MEX INFO, None in Python. An absent
    // matrix stays in the MEX INFO as [], so that its struct keeps its
    // fields.
    bool present = true;
    std::vector<ResultField> fields;  // a record's fields, a list's items
    // A list's item as it would look (one element): an empty list still
    // has its columns (MEX matrices) or its field names (MEX structs).
    std::vector<ResultField> itemShape;
    unsigned shownIn = inEveryFrontEnd;
    // A record of numbers that the MEX holds as one row (the fields
    // side by side, a row record inside it spliced in); a list of such
    // records is a matrix there, one row per item.
    bool row = false;
    // Decimals report.json keeps (-1: all); the MEX and Python keep all.
    int reportDigits = -1;
    const char* reportName = nullptr;  // report.json's name where it is not `name`
    const char* mexName = nullptr;     // the MEX name where it is not `name` in camelCase

    // The field of this record with this name; nullptr when there is none.
    const ResultField* find(const std::string& fieldName) const;
};

// The whole result, a record. Its fields in the order of the MEX INFO
// (descriptor_matches, seeds, rounds, seconds, confidence, geometry,
// status, the seeds by source), the report's and Python's own ones, and
// last the scores against a ground truth (absent without one).
ResultField describeResult(const MatchResult& result, const ResultScores* scores = nullptr);
ResultField describeResult(const MatchOutcome& outcome);

// snake_case to camelCase: "off_plane_inliers" -> "offPlaneInliers".
std::string camelCase(const std::string& snakeCase);

}  // namespace linematch
