// The C++ side of the Python call-overhead benchmark: loads a scene written
// by bench_python.py (raw float64 files), builds the grid index, and times
// lineharvest::addCandidates called directly. Prints the median of the
// timed calls (after one untimed call) and the number of correspondences.
#include "lineharvest/lineharvest.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<double> readDoubles(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamsize bytes = in.tellg();
    std::vector<double> values(static_cast<std::size_t>(bytes) / sizeof(double));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(values.data()), bytes);
    return values;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: core_call SCENE_DIR RUNS [THREADS]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const int runs = std::stoi(argv[2]);
    const int threads = argc > 3 ? std::stoi(argv[3]) : 1;
    const std::vector<double> p = readDoubles(dir + "/params.f64");  // n1 n2 P T cell y0 y1 x0 x1 margin
    const std::vector<double> s1 = readDoubles(dir + "/segments1.f64");
    const std::vector<double> s2 = readDoubles(dir + "/segments2.f64");
    const std::vector<double> records = readDoubles(dir + "/pair_records.f64");
    const std::vector<double> table = readDoubles(dir + "/pair_index.f64");

    lineharvest::TransferInput input;
    input.segments1 = {s1.data(), static_cast<int>(p[0])};
    input.segments2 = {s2.data(), static_cast<int>(p[1])};
    input.pairRecords = {records.data(), static_cast<int>(p[2])};
    input.pairIndexTable = {table.data(), static_cast<int>(p[3])};
    const lineharvest::RasterWindow window{static_cast<int>(p[5]), static_cast<int>(p[6]), static_cast<int>(p[7]),
                                           static_cast<int>(p[8])};
    const lineharvest::GridIndex grid =
        lineharvest::GridIndex::build(input.segments2, static_cast<int>(p[4]), window, static_cast<int>(p[9]));

    // One call first, as the Python side is warm too (allocator, caches).
    std::size_t found = lineharvest::addCandidates(input, grid, threads).size();
    std::vector<double> seconds;
    for (int k = 0; k < runs; ++k) {
        const auto start = std::chrono::steady_clock::now();
        found = lineharvest::addCandidates(input, grid, threads).size();
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%.9f %zu\n", seconds[seconds.size() / 2], found);
    return 0;
}
