// Fuzz target of the whole candidate transfer: a small scene (segments,
// pair records with their homographies, pair index table, thresholds, raster
// window and a grid index) is decoded from the input and run through
// checkTransferInput and addCandidates.
//
// Checked on every input:
//  - a scene that is plainly valid is accepted, a plainly invalid one (NaN
//    threshold, an index outside its range) is refused with the right kind,
//    and nothing else escapes;
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

// Coordinates mostly on a small raster so that mapped segments meet the
// grid's cells and each other; sometimes values that only an edge reaches.
double drawCoordinate(FuzzedDataProvider& in) {
    const std::uint8_t kind = in.ConsumeIntegral<std::uint8_t>();
    if (kind < 160) return static_cast<double>(kind % 80) - 10.0;
    if (kind < 224) return static_cast<double>(in.ConsumeIntegralInRange<int>(-40, 360)) / 4.0;
    static const double special[] = {kNaN, kInf, -kInf, -0.0, 1e9, -1e9, 7000.0, 5900.5, 16777216.0, 1e-300};
    if (kind < 240) return special[kind % (sizeof special / sizeof special[0])];
    std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Homography elements, row-major.
void drawHomography(FuzzedDataProvider& in, double* h) {
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::memcpy(h, identity, sizeof identity);
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: break;                                            // identity
        case 1:                                                   // translation
            h[2] = in.ConsumeIntegralInRange<int>(-8, 8) / 2.0;
            h[5] = in.ConsumeIntegralInRange<int>(-8, 8) / 2.0;
            break;
        case 2: h[0] = -1; h[2] = 60; break;                      // mirror in x
        case 3: h[0] = h[4] = in.ConsumeIntegralInRange<int>(1, 8) / 4.0; break;  // scale
        case 4: h[6] = h[7] = h[8] = 0; break;                    // maps to the line at infinity
        case 5: h[8] = -1; break;                                 // w = -1
        case 6:                                                   // small perspective
            h[6] = in.ConsumeIntegralInRange<int>(-4, 4) / 1000.0;
            h[7] = in.ConsumeIntegralInRange<int>(-4, 4) / 1000.0;
            break;
        default:
            for (int k = 0; k < 9; ++k) h[k] = drawCoordinate(in) / 16.0;
    }
}

// An index into [0, count): valid most of the time, sometimes fractional,
// negative, at or past the end, or NaN.
double drawIndex(FuzzedDataProvider& in, int count, bool& plainlyBad, bool& unclear) {
    const std::uint8_t kind = in.ConsumeIntegral<std::uint8_t>();
    if (kind < 230 && count > 0) return kind % count;
    if (kind < 236 && count > 0) return kind % count + 0.75;  // truncates to a valid index
    if (kind < 242) {
        unclear = true;  // -0.5 truncates to 0: either answer is defensible
        return -0.5;
    }
    plainlyBad = true;
    switch (kind % 4) {
        case 0: return -1;
        case 1: return count;
        case 2: return kNaN;
        default: return 3e9;
    }
}

double drawThreshold(FuzzedDataProvider& in, double usual, bool& plainlyBad) {
    const std::uint8_t kind = in.ConsumeIntegral<std::uint8_t>();
    if (kind < 200) return usual * (kind % 8) / 4.0;
    if (kind < 240) return kInf;
    if (kind < 250) return -usual;
    plainlyBad = true;
    return kNaN;
}

struct Scene {
    std::vector<double> segments1, segments2, records, table;
    int n1 = 0, n2 = 0, numRecords = 0, pairsPerSegment = 0;
    lineharvest::Thresholds thresholds;
    lineharvest::RasterWindow window;
    int cellSize = 1;
    bool plainlyBad = false;  // must be refused
    bool unclear = false;     // may be refused
};

