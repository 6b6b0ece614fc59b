// Benchmarks of the cores through their C++ API, with no host in between.
//   bench_core threads SCENE_DIR [RUNS]   transfer with 1 and with 2 threads
//   bench_core coordsift [RUNS]           grouping of 10^6 distinct points and
//                                         of 10^7 points in 1,024 groups
// SCENE_DIR is a scene folder written by bench_scene.m. Runs alternate
// between the variants; medians are printed, and the results of the
// variants are checked to be identical.
#include "coordsift/point_grouping.hpp"
#include "lineharvest/lineharvest.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

std::vector<double> readDoubles(const std::string& path, std::size_t count) {
    std::ifstream in(path, std::ios::binary);
    std::vector<double> values(count);
    if (!in.read(reinterpret_cast<char*>(values.data()), static_cast<std::streamsize>(count * sizeof(double))))
        throw std::runtime_error("cannot read " + std::to_string(count) + " doubles from " + path);
    return values;
}

int benchThreads(const std::string& dir, int runs) {
    std::ifstream info(dir + "/scene.txt");
    int n1, n2, records, perSegment, width, height, cell;
    double dmax, amax, omin;
    if (!(info >> n1 >> n2 >> records >> perSegment >> width >> height >> cell >> dmax >> amax >> omin))
        throw std::runtime_error("cannot read " + dir + "/scene.txt");
    const std::vector<double> s1 = readDoubles(dir + "/s1.bin", 4 * std::size_t(n1));
    const std::vector<double> s2 = readDoubles(dir + "/s2.bin", 4 * std::size_t(n2));
    const std::vector<double> pairs = readDoubles(dir + "/records.bin", 14 * std::size_t(records));
    const std::vector<double> table = readDoubles(dir + "/table.bin", std::size_t(perSegment) * n1);

    lineharvest::TransferInput input;
    input.segments1 = {s1.data(), n1};
    input.segments2 = {s2.data(), n2};
    input.pairRecords = {pairs.data(), records};
    input.pairIndexTable = {table.data(), perSegment};
    input.thresholds = {dmax, amax, omin};
    const lineharvest::GridIndex grid =
        lineharvest::GridIndex::load(dir + "/grid_cells.txt", cell, lineharvest::RasterWindow{0, height, 0, width});

    std::vector<double> one, two;
    std::vector<lineharvest::Correspondence> withOne, withTwo;
    for (int k = 0; k < runs; ++k) {
        one.push_back(seconds([&] { withOne = lineharvest::addCandidates(input, grid, 1); }));
        two.push_back(seconds([&] { withTwo = lineharvest::addCandidates(input, grid, 2); }));
    }
    const bool same = withOne == withTwo;
    std::printf("transfer %s: 1 thread %.3f s, 2 threads %.3f s, speed-up %.2fx, %zu added, %s\n", dir.c_str(),
                median(one), median(two), median(one) / median(two), withOne.size(),
                same ? "identical" : "DIFFERENT");
    return same ? 0 : 1;
}

void groupingCase(const char* label, const std::vector<double>& xy, int runs) {
    const std::size_t n = xy.size() / 2;
    std::vector<double> index(n), coords(2 * n);
    std::vector<double> times;
    std::size_t groups = 0;
    for (int k = 0; k < runs; ++k) {
        times.push_back(seconds([&] {
            groups = coordsift::groupPoints(coordsift::PointView::pairs(xy.data(), n), index.data(), coords.data());
        }));
    }
    std::printf("coordsift %s: %zu groups, %.3f s\n", label, groups, median(times));
}

int benchGrouping(int runs) {
    std::mt19937_64 random(7);
    const std::size_t distinct = 1000000, side = 1000;
    std::vector<std::size_t> order(distinct);
    for (std::size_t k = 0; k < distinct; ++k) order[k] = k;
    std::shuffle(order.begin(), order.end(), random);
    std::vector<double> xy;
    for (std::size_t k : order) {
        xy.push_back(static_cast<double>(k % side));
        xy.push_back(static_cast<double>(k / side));
    }
    groupingCase("10^6 distinct points", xy, runs);
    xy.clear();
    for (std::size_t k = 0; k < 10000000; ++k) {
        const unsigned g = random() % 1024;
        xy.push_back((g % 32) * 17.0);
        xy.push_back((g / 32) * 13.0);
    }
    groupingCase("10^7 points in 1,024 groups", xy, runs);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "threads" && argc > 2) return benchThreads(argv[2], argc > 3 ? std::atoi(argv[3]) : 5);
        if (mode == "coordsift") return benchGrouping(argc > 2 ? std::atoi(argv[2]) : 5);
        std::fprintf(stderr, "usage: bench_core threads SCENE_DIR [RUNS] | bench_core coordsift [RUNS]\n");
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_core: %s\n", e.what());
        return 1;
    }
}
