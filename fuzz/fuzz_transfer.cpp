// Fuzz target of the whole candidate transfer: a small scene (segments,
// pair records with their homographies, pair index table, thresholds, raster
// window and a grid index) is decoded from the input and run through
// checkTransferInput and addCandidates.
//
// Checked on every input:
//  - a valid scene is accepted, and one with a bad value (NaN threshold, an
//    index outside its range, a grid entry that is no image-2 segment) is
//    refused with the kind that names that value; nothing else escapes;
//  - the correspondences are those of the literal reference transcription
//    that the tests keep (tests/reference), and 1, 2 and 3 threads give
//    them alike;
//  - every correspondence is in range and keeps the file rules: increasing i,
//    for one i the order of its table entries with at most one line per
//    entry, r the record of that entry, no (i, w) twice, no (i, w) that a pair
//    record names;
//  - writeCandidates writes "i w r\n" per correspondence.
#include "fuzz_check.hpp"
#include "scratch_file.hpp"
#include "line_matcher_reference.hpp"

#include "lineharvest/errors.hpp"
#include "lineharvest/grid_index.hpp"
#include "lineharvest/transfer.hpp"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using lineharvest::Correspondence;
using lineharvest::GridIndex;
using lineharvest::HarvestError;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The scene's values come from the input while it lasts, then from a
// generator seeded with the input, so that short inputs still make whole
// scenes with something to match.
class Draw {
public:
    Draw(const std::uint8_t* data, std::size_t size) : in_(data, size), rng_(hash(data, size)) {}

    template <class T>
    T integral() {
        return in_.remaining_bytes() ? in_.ConsumeIntegral<T>() : static_cast<T>(rng_());
    }
    int range(int lo, int hi) {
        if (in_.remaining_bytes()) return in_.ConsumeIntegralInRange<int>(lo, hi);
        return lo + static_cast<int>(rng_() % static_cast<std::uint64_t>(hi - lo + 1));
    }

private:
    static std::uint64_t hash(const std::uint8_t* data, std::size_t size) {
        std::uint64_t h = 14695981039346656037ULL;
        for (std::size_t k = 0; k < size; ++k) h = (h ^ data[k]) * 1099511628211ULL;
        return h;
    }
    FuzzedDataProvider in_;
    std::mt19937_64 rng_;
};

