// Times the whole matcher on one image pair: images decoded once, then
// matchLines (segments, descriptors, seed checks, transfer rounds) run
// several times; prints the median and the medians of the stages.
//
// usage: bench_linematch IMAGE1 IMAGE2 [RUNS] [THREADS]
#include "linematch/matcher.hpp"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_linematch IMAGE1 IMAGE2 [RUNS] [THREADS]\n");
        return 2;
    }
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    linematch::MatcherSettings settings;
    settings.threads = argc > 4 ? std::max(1, std::atoi(argv[4])) : 1;
    const auto decodeStart = std::chrono::steady_clock::now();
    const cv::Mat a = cv::imread(argv[1], cv::IMREAD_GRAYSCALE), b = cv::imread(argv[2], cv::IMREAD_GRAYSCALE);
    const double decode = std::chrono::duration<double>(std::chrono::steady_clock::now() - decodeStart).count();
    if (a.empty() || b.empty()) {
        std::fprintf(stderr, "bench_linematch: cannot read the images\n");
        return 1;
    }
    std::vector<double> total, segments, descriptors, checks, transfer;
    std::size_t matches = 0;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const linematch::MatchResult result = linematch::matchLines(a, b, settings);
        total.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        segments.push_back(result.secondsSegments);
        descriptors.push_back(result.secondsDescriptors);
        checks.push_back(result.secondsChecks);
        transfer.push_back(result.secondsTransfer);
        matches = result.matches.size();
    }
    std::printf("pipeline   median %.3f s over %d runs (min %.3f, max %.3f), %zu matches, %d thread(s)\n",
                median(total), runs, *std::min_element(total.begin(), total.end()),
                *std::max_element(total.begin(), total.end()), matches, settings.threads);
    std::printf("  segments    %.3f s\n  descriptors %.3f s\n  checks      %.3f s\n  transfer    %.3f s\n",
                median(segments), median(descriptors), median(checks), median(transfer));
    std::printf("image decoding (once, not in the pipeline figure) %.3f s\n", decode);
    return 0;
}
