// The line matcher's C++ API: read two images, match their line segments
// and print what each stage found. Nothing is written.
//   match_example IMAGE1 IMAGE2
#include <linematch/matcher.hpp>

#include <opencv2/imgcodecs.hpp>

#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv) try {
    if (argc != 3) {
        std::cerr << "usage: match_example IMAGE1 IMAGE2\n";
        return 2;
    }
    cv::Mat images[2];
    for (int k = 0; k < 2; ++k) {
        images[k] = cv::imread(argv[k + 1], cv::IMREAD_GRAYSCALE);
        if (images[k].empty()) {
            std::cerr << "cannot read the image " << argv[k + 1] << "\n";
            return 1;
        }
    }

    linematch::MatcherSettings settings;  // the command's defaults
    settings.threads = 2;
    const linematch::MatchResult result = linematch::matchLines(images[0], images[1], settings);

    std::cout << result.matches.size() << " segment correspondences\n"
              << "  segments          " << result.segments1.size() << " in image 1, "
              << result.segments2.size() << " in image 2\n"
              << "  descriptor seeds  " << result.descriptorMatches.size() << ", "
              << result.seeds.size() << " kept by the checks\n";
    for (std::size_t r = 0; r < result.rounds.size(); ++r)
        std::cout << "  round " << r + 1 << "           " << result.rounds[r].added << " added\n";
    // The first few, as indices into the two segment lists (x1 y1 x2 y2).
    for (std::size_t k = 0; k < result.matches.size() && k < 3; ++k) {
        const linematch::SegmentMatch& m = result.matches[k];
        std::cout << "  image-1 segment " << m.image1Segment << " -> image-2 segment " << m.image2Segment << "\n";
    }
    return 0;
} catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
}