// Coordinates mostly on a small raster so that mapped segments meet the
// grid's cells and each other; sometimes values that only an edge reaches.
double drawCoordinate(Draw& in) {
    const std::uint8_t kind = in.integral<std::uint8_t>();
    if (kind < 160) return static_cast<double>(kind % 80) - 10.0;
    if (kind < 224) return static_cast<double>(in.range(-40, 360)) / 4.0;
    static const double special[] = {kNaN, kInf, -kInf, -0.0, 1e9, -1e9, 7000.0, 5900.5, 16777216.0, 1e-300};
    if (kind < 240) return special[kind % (sizeof special / sizeof special[0])];
    std::uint64_t bits = in.integral<std::uint64_t>();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Homography elements, row-major.
void drawHomography(Draw& in, double* h) {
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::memcpy(h, identity, sizeof identity);
    switch (in.range(0, 11)) {
        case 0: case 8: case 9: case 10: break;                   // identity
        case 1:                                                   // translation
            h[2] = in.range(-8, 8) / 2.0;
            h[5] = in.range(-8, 8) / 2.0;
            break;
        case 2: h[0] = -1; h[2] = 60; break;                      // mirror in x
        case 3: h[0] = h[4] = in.range(1, 8) / 4.0; break;  // scale
        case 4: h[6] = h[7] = h[8] = 0; break;                    // maps to the line at infinity
        case 5: h[8] = -1; break;                                 // w = -1
        case 6:                                                   // small perspective
            h[6] = in.range(-4, 4) / 1000.0;
            h[7] = in.range(-4, 4) / 1000.0;
            break;
        case 7:
            for (int k = 0; k < 9; ++k) h[k] = drawCoordinate(in) / 16.0;
            break;
        default:                                                  // one odd element
            h[in.range(0, 8)] = drawCoordinate(in);
    }
}

// An index into [0, count): mostly whole, sometimes with a fraction or
// -0.5 (both truncate to an index). With count 0 no value is an index.
double drawIndex(Draw& in, int count, std::set<std::string>& refusals, const char* refusal) {
    const std::uint8_t kind = in.integral<std::uint8_t>();
    if (count <= 0) {
        refusals.insert(refusal);
        return kind % 2 ? 0.0 : -0.5;
    }
    if (kind < 224) return kind % count;
    if (kind < 240) return kind % count + 0.75;
    return -0.5;
}

// Thresholds met exactly, switched off (infinite) or negative.
double drawThreshold(Draw& in, double usual) {
    const std::uint8_t kind = in.integral<std::uint8_t>();
    if (kind < 200) return usual * (kind % 8) / 4.0;
    if (kind < 240) return kInf;
    return -usual;
}

// Values that no index or threshold may take.
double drawBadIndex(Draw& in, int count) {
    const double bad[] = {-1.0, static_cast<double>(count), kNaN, 3e9, -kInf, 1e300};
    return bad[in.range(0, 5)];
}

struct Scene {
    std::vector<double> segments1, segments2, records, table;
    int n1 = 0, n2 = 0, numRecords = 0, pairsPerSegment = 0;
    lineharvest::Thresholds thresholds;
    lineharvest::RasterWindow window;
    int cellSize = 1;
    std::set<std::string> refusals;  // empty: must be accepted; else refused with one of these
    bool badGridEntry = false;       // put one entry outside [0, n2) into the grid
};

Scene drawScene(Draw& in) {
    Scene s;
    s.n1 = in.range(0, 12);
    s.n2 = in.range(0, 12);
    s.numRecords = in.range(0, 6);
    s.pairsPerSegment = in.range(0, 4);
    for (int k = 0; k < 4 * s.n1; ++k) s.segments1.push_back(drawCoordinate(in));
    // Image-2 segments are often copies of image-1 segments, some shifted a
    // little, so that identity-like homographies find them.
    for (int w = 0; w < s.n2; ++w) {
        const std::uint8_t kind = in.integral<std::uint8_t>();
        if (kind < 160 && s.n1 > 0) {
            const double shift = kind % 2 ? in.range(-2, 2) : 0.0;
            const double* source = &s.segments1[4 * static_cast<std::size_t>(kind % s.n1)];
            for (int k = 0; k < 4; ++k) s.segments2.push_back(source[k] + (k % 2 ? 0.0 : shift));
        } else {
            for (int k = 0; k < 4; ++k) s.segments2.push_back(drawCoordinate(in));
        }
    }
    for (int r = 0; r < s.numRecords; ++r) {
        double record[14];
        record[0] = drawIndex(in, s.n1, s.refusals, "badPairRecord");
        record[1] = drawIndex(in, s.n1, s.refusals, "badPairRecord");
        record[2] = drawIndex(in, s.n2, s.refusals, "badPairRecord");
        record[3] = drawIndex(in, s.n2, s.refusals, "badPairRecord");
        record[4] = kNaN;  // never read
        drawHomography(in, record + 5);
        s.records.insert(s.records.end(), record, record + 14);
    }
    for (int k = 0; k < s.n1 * s.pairsPerSegment; ++k)
        s.table.push_back(drawIndex(in, s.numRecords, s.refusals, "badPairIndex"));
    s.thresholds.maxLineDistance = drawThreshold(in, 2.0);
    s.thresholds.maxAngleDifference = drawThreshold(in, 0.1);
    s.thresholds.minOverlapRatio = drawThreshold(in, 0.5);
    s.cellSize = in.range(1, 16);
    s.window.yBegin = in.range(-10, 20);
    s.window.yEnd = s.window.yBegin + in.range(-5, 80);
    s.window.xBegin = in.range(-10, 20);
    s.window.xEnd = s.window.xBegin + in.range(-5, 80);

    // One scene in four gets one value that must make it refused.
    switch (in.range(0, 15)) {
        case 0:
            s.thresholds.maxLineDistance = kNaN;
            s.refusals.insert("badScalar");
            break;
        case 1:
            s.thresholds.maxAngleDifference = kNaN;
            s.refusals.insert("badScalar");
            break;
        case 2:
            if (!s.records.empty()) {
                const int e = in.range(0, 3);
                s.records[14 * static_cast<std::size_t>(in.range(0, s.numRecords - 1)) + e] =
                    drawBadIndex(in, e < 2 ? s.n1 : s.n2);
                s.refusals.insert("badPairRecord");
            }
            break;
        case 3:
            if (!s.table.empty()) {
                s.table[static_cast<std::size_t>(in.range(0, static_cast<int>(s.table.size()) - 1))] =
                    drawBadIndex(in, s.numRecords);
                s.refusals.insert("badPairIndex");
            }
            break;
        case 4:
            s.badGridEntry = true;
            s.refusals.insert("gridEntry");
            break;
        default:
            break;
    }
    return s;
}

// The grid: built from the image-2 segments (when they can be), or cells
// from the input, sometimes fewer or more than the window has.
GridIndex drawGrid(Draw& in, const Scene& s) {
    GridIndex grid;
    bool built = false;
    // Built only over short segments: the builder's time grows with their
    // length, and a few fuzzed ones would be millions of pixels long.
    bool shortSegments = true;
    for (double v : s.segments2) shortSegments = shortSegments && std::fabs(v) < 8000.0;
    if (shortSegments && in.range(0, 3) > 0) {
        try {
            grid = GridIndex::build({s.segments2.data(), s.n2}, s.cellSize, s.window, in.range(0, 3));
            built = true;
        } catch (const HarvestError&) {
            // Segments or window the builder refuses: cells from the input.
        }
    }
    if (!built) {
        grid = GridIndex(s.cellSize, s.window);
        const int numCells = in.range(0, 120);
        std::vector<int> cell;
        for (int k = 0; k < numCells; ++k) {
            cell.clear();
            const int entries = s.n2 > 0 ? in.range(0, 3) : 0;
            for (int e = 0; e < entries; ++e) cell.push_back(in.range(0, s.n2 - 1));
            grid.appendCell(cell.data(), cell.data() + cell.size());
        }
    }
    if (s.badGridEntry) {
        // The same cells, and one cell more with an entry that is no index.
        GridIndex bad(s.cellSize, s.window);
        for (std::size_t k = 0; k < grid.numCells(); ++k) bad.appendCell(grid.cellBegin(k), grid.cellEnd(k));
        const int entry = in.range(0, 1) ? -1 : s.n2;
        bad.appendCell(&entry, &entry + 1);
        return bad;
    }
    return grid;
}

void checkRules(const Scene& s, const std::vector<Correspondence>& found) {
    std::set<std::pair<int, int>> known;
    for (int r = 0; r < s.numRecords; ++r) {
        const double* record = &s.records[14 * r];
        known.insert({static_cast<int>(record[0]), static_cast<int>(record[2])});
        known.insert({static_cast<int>(record[1]), static_cast<int>(record[3])});
    }
    std::set<std::pair<int, int>> written;
    int previousI = -1;
    int nextEntry = 0;  // position in i's table row after the last line's entry
    for (const Correspondence& c : found) {
        const int i = c.image1Segment, w = c.image2Segment, r = c.pairRecord;
        FUZZ_CHECK(i >= 0 && i < s.n1 && w >= 0 && w < s.n2 && r >= 0 && r < s.numRecords,
                   "line %d %d %d out of range (%d, %d, %d)", i, w, r, s.n1, s.n2, s.numRecords);
        FUZZ_CHECK(i >= previousI, "line %d %d %d after a line of segment %d", i, w, r, previousI);
        if (i != previousI) nextEntry = 0;
        previousI = i;
        // The next table entry of i (from where the last line's entry was)
        // that names record r: one line per entry, in entry order.
        while (nextEntry < s.pairsPerSegment &&
               static_cast<int>(s.table[static_cast<std::size_t>(i) * s.pairsPerSegment + nextEntry]) != r)
            ++nextEntry;
        FUZZ_CHECK(nextEntry < s.pairsPerSegment, "line %d %d %d: no table entry of segment %d left for record %d",
                   i, w, r, i, r);
        ++nextEntry;
        FUZZ_CHECK(!known.count({i, w}), "line %d %d %d: a pair record names (%d, %d)", i, w, r, i, w);
        FUZZ_CHECK(written.insert({i, w}).second, "line %d %d %d: (%d, %d) written twice", i, w, r, i, w);
    }
}

const std::string& scratchPath() {
    static const ScratchFile file("/tmp/fuzz_transfer_grid_");
    return file.path();
}

// The reference reads its grid from a file: the grid's own text.
std::vector<Correspondence> runReference(const Scene& s, const GridIndex& grid) {
    const std::string path = scratchPath();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        grid.write(out);
        FUZZ_CHECK(out.good(), "cannot write the scratch grid file");
    }
    reference::LineMatcher m;
    m.setInputs(s.segments1.data(), s.segments2.data(), s.records.data(), cv::Mat::eye(3, 3, CV_64F),
                s.table.data(), s.pairsPerSegment);
    m.setParameters(s.thresholds.maxLineDistance, s.thresholds.maxAngleDifference, s.thresholds.minOverlapRatio,
                    s.n1, s.n2, s.numRecords);
    m.setGrid(path, s.cellSize, s.window.yBegin, s.window.yEnd, s.window.xBegin, s.window.xEnd);
    return m.addCandidates();
}

