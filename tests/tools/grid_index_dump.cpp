// Test helper: builds the grid index of the segments in a text file (one
// segment "x1 y1 x2 y2" per line) with the core's GridIndex::build and writes
// it as a grid cell file, so that the Octave tests can compare it byte for
// byte with what buildgridcells writes.
//   grid_index_dump SEGMENTS OUT CELLSIZE YBEGIN YEND XBEGIN XEND MARGIN
#include "lineharvest/grid_index.hpp"

#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 9) {
        std::cerr << "usage: grid_index_dump SEGMENTS OUT CELLSIZE YBEGIN YEND XBEGIN XEND MARGIN\n";
        return 2;
    }
    try {
        std::ifstream in(argv[1]);
        std::vector<double> segments;
        for (double v; in >> v;) segments.push_back(v);
        const auto arg = [&](int k) { return std::atoi(argv[k]); };
        const lineharvest::GridIndex grid = lineharvest::GridIndex::build(
            {segments.data(), static_cast<int>(segments.size() / 4)}, arg(3),
            lineharvest::RasterWindow{arg(4), arg(5), arg(6), arg(7)}, arg(8));
        std::ofstream out(argv[2], std::ios::binary);
        grid.write(out);
        return out ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "grid_index_dump: " << e.what() << "\n";
        return 1;
    }
}