Scene drawScene(FuzzedDataProvider& in) {
    Scene s;
    s.n1 = in.ConsumeIntegralInRange<int>(0, 12);
    s.n2 = in.ConsumeIntegralInRange<int>(0, 12);
    s.numRecords = in.ConsumeIntegralInRange<int>(0, 6);
    s.pairsPerSegment = in.ConsumeIntegralInRange<int>(0, 4);
    for (int k = 0; k < 4 * s.n1; ++k) s.segments1.push_back(drawCoordinate(in));
    for (int k = 0; k < 4 * s.n2; ++k) s.segments2.push_back(drawCoordinate(in));
    for (int r = 0; r < s.numRecords; ++r) {
        double record[14];
        record[0] = drawIndex(in, s.n1, s.plainlyBad, s.unclear);
        record[1] = drawIndex(in, s.n1, s.plainlyBad, s.unclear);
        record[2] = drawIndex(in, s.n2, s.plainlyBad, s.unclear);
        record[3] = drawIndex(in, s.n2, s.plainlyBad, s.unclear);
        record[4] = kNaN;  // never read
        drawHomography(in, record + 5);
        s.records.insert(s.records.end(), record, record + 14);
    }
    for (int k = 0; k < s.n1 * s.pairsPerSegment; ++k)
        s.table.push_back(drawIndex(in, s.numRecords, s.plainlyBad, s.unclear));
    s.thresholds.maxLineDistance = drawThreshold(in, 2.0, s.plainlyBad);
    s.thresholds.maxAngleDifference = drawThreshold(in, 0.1, s.plainlyBad);
    s.thresholds.minOverlapRatio = drawThreshold(in, 0.5, s.plainlyBad);
    s.cellSize = in.ConsumeIntegralInRange<int>(1, 16);
    s.window.yBegin = in.ConsumeIntegralInRange<int>(-10, 20);
    s.window.yEnd = s.window.yBegin + in.ConsumeIntegralInRange<int>(-5, 80);
    s.window.xBegin = in.ConsumeIntegralInRange<int>(-10, 20);
    s.window.xEnd = s.window.xBegin + in.ConsumeIntegralInRange<int>(-5, 80);
    return s;
}

// The grid: built from the image-2 segments (when they can be), or cells
// read from the input, some past the window's last cell, some entries not
// image-2 indices.
GridIndex drawGrid(FuzzedDataProvider& in, Scene& s) {
    if (in.ConsumeBool()) {
        try {
            return GridIndex::build({s.segments2.data(), s.n2}, s.cellSize, s.window,
                                    in.ConsumeIntegralInRange<int>(0, 3));
        } catch (const HarvestError&) {
            // Segments or window the builder refuses: fall through to cells.
        }
    }
    GridIndex grid(s.cellSize, s.window);
    const int numCells = in.ConsumeIntegralInRange<int>(0, 120);
    std::vector<int> cell;
    for (int k = 0; k < numCells; ++k) {
        cell.clear();
        const int entries = in.ConsumeIntegralInRange<int>(0, 3);
        for (int e = 0; e < entries; ++e) {
            const std::uint8_t kind = in.ConsumeIntegral<std::uint8_t>();
            if (kind < 250 && s.n2 > 0) {
                cell.push_back(kind % s.n2);
            } else {
                cell.push_back(kind % 2 ? -1 : s.n2);
                s.plainlyBad = true;
            }
        }
        grid.appendCell(cell.data(), cell.data() + cell.size());
    }
    return grid;
}

bool isExpectedRefusal(const std::string& kind) {
    return kind == "badScalar" || kind == "badPairRecord" || kind == "badPairIndex" || kind == "gridEntry";
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Scene s = drawScene(in);
    const GridIndex grid = drawGrid(in, s);
    const lineharvest::TransferInput input{{s.segments1.data(), s.n1},
                                           {s.segments2.data(), s.n2},
                                           {s.records.data(), s.numRecords},
                                           {s.table.data(), s.pairsPerSegment},
                                           s.thresholds};

    std::vector<Correspondence> one;
    try {
        lineharvest::checkTransferInput(input, grid);
        one = lineharvest::addCandidates(input, grid, 1);
    } catch (const HarvestError& e) {
        FUZZ_CHECK(isExpectedRefusal(e.kind()), "unexpected refusal %s: %s", e.kind().c_str(), e.what());
        FUZZ_CHECK(s.plainlyBad || s.unclear, "a valid scene was refused: %s: %s", e.kind().c_str(), e.what());
        return 0;
    }
    FUZZ_CHECK(!s.plainlyBad, "an invalid scene (NaN threshold or an index out of range) was accepted");

    checkRules(s, one);
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
