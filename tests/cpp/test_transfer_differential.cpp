// The fast transfer against the literal reference transcription on seeded
// random scenes: the same correspondences, in the same order, for 1, 2 and
// 7 threads. The scenes reach the corners: NaN and infinite entries, w = 0,
// degenerate and mirrored homographies, thresholds met exactly, rasters cut
// at the capacity, windows not at the origin and cells beyond the grid.
// Crowded scenes (many long segments, each grid cell crossed by dozens)
// take the lookup that reads a cell's segments by direction.
#include "line_matcher_reference.hpp"
#include "lineharvest/transfer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <random>
#include <unistd.h>

using namespace lineharvest;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Scene {
    std::vector<double> segments1, segments2, records, table;
    int pairsPerSegment = 0;
    Thresholds thresholds;
    int cellSize = 10;
    RasterWindow window;
    std::vector<std::vector<int>> cells;
};

class SceneMaker {
public:
    // crowded: up to 600 image-2 segments of up to 400 pixels.
    SceneMaker(unsigned seed, bool crowded) : rng_(seed), crowded_(crowded) {}

    Scene make() {
        Scene s;
        s.window.xBegin = pick({0, 0, -30, 17});
        s.window.yBegin = pick({0, 0, -12, 9});
        s.window.xEnd = s.window.xBegin + (chance(0.8) ? 300 : uniformInt(0, 260));
        s.window.yEnd = s.window.yBegin + (chance(0.8) ? 300 : uniformInt(0, 200));
        s.cellSize = crowded_ ? pick({7, 10, 25}) : pick({1, 3, 7, 10, 10, 25, 64});
        const int n1 = uniformInt(0, 40), n2 = crowded_ ? uniformInt(200, 600) : uniformInt(1, 60),
                  numRecords = uniformInt(1, 12);
        // Whole-number coordinates make exact threshold equalities likely.
        const bool whole = chance(0.5);
        for (int i = 0; i < n1; ++i) addSegment(s.segments1, whole);
        for (int w = 0; w < n2; ++w) addSegment(s.segments2, whole);
        // Some image-2 segments are copies of image-1 segments, so that
        // identity-like homographies find them.
        for (int w = 0; w < n2 && n1 > 0; ++w)
            if (chance(0.7)) {
                const int i = uniformInt(0, n1 - 1);
                for (int k = 0; k < 4; ++k) s.segments2[4 * w + k] = s.segments1[4 * i + k] + (chance(0.3) ? uniformInt(-2, 2) : 0);
            }
        for (int r = 0; r < numRecords; ++r) addRecord(s, n1, n2);
        s.pairsPerSegment = uniformInt(0, 5);
        for (int i = 0; i < n1 * s.pairsPerSegment; ++i) s.table.push_back(uniformInt(0, numRecords - 1) + (chance(0.2) ? 0.7 : 0.0));
        s.thresholds.maxLineDistance = pick({0.0, 0.5, 1.0, 2.0, 3.0, 10.0, kInf});
        s.thresholds.maxAngleDifference = crowded_ ? pick({0.0, 0.1, 0.5, 1.0}) : pick({0.0, 0.05, 0.1, 0.5, 3.2, kInf});
        s.thresholds.minOverlapRatio = pick({-1.0, 0.0, 0.3, 0.5, 1.0, 2.0, kInf});
        // Cells: duplicates, unsorted entries, empty cells; sometimes fewer
        // cells than the window has, sometimes more.
        const long long columns = (static_cast<long long>(s.window.xEnd) - s.window.xBegin) / s.cellSize + 1;
        const long long rows = s.window.yEnd / s.cellSize + 1;
        const int numCells = static_cast<int>(std::min<long long>(4000, columns * std::max(1LL, rows) * pick({0.3, 1.0, 1.5})));
        bool indexable = true;
        for (double v : s.segments2) indexable = indexable && std::fabs(v) < 16777216.0;
        if (indexable && (crowded_ || chance(0.7))) {
            // The index a caller builds: every segment in the cells it crosses.
            const GridIndex built = GridIndex::build({s.segments2.data(), n2}, s.cellSize, s.window, uniformInt(0, 3));
            for (std::size_t k = 0; k < built.numCells(); ++k) s.cells.emplace_back(built.cellBegin(k), built.cellEnd(k));
            if (chance(0.2)) s.cells.resize(s.cells.size() / 2);
        } else {
            s.cells.resize(static_cast<std::size_t>(std::max(0, numCells)));
            for (auto& cell : s.cells) {
                const int entries = chance(0.5) ? 0 : uniformInt(1, 6);
                for (int e = 0; e < entries; ++e) cell.push_back(uniformInt(0, n2 - 1));
            }
        }
        return s;
    }

private:
    template <class T>
    T pick(std::initializer_list<T> values) {
        return *(values.begin() + uniformInt(0, static_cast<int>(values.size()) - 1));
    }
    int uniformInt(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }

