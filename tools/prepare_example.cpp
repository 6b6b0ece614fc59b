// Prepares the inputs of a lineharvest run from two images and the
// homography between them: line segments of both images, seed
// correspondences, pair records with local homographies, and the pair index
// table. The grid cell file is written afterwards by buildgridcells from
// the segments written here (see scripts/run_example.sh).
//
// usage: prepare_example IMAGE1 IMAGE2 HOMOGRAPHY OUTDIR [options]
#include "linematch/ground_truth.hpp"
#include "linematch/pair_records.hpp"
#include "linematch/segments.hpp"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

using linematch::Segment;

struct Options {
    std::string image1, image2, homography, outDir;
    double minLength = 10.0;
    linematch::TruthSeedSettings seeds;
    int pairsPerSegment = 4;
    int cellSize = 10;
    int gridMargin = 3;
    linematch::TruthCriterion truth;
    linematch::PairRecordSettings pairs;
};

const char* const kUsage =
    "usage: prepare_example IMAGE1 IMAGE2 HOMOGRAPHY OUTDIR [options]\n"
    "  HOMOGRAPHY maps image-1 pixels to image-2 pixels: an OpenCV .xml/.yml\n"
    "  file (first matrix) or a text file of 9 numbers, row by row.\n"
    "options:\n"
    "  --min-length L        shortest detected segment kept, pixels (10)\n"
    "  --truth-distance D    ground truth: endpoint-to-line distance, pixels (2)\n"
    "  --truth-overlap R     ground truth: common part / shorter segment (0.5)\n"
    "  --seed-fraction F     share of the unique true matches kept as seeds (0.3)\n"
    "  --min-seed-length L   shortest image-1 segment used as a seed, pixels (25)\n"
    "  --seed-extent E       seed: common part / longer segment, at least (0.8)\n"
    "  --random-seed S       seed of the draw of the seeds (1)\n"
    "  --neighbours N        seeds paired with each seed (4)\n"
    "  --max-seed-distance D farthest seed partner, pixels between midpoints (150)\n"
    "  --pairs-per-segment K pair records listed for each image-1 segment (4)\n"
    "  --cell-size C         grid cell size recorded for the grid builder (10)\n"
    "  --grid-margin M       grid margin recorded for the grid builder (3)\n";

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "prepare_example: " << message << "\n" << kUsage;
    std::exit(2);
}

double number(const std::string& name, const std::string& text) {
    try {
        std::size_t used = 0;
        const double value = std::stod(text, &used);
        if (used == text.size()) return value;
    } catch (const std::exception&) {
    }
    fail("option " + name + " needs a number, got '" + text + "'");
}

Options parseOptions(int argc, char** argv) {
    Options o;
    std::vector<std::string> positional;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            std::exit(0);
        }
        if (arg.rfind("--", 0) != 0) {
            positional.push_back(arg);
            continue;
        }
        if (k + 1 >= argc) fail("option " + arg + " needs a value");
        const double v = number(arg, argv[++k]);
        if (arg == "--min-length") o.minLength = v;
        else if (arg == "--truth-distance") o.truth.maxDistance = v;
        else if (arg == "--truth-overlap") o.truth.minOverlap = v;
        else if (arg == "--seed-fraction") o.seeds.fraction = v;
        else if (arg == "--min-seed-length") o.seeds.minLength = v;
        else if (arg == "--seed-extent") o.seeds.minExtentMatch = v;
        else if (arg == "--random-seed") o.seeds.randomSeed = static_cast<std::uint32_t>(v);
        else if (arg == "--neighbours") o.pairs.neighbours = static_cast<int>(v);
        else if (arg == "--max-seed-distance") o.pairs.maxSeedDistance = v;
        else if (arg == "--pairs-per-segment") o.pairsPerSegment = static_cast<int>(v);
        else if (arg == "--cell-size") o.cellSize = static_cast<int>(v);
        else if (arg == "--grid-margin") o.gridMargin = static_cast<int>(v);
        else fail("unknown option " + arg);
    }
    if (positional.size() != 4) fail("expected 4 arguments");
    o.image1 = positional[0];
    o.image2 = positional[1];
    o.homography = positional[2];
    o.outDir = positional[3];
    if (o.seeds.fraction < 0 || o.seeds.fraction > 1) fail("--seed-fraction must lie in [0, 1]");
    if (o.pairsPerSegment < 1) fail("--pairs-per-segment must be at least 1");
    if (o.cellSize < 1) fail("--cell-size must be at least 1");
    if (o.gridMargin < 0) fail("--grid-margin must not be negative");
    return o;
}

cv::Matx33d readHomography(const std::string& path) {
    const auto dot = path.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : path.substr(dot);
    cv::Mat h;
    if (ext == ".xml" || ext == ".yml" || ext == ".yaml" || ext == ".json") {
        cv::FileStorage fs(path, cv::FileStorage::READ);
        if (!fs.isOpened()) fail("cannot read " + path);
        for (const cv::FileNode& node : fs.root()) {
            if (node.isMap()) {
                node >> h;
                break;
            }
        }
    } else {
        std::ifstream in(path);
        if (!in) fail("cannot read " + path);
        h.create(3, 3, CV_64F);
        for (int k = 0; k < 9; ++k)
            if (!(in >> h.at<double>(k / 3, k % 3))) fail(path + " does not hold 9 numbers");
    }
    if (h.rows != 3 || h.cols != 3) fail(path + " does not hold a 3x3 matrix");
    h.convertTo(h, CV_64F);
    return cv::Matx33d(h);
}

