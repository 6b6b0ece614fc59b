// A match file scored against a known homography by the project's rule
// (2 px, same direction, overlap 0.5 of the shorter segment), the same
// figures report.json gives for the matcher's own run, for any matcher's
// answer on the same segments (benchmarks/bench_oxford.sh scores the
// one-plane answer with it). With a confidence file (one number in [0, 1]
// per match, in the match file's order) also the average precision and the
// precision of the most confident half (bench_scoring.hpp). With --lbd also
// the LBD matches alone on the same segments, as the matcher's descriptor
// seeds (mutual, ratio 0.7): the matcher computes them only where the
// point seeds are few.
//
// usage: score_matches SEGMENTS1 SEGMENTS2 MATCHES HOMOGRAPHY [CONFIDENCE] [--lbd IMAGE1 IMAGE2]
// prints: true T matches M correct C precision P recall R ap A
//         confident_half_precision H      (A and H "-" without CONFIDENCE)
//         [lbd_matches N lbd_precision P lbd_recall R]
#include "bench_scoring.hpp"

#include "linematch/descriptor_seeds.hpp"
#include "linematch/evaluation.hpp"
#include "linematch/homography_file.hpp"
#include "linematch/output_files.hpp"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <exception>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // The images of --lbd, when given, are the last three arguments.
    const bool lbd = argc >= 8 && std::string(argv[argc - 3]) == "--lbd";
    const int positional = lbd ? argc - 3 : argc;
    if (positional != 5 && positional != 6) {
        std::fprintf(stderr,
                     "usage: score_matches SEGMENTS1 SEGMENTS2 MATCHES HOMOGRAPHY [CONFIDENCE] [--lbd IMAGE1 IMAGE2]\n");
        return 2;
    }
    namespace bench = linematch::bench;
    try {
        const auto segments1 = linematch::readSegmentFile(argv[1]);
        const auto segments2 = linematch::readSegmentFile(argv[2]);
        const auto matches = bench::readMatchList(argv[3], segments1.size(), segments2.size());
        const cv::Matx33d homography = linematch::readHomographyFile(argv[4]);
        const linematch::GroundTruth truth(segments1, segments2, homography);
        const linematch::Score score = truth.score(matches);
        const double nan = std::numeric_limits<double>::quiet_NaN();
        double ap = nan, half = nan;
        if (positional == 6) {
            const auto ranked = bench::rankedScore(
                matches, bench::readConfidenceList(argv[5], matches.size()),
                [&](const linematch::SegmentMatch& m) { return truth.contains(m); }, truth.size());
            ap = ranked.averagePrecision;
            half = ranked.confidentHalfPrecision;
        }
        std::printf("true %zu matches %d correct %d precision %s recall %s ap %s confident_half_precision %s",
                    truth.size(), score.matches, score.correct, bench::formatScore(score.precision).c_str(),
                    bench::formatScore(score.recall).c_str(), bench::formatScore(ap).c_str(),
                    bench::formatScore(half).c_str());
        if (lbd) {
            cv::Mat gray[2];
            for (int k = 0; k < 2; ++k) {
                gray[k] = cv::imread(argv[argc - 2 + k], cv::IMREAD_GRAYSCALE);
                if (gray[k].empty()) throw std::runtime_error(std::string("cannot read ") + argv[argc - 2 + k]);
            }
            const linematch::Score alone = truth.score(linematch::matchDescriptors(
                linematch::lbdDescriptors(gray[0], segments1), linematch::lbdDescriptors(gray[1], segments2),
                linematch::DescriptorSettings{}));
            std::printf(" lbd_matches %d lbd_precision %s lbd_recall %s", alone.matches,
                        bench::formatScore(alone.precision).c_str(), bench::formatScore(alone.recall).c_str());
        }
        std::printf("\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "score_matches: %s\n", e.what());
        return 1;
    }
    return 0;
}
