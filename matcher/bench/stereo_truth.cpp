// Match files on a rectified stereo pair scored against the disparity map
// of its left image (disparity_truth.hpp: endpoints shifted by the sampled
// disparity, then the project's 2 px / same direction / overlap 0.5 test),
// precision also apart for the left segments on depth edges and the
// interior ones. benchmarks/bench_stereo.sh runs it on the Middlebury
// scenes.
//
// usage: stereo_truth DISPARITY SCALE SEGMENTS1 SEGMENTS2
//                     [--lbd IMAGE1 IMAGE2] [--set NAME MATCHES [--confidence FILE]]...
//   DISPARITY  image of the left view's disparity times SCALE (8 or 16 bit,
//              0 where unknown)
//   --lbd      also score the LBD matches alone on the same segments (as
//              the matcher's descriptor seeds: mutual, ratio 0.7), set "lbd"
//   --set      a match file ("i w" per line) under a name of one word; with
//              --confidence its average precision (bench_scoring.hpp)
// prints:
//   truth true T left_segments N judged J depth_edge E
//   set NAME matches M judged J correct C precision P recall R f1 F ap A
//       confident_half_precision H edge_matches EM edge_precision EP
//       interior_matches IM interior_precision IP
// ("-" for what is not defined: no confidence, no match in that class).
#include "bench_scoring.hpp"
#include "disparity_truth.hpp"

#include "linematch/descriptor_seeds.hpp"
#include "linematch/output_files.hpp"

#include <opencv2/imgcodecs.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace bench = linematch::bench;
using linematch::Segment;
using linematch::SegmentMatch;

struct MatchSet {
    std::string name;
    std::vector<SegmentMatch> matches;
    bool ranked = false;  // a confidence file was given
    std::vector<double> confidence;
};

double ratio(int part, int whole) {
    return whole ? static_cast<double>(part) / whole : std::numeric_limits<double>::quiet_NaN();
}

void report(const MatchSet& set, const bench::DisparityTruth& truth) {
    const bench::StereoScore s = truth.score(set.matches);
    const double f1 = s.precision + s.recall > 0 ? 2 * s.precision * s.recall / (s.precision + s.recall) : 0.0;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    double ap = nan, half = nan;
    if (set.ranked) {
        const auto ranked = bench::rankedScore(
            set.matches, set.confidence, [&](const SegmentMatch& m) { return truth.contains(m); }, truth.size(),
            [&](const SegmentMatch& m) { return truth.judged(m.image1Segment); });
        ap = ranked.averagePrecision;
        half = ranked.confidentHalfPrecision;
    }
    std::printf("set %s matches %d judged %d correct %d precision %s recall %s f1 %s ap %s "
                "confident_half_precision %s edge_matches %d edge_precision %s interior_matches %d "
                "interior_precision %s\n",
                set.name.c_str(), s.matches, s.judged, s.correct, bench::formatScore(s.precision).c_str(),
                bench::formatScore(s.recall).c_str(), bench::formatScore(f1).c_str(), bench::formatScore(ap).c_str(),
                bench::formatScore(half).c_str(), s.edgeJudged, bench::formatScore(ratio(s.edgeCorrect, s.edgeJudged)).c_str(),
                s.interiorJudged, bench::formatScore(ratio(s.interiorCorrect, s.interiorJudged)).c_str());
}

cv::Mat readGray(const std::string& path) {
    const cv::Mat image = cv::imread(path, cv::IMREAD_GRAYSCALE);
    if (image.empty()) throw std::runtime_error("cannot read " + path);
    return image;
}

int usage() {
    std::fprintf(stderr,
                 "usage: stereo_truth DISPARITY SCALE SEGMENTS1 SEGMENTS2 [--lbd IMAGE1 IMAGE2] "
                 "[--set NAME MATCHES [--confidence FILE]]...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return usage();
    try {
        char* end = nullptr;
        const double scale = std::strtod(argv[2], &end);
        if (end == argv[2] || *end != '\0' || !(scale > 0) || !std::isfinite(scale)) {
            std::fprintf(stderr, "stereo_truth: SCALE must be a positive number, got %s\n", argv[2]);
            return 2;
        }
        const cv::Mat stored = cv::imread(argv[1], cv::IMREAD_GRAYSCALE | cv::IMREAD_ANYDEPTH);
        if (stored.empty()) throw std::runtime_error(std::string("cannot read ") + argv[1]);
        cv::Mat disparity;
        stored.convertTo(disparity, CV_32F, 1.0 / scale);  // 0 stays 0: unknown
        const std::vector<Segment> segments1 = linematch::readSegmentFile(argv[3]);
        const std::vector<Segment> segments2 = linematch::readSegmentFile(argv[4]);

        std::vector<MatchSet> sets;
        for (int a = 5; a < argc; ++a) {
            const std::string flag = argv[a];
            if (flag == "--lbd" && a + 2 < argc) {
                const linematch::DescriptorSettings settings;  // the matcher's: mutual, ratio 0.7
                const cv::Mat d1 = linematch::lbdDescriptors(readGray(argv[a + 1]), segments1);
                const cv::Mat d2 = linematch::lbdDescriptors(readGray(argv[a + 2]), segments2);
                sets.push_back({"lbd", linematch::matchDescriptors(d1, d2, settings), false, {}});
                a += 2;
            } else if (flag == "--set" && a + 2 < argc) {
                MatchSet set{argv[a + 1], bench::readMatchList(argv[a + 2], segments1.size(), segments2.size()), false, {}};
                a += 2;
                if (a + 2 < argc && std::string(argv[a + 1]) == "--confidence") {
                    set.ranked = true;
                    set.confidence = bench::readConfidenceList(argv[a + 2], set.matches.size());
                    a += 2;
                }
                sets.push_back(std::move(set));
            } else {
                return usage();
            }
        }

        const bench::DisparityTruth truth(disparity, segments1, segments2);
        std::printf("truth true %zu left_segments %zu judged %d depth_edge %d\n", truth.size(), segments1.size(),
                    truth.judgedCount(), truth.depthEdgeCount());
        for (const MatchSet& set : sets) report(set, truth);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "stereo_truth: %s\n", e.what());
        return 1;
    }
    return 0;
}