    double coordinate(bool whole) {
        if (chance(0.01)) return pick({kNaN, kInf, -kInf, 1e12});
        const double v = uniform(-40, 280);
        return whole ? std::floor(v) : v;
    }
    void addSegment(std::vector<double>& out, bool whole) {
        const double x1 = coordinate(whole), y1 = coordinate(whole);
        if (chance(0.05)) {  // zero length
            out.insert(out.end(), {x1, y1, x1, y1});
            return;
        }
        const double length = crowded_ ? pick({40.0, 120.0, 400.0}) : pick({3.0, 10.0, 40.0, 120.0});
        const double angle = chance(0.3) ? pick({0.0, M_PI / 2, M_PI, M_PI / 4}) : uniform(-M_PI, M_PI);
        double x2 = x1 + length * std::cos(angle), y2 = y1 + length * std::sin(angle);
        if (whole) x2 = std::round(x2), y2 = std::round(y2);
        out.insert(out.end(), {x1, y1, x2, y2});
    }
    void addRecord(Scene& s, int n1, int n2) {
        std::vector<double> h;
        switch (chance(0.4) ? 0 : uniformInt(0, 8)) {
            case 0: h = {1, 0, 0, 0, 1, 0, 0, 0, 1}; break;
            case 1: h = {1, 0, double(uniformInt(-3, 3)), 0, 1, double(uniformInt(-3, 3)), 0, 0, 1}; break;
            case 2: h = {1.02, 0.01, uniform(-3, 3), -0.01, 0.98, uniform(-3, 3), 0, 0, 1}; break;
            case 3: h = {1, 0, 0, 0, 1, 0, uniform(-1e-3, 1e-3), uniform(-1e-3, 1e-3), 1}; break;  // perspective
            case 4: h = {-1, 0, 200, 0, 1, 0, 0, 0, 1}; break;                                       // mirrored
            case 5: h = {0, 0, 0, 0, 0, 0, 0, 0, 0}; break;                                          // degenerate: w = 0
            case 6: h = {1, 0, 0, 0, 1, 0, 0, 0, 0}; break;                                          // w = 0, infinite
            case 7: h = {60, 0, -3000, 0, 60, -3000, 0, 0, 1}; break;                                // rasters past 5900
            default: h = {1, 0, 0, 0, 1, 0, 0, 0, 1}; h[uniformInt(0, 8)] = pick({kNaN, kInf, 2.0, 0.5}); break;
        }
        if (chance(0.3)) for (double& v : h) v *= pick({-1.0, 2.0, 0.5, 1e-9});
        const double a = n1 > 0 ? uniformInt(0, n1 - 1) : 0, b = n1 > 0 ? uniformInt(0, n1 - 1) : 0;
        s.records.insert(s.records.end(), {a, b, double(uniformInt(0, n2 - 1)), double(uniformInt(0, n2 - 1)), 0});
        s.records.insert(s.records.end(), h.begin(), h.end());
        if (n1 == 0) s.records.resize(s.records.size() - 14);  // no valid image-1 index
    }

    std::mt19937 rng_;
    bool crowded_;
};

std::string writeGridFile(const Scene& s) {
    char path[] = "/tmp/lh_differential_XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    std::ofstream out(path);
    for (const auto& cell : s.cells) {
        for (std::size_t k = 0; k < cell.size(); ++k) out << (k ? "  " : " ") << cell[k];
        out << "\n";
    }
    return path;
}

std::vector<Correspondence> runReference(const Scene& s, const std::string& gridPath) {
    reference::LineMatcher m;
    m.setInputs(s.segments1.data(), s.segments2.data(), s.records.data(), cv::Mat::eye(3, 3, CV_64F), s.table.data(),
                s.pairsPerSegment);
    m.setParameters(s.thresholds.maxLineDistance, s.thresholds.maxAngleDifference, s.thresholds.minOverlapRatio,
                    static_cast<double>(s.segments1.size() / 4), static_cast<double>(s.segments2.size() / 4),
                    static_cast<double>(s.records.size() / 14));
    m.setGrid(gridPath, s.cellSize, s.window.yBegin, s.window.yEnd, s.window.xBegin, s.window.xEnd);
    return m.addCandidates();
}

}  // namespace

TEST(TransferDifferential, MatchesTheReferenceOnRandomScenes) {
    std::size_t total = 0;
    for (unsigned seed = 1; seed <= 460; ++seed) {
        const Scene s = SceneMaker(seed, seed > 400).make();
        if (s.records.empty()) continue;
        const std::string gridPath = writeGridFile(s);
        const std::vector<Correspondence> expected = runReference(s, gridPath);
        TransferInput in;
        in.segments1 = {s.segments1.data(), static_cast<int>(s.segments1.size() / 4)};
        in.segments2 = {s.segments2.data(), static_cast<int>(s.segments2.size() / 4)};
        in.pairRecords = {s.records.data(), static_cast<int>(s.records.size() / 14)};
        in.pairIndexTable = {s.table.data(), s.pairsPerSegment};
        in.thresholds = s.thresholds;
        const GridIndex grid = GridIndex::load(gridPath, s.cellSize, s.window);
        for (int threads : {1, 2, 7}) ASSERT_EQ(expected, addCandidates(in, grid, threads)) << "seed " << seed << ", " << threads << " threads";
        std::remove(gridPath.c_str());
        total += expected.size();
    }
    // The scenes must exercise acceptance, not only rejection.
    EXPECT_GT(total, 400u);
}
