// Times matchSegments on the caller's own segments against matchLines on
// the same images: random segments (endpoints uniform over the image, or
// of a given length) stand for what a caller may hand over, detected ones
// for what the matcher meets by itself.
//
// usage: bench_given_segments IMAGE1 IMAGE2 detected
//        bench_given_segments IMAGE1 IMAGE2 random N [LENGTH] [SEED]
#include "linematch/matcher.hpp"

#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

// N segments inside size; LENGTH > 0 gives each that length, otherwise both
// endpoints are uniform over the image.
std::vector<linematch::Segment> randomSegments(cv::Size size, int n, double length, std::mt19937& generator) {
    std::uniform_real_distribution<double> x(0, size.width - 1), y(0, size.height - 1), angle(0, 2 * CV_PI);
    std::vector<linematch::Segment> segments;
    while (static_cast<int>(segments.size()) < n) {
        const double x1 = x(generator), y1 = y(generator);
        double x2 = x(generator), y2 = y(generator);
        if (length > 0) {
            const double a = angle(generator);
            x2 = x1 + length * std::cos(a);
            y2 = y1 + length * std::sin(a);
            if (x2 < 0 || y2 < 0 || x2 > size.width - 1 || y2 > size.height - 1) continue;
        }
        segments.push_back({x1, y1, x2, y2});
    }
    return segments;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (std::string(argv[3]) == "random" && argc < 5)) {
        std::fprintf(stderr, "usage: bench_given_segments IMAGE1 IMAGE2 detected\n"
                             "       bench_given_segments IMAGE1 IMAGE2 random N [LENGTH] [SEED]\n");
        return 2;
    }
    const cv::Mat a = cv::imread(argv[1], cv::IMREAD_GRAYSCALE), b = cv::imread(argv[2], cv::IMREAD_GRAYSCALE);
    if (a.empty() || b.empty()) {
        std::fprintf(stderr, "bench_given_segments: cannot read the images\n");
        return 1;
    }
    linematch::MatcherSettings settings;
    const auto start = std::chrono::steady_clock::now();
    linematch::MatchResult result;
    if (std::string(argv[3]) == "detected") {
        result = linematch::matchLines(a, b, settings);
    } else {
        const int n = std::atoi(argv[4]);
        const double length = argc > 5 ? std::atof(argv[5]) : 0;
        std::mt19937 generator(argc > 6 ? std::atoi(argv[6]) : 1);
        auto s1 = randomSegments(a.size(), n, length, generator);
        auto s2 = randomSegments(b.size(), n, length, generator);
        result = linematch::matchSegments(a, b, std::move(s1), std::move(s2), settings);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %zu + %zu segments, %.2f s (segments %.2f, points %.2f, descriptors %.2f, checks %.2f, "
                "transfer %.2f), %zu matches, %s\n",
                argv[3], result.segments1.size(), result.segments2.size(), seconds, result.secondsSegments,
                result.secondsPoints, result.secondsDescriptors, result.secondsChecks, result.secondsTransfer,
                result.matches.size(), result.status.c_str());
    return 0;
}