std::vector<Segment> detectSegments(const cv::Mat& image, double minLength) {
    std::vector<cv::Vec4f> lines;
    cv::createLineSegmentDetector(cv::LSD_REFINE_STD)->detect(image, lines);
    std::vector<Segment> segments;
    for (const cv::Vec4f& l : lines) {
        const Segment s{l[0], l[1], l[2], l[3]};
        if (linematch::segmentLength(s) >= minLength) segments.push_back(s);
    }
    return segments;
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::ofstream openOutput(const std::string& dir, const std::string& name) {
    std::ofstream out(dir + "/" + name);
    if (!out) fail("cannot write " + dir + "/" + name);
    return out;
}

// Coordinates are rounded to 1/1000 pixel so that the files stay small;
// the rounded values are the inputs from then on.
void writeSegments(const std::string& dir, const std::string& name,
                   std::vector<Segment>& segments) {
    std::ofstream out = openOutput(dir, name);
    char buffer[128];
    for (Segment& s : segments) {
        std::snprintf(buffer, sizeof buffer, "%.3f %.3f %.3f %.3f", s[0], s[1], s[2], s[3]);
        out << buffer << "\n";
        std::istringstream(buffer) >> s[0] >> s[1] >> s[2] >> s[3];
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parseOptions(argc, argv);
    const cv::Mat image1 = cv::imread(o.image1, cv::IMREAD_GRAYSCALE);
    const cv::Mat image2 = cv::imread(o.image2, cv::IMREAD_GRAYSCALE);
    if (image1.empty()) fail("cannot read image " + o.image1);
    if (image2.empty()) fail("cannot read image " + o.image2);
    const cv::Matx33d truth = readHomography(o.homography);

    std::vector<Segment> segments1 = detectSegments(image1, o.minLength);
    std::vector<Segment> segments2 = detectSegments(image2, o.minLength);
    writeSegments(o.outDir, "segments1.txt", segments1);
    writeSegments(o.outDir, "segments2.txt", segments2);

    const auto truthCount = linematch::truthPairs(segments1, segments2, truth, o.truth).size();
    const std::vector<linematch::SegmentMatch> seeds =
        linematch::selectSeeds(segments1, segments2, truth, o.truth, o.seeds);
    const std::vector<linematch::SeedPair> records =
        linematch::buildPairRecords(segments1, segments2, seeds, o.pairs);
    const auto table = linematch::buildPairIndexTable(segments1, records, o.pairsPerSegment);

    {
        std::ofstream out = openOutput(o.outDir, "seeds.txt");
        for (const auto& s : seeds) out << s.image1Segment << " " << s.image2Segment << "\n";
    }
    {
        // One pair record per line: i1a i1b w2a w2b 0 h11 .. h33 (0-based).
        std::ofstream out = openOutput(o.outDir, "pair_records.txt");
        char buffer[64];
        for (const auto& r : records) {
            out << seeds[r.seedA].image1Segment << " " << seeds[r.seedB].image1Segment << " "
                << seeds[r.seedA].image2Segment << " " << seeds[r.seedB].image2Segment << " 0";
            for (int k = 0; k < 9; ++k) {
                std::snprintf(buffer, sizeof buffer, " %.12g", r.record.homography[k]);
                out << buffer;
            }
            out << "\n";
        }
    }
    {
        std::ofstream out = openOutput(o.outDir, "pair_index.txt");
        for (const auto& row : table) {
            for (std::size_t j = 0; j < row.size(); ++j) out << (j ? " " : "") << row[j];
            out << "\n";
        }
    }
    {
        std::ofstream out = openOutput(o.outDir, "homography.txt");
        char buffer[64];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                std::snprintf(buffer, sizeof buffer, "%s%.10g", c ? " " : "", truth(r, c));
                out << buffer;
            }
            out << "\n";
        }
    }
    {
        // Settings the grid builder and the evaluation read back, and a
        // record of how the files were made.
        std::ofstream out = openOutput(o.outDir, "prepare_info.txt");
        const std::pair<const char*, double> info[] = {
            {"image1_width", image1.cols},
            {"image1_height", image1.rows},
            {"image2_width", image2.cols},
            {"image2_height", image2.rows},
            {"truth_distance", o.truth.maxDistance},
            {"truth_overlap", o.truth.minOverlap},
            {"min_length", o.minLength},
            {"seed_fraction", o.seeds.fraction},
            {"min_seed_length", o.seeds.minLength},
            {"seed_extent", o.seeds.minExtentMatch},
            {"random_seed", o.seeds.randomSeed},
            {"neighbours", o.pairs.neighbours},
            {"max_seed_distance", o.pairs.maxSeedDistance},
            {"pairs_per_segment", o.pairsPerSegment},
            {"cell_size", o.cellSize},
            {"grid_margin", o.gridMargin},
        };
        out << "image1_file " << baseName(o.image1) << "\nimage2_file " << baseName(o.image2)
            << "\n";
        for (const auto& [key, value] : info) out << key << " " << value << "\n";
    }

    std::cout << "segments: " << segments1.size() << " in image 1, " << segments2.size()
              << " in image 2\n"
              << "true correspondences: " << truthCount << "\n"
              << "seeds: " << seeds.size() << "\n"
              << "pair records: " << records.size() << "\n";
    return 0;
}
