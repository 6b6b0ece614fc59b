// The C++ API on the bundled example: read the prepared inputs, build the
// grid index in memory, run the transfer on two threads and print what it
// added. No file is written unless the caller asks for one.
//   transfer_example [EXAMPLE_DIR [OUTPUT_FILE]]
#include <lineharvest/lineharvest.hpp>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Whitespace-separated numbers of a text file, k per row; rows counted.
std::vector<double> readRows(const std::string& path, int perRow, int& rows) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<double> values;
    for (double v; in >> v;) values.push_back(v);
    rows = static_cast<int>(values.size() / perRow);
    return values;
}

}  // namespace

int main(int argc, char** argv) try {
    const std::string dir = argc > 1 ? argv[1] : "example/graf";
    int n1 = 0, n2 = 0, numRecords = 0, numRows = 0;
    const std::vector<double> segments1 = readRows(dir + "/segments1.txt", 4, n1);
    const std::vector<double> segments2 = readRows(dir + "/segments2.txt", 4, n2);
    const std::vector<double> records = readRows(dir + "/pair_records.txt", 14, numRecords);
    const std::vector<double> table = readRows(dir + "/pair_index.txt", 4, numRows);

    lineharvest::TransferInput input;
    input.segments1 = {segments1.data(), n1};  // x1 y1 x2 y2 per segment
    input.segments2 = {segments2.data(), n2};
    input.pairRecords = {records.data(), numRecords};
    input.pairIndexTable = {table.data(), 4};  // 4 records tried per image-1 segment
    input.thresholds = {2.0, 0.1, 0.5};        // distance px, angle rad, overlap

    // The grid index of image 2 (640 x 800 px), 10 px cells, 3 px margin.
    const lineharvest::RasterWindow window{0, 640, 0, 800};
    const lineharvest::GridIndex grid = lineharvest::GridIndex::build(input.segments2, 10, window, 3);

    const std::vector<lineharvest::Correspondence> added = lineharvest::addCandidates(input, grid, 2);
    std::cout << added.size() << " correspondences added\n";
    for (std::size_t k = 0; k < added.size() && k < 3; ++k)
        std::cout << "  image-1 segment " << added[k].image1Segment << " -> image-2 segment "
                  << added[k].image2Segment << " (pair record " << added[k].pairRecord << ")\n";
    if (argc > 2) lineharvest::writeCandidates(argv[2], added);  // the text of Addcandidates.txt
    return 0;
} catch (const lineharvest::HarvestError& e) {
    std::cerr << "lineharvest:" << e.kind() << ": " << e.what() << "\n";
    return 1;
} catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
}