// With LH_FUZZ_STATS set, how the inputs fared is printed at exit: a
// corpus whose scenes never match anything checks little.
struct Stats {
    long runs = 0, refused = 0, withLines = 0, lines = 0;
    ~Stats() {
        if (std::getenv("LH_FUZZ_STATS"))
            std::fprintf(stderr, "transfer stats: %ld inputs, %ld refused, %ld with correspondences (%ld in all)\n",
                         runs, refused, withLines, lines);
    }
} stats;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Draw in(data, size);
    const Scene s = drawScene(in);
    const GridIndex grid = drawGrid(in, s);
    const lineharvest::TransferInput input{{s.segments1.data(), s.n1},
                                           {s.segments2.data(), s.n2},
                                           {s.records.data(), s.numRecords},
                                           {s.table.data(), s.pairsPerSegment},
                                           s.thresholds};

    ++stats.runs;
    std::vector<Correspondence> one;
    try {
        lineharvest::checkTransferInput(input, grid);
        one = lineharvest::addCandidates(input, grid, 1);
    } catch (const HarvestError& e) {
        FUZZ_CHECK(!s.refusals.empty(), "a valid scene was refused: %s: %s", e.kind().c_str(), e.what());
        FUZZ_CHECK(s.refusals.count(e.kind()), "refused as %s, not for the bad value it holds: %s", e.kind().c_str(),
                   e.what());
        ++stats.refused;
        return 0;
    }
    FUZZ_CHECK(s.refusals.empty(), "an invalid scene (NaN threshold or an index out of range) was accepted");

    checkRules(s, one);
    stats.withLines += !one.empty();
    stats.lines += static_cast<long>(one.size());
    const std::vector<Correspondence> expected = runReference(s, grid);
    FUZZ_CHECK(one == expected, "%zu lines, the reference finds %zu, or the lines differ", one.size(),
               expected.size());
    for (int threads : {2, 3}) {
        const std::vector<Correspondence> many = lineharvest::addCandidates(input, grid, threads);
        FUZZ_CHECK(many == one, "%d threads give %zu lines, 1 thread %zu, or the lines differ", threads,
                   many.size(), one.size());
    }

    std::ostringstream text, lines;
    lineharvest::writeCandidates(text, one);
    for (const Correspondence& c : one)
        lines << c.image1Segment << ' ' << c.image2Segment << ' ' << c.pairRecord << '\n';
    FUZZ_CHECK(text.str() == lines.str(), "writeCandidates text differs");
    return 0;
}
