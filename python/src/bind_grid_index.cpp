// lineharvest.GridIndex: the grid index of the image-2 segments, loaded from
// a grid cell file or text, or built from the segments.
#include "bindings.hpp"

#include "argument_error.hpp"
#include "array_arguments.hpp"

#include "lineharvest/errors.hpp"
#include "lineharvest/grid_index.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include <sstream>

namespace pybinding {

namespace {

using lineharvest::GridIndex;
using lineharvest::RasterWindow;

RasterWindow windowArguments(py::handle yBegin, py::handle yEnd, py::handle xBegin, py::handle xEnd) {
    return RasterWindow{integerScalar(yBegin, "y_begin"), integerScalar(yEnd, "y_end"),
                        integerScalar(xBegin, "x_begin"), integerScalar(xEnd, "x_end")};
}

int cellSizeArgument(py::handle object) {
    const int cellSize = integerScalar(object, "cell_size");
    if (cellSize < 1) refuseValue(ErrorKind::badCellSize, "cell_size must be at least 1, got " + std::to_string(cellSize));
    return cellSize;
}

GridIndex loadFile(py::handle path, py::handle cellSize, py::handle yBegin, py::handle yEnd, py::handle xBegin,
                   py::handle xEnd) {
    const std::string file = pathArgument(path, "path");
    const int cell = cellSizeArgument(cellSize);
    const RasterWindow window = windowArguments(yBegin, yEnd, xBegin, xEnd);
    py::gil_scoped_release unlocked;
    return onFile(file, [&] { return GridIndex::load(file, cell, window); });
}

GridIndex loadText(const std::string& text, py::handle cellSize, py::handle yBegin, py::handle yEnd,
                   py::handle xBegin, py::handle xEnd, const std::string& name) {
    const int cell = cellSizeArgument(cellSize);
    const RasterWindow window = windowArguments(yBegin, yEnd, xBegin, xEnd);
    py::gil_scoped_release unlocked;
    std::istringstream in(text);
    return GridIndex::load(in, cell, window, name);
}

GridIndex buildFromSegments(py::handle segments2, py::handle cellSize, py::handle yBegin, py::handle yEnd,
                            py::handle xBegin, py::handle xEnd, py::handle margin) {
    const DoubleRows segments = doubleRows(segments2, "segments2", 4);
    const int cell = cellSizeArgument(cellSize);
    const RasterWindow window = windowArguments(yBegin, yEnd, xBegin, xEnd);
    const int widening = integerScalar(margin, "margin");
    py::gil_scoped_release unlocked;
    return GridIndex::build(lineharvest::SegmentArray{segments.data, segments.rows}, cell, window, widening);
}

std::string gridText(const GridIndex& grid) {
    std::ostringstream out;
    grid.write(out);
    return out.str();
}

bool sameCells(const GridIndex& a, const GridIndex& b) {
    if (a.cellSize() != b.cellSize() || a.numCells() != b.numCells() || a.numEntries() != b.numEntries())
        return false;
    const RasterWindow wa = a.window();
    const RasterWindow wb = b.window();
    if (wa.yBegin != wb.yBegin || wa.yEnd != wb.yEnd || wa.xBegin != wb.xBegin || wa.xEnd != wb.xEnd) return false;
    for (std::size_t c = 0; c < a.numCells(); ++c) {
        if (a.cellEnd(c) - a.cellBegin(c) != b.cellEnd(c) - b.cellBegin(c)) return false;
        if (!std::equal(a.cellBegin(c), a.cellEnd(c), b.cellBegin(c))) return false;
    }
    return true;
}

py::tuple windowTuple(const GridIndex& grid) {
    const RasterWindow w = grid.window();
    return py::make_tuple(w.yBegin, w.yEnd, w.xBegin, w.xEnd);
}

}  // namespace

void bindGridIndex(py::module_& m) {
    py::class_<GridIndex> cls(m, "GridIndex", R"doc(
Grid index of the image-2 segments: a regular grid of ``cell_size`` pixels
over raw pixel coordinates, each cell listing image-2 segment indices.

A pixel ``(x, y)`` lies in cell ``(y // cell_size) * grid_columns + x // cell_size``
with ``grid_columns = (x_end - x_begin) // cell_size + 1`` (division
truncating toward zero); the window ``x_begin <= x < x_end``,
``y_begin <= y < y_end`` limits which raster pixels are looked up.
Make one with :meth:`load`, :meth:`from_text` or :meth:`build`; it is
immutable, comparable with ``==`` and picklable.
)doc");

    cls.def_static("load", &loadFile, py::arg("path"), py::arg("cell_size"), py::arg("y_begin"), py::arg("y_end"),
                   py::arg("x_begin"), py::arg("x_end"), R"doc(load(path, cell_size, y_begin, y_end, x_begin, x_end) -> GridIndex

Read a grid cell file (one line per cell, space-separated image-2 segment
indices; CR LF line ends accepted), as ``buildgridcells`` writes it.

Raises FileError (an OSError) when the path is not a readable regular file
or reading fails, GridTokenError (a ValueError) for a token that is not a
decimal int, InputError for a cell size below 1. Entries are compared with
the number of image-2 segments when the index is used.
)doc");
    cls.def_static("from_text", &loadText, py::arg("text"), py::arg("cell_size"), py::arg("y_begin"),
                   py::arg("y_end"), py::arg("x_begin"), py::arg("x_end"), py::arg("name") = "<text>", R"doc(from_text(text, cell_size, y_begin, y_end, x_begin, x_end, name="<text>") -> GridIndex

The same as :meth:`load` from the file's text; ``name`` stands for the path
in error messages.
)doc");
    cls.def_static("build", &buildFromSegments, py::arg("segments2"), py::arg("cell_size"), py::arg("y_begin"),
                   py::arg("y_end"), py::arg("x_begin"), py::arg("x_end"), py::arg("margin") = 0, R"doc(build(segments2, cell_size, y_begin, y_end, x_begin, x_end, margin=0) -> GridIndex

The cells ``buildgridcells`` writes for the ``(N2, 4)`` image-2 segments:
each segment is rasterised from its truncated endpoints, every raster pixel
widened by ``margin`` pixels in x and y, and registered in the cell of every
widened pixel inside the window.

InputError for coordinates that are not finite or not below 2**24 in
magnitude, a window that ends before it begins, or a negative margin.
)doc");

    cls.def_property_readonly("cell_size", &GridIndex::cellSize, "Cell edge in pixels.");
    cls.def_property_readonly("window", &windowTuple, "The window as (y_begin, y_end, x_begin, x_end).");
    cls.def_property_readonly("grid_columns", &GridIndex::gridColumns, "Cells per grid row.");
    cls.def_property_readonly("num_cells", &GridIndex::numCells, "Number of cells (lines of the grid cell file).");
    cls.def_property_readonly("num_entries", &GridIndex::numEntries, "Number of entries over all cells.");
    cls.def("__len__", &GridIndex::numCells);
    cls.def(
        "cell",
        [](const GridIndex& grid, py::handle index) {
            const long long k = integerScalar(index, "cell");
            if (k < 0 || static_cast<std::size_t>(k) >= grid.numCells())
                throw py::index_error("cell " + std::to_string(k) + " is not in [0, " +
                                      std::to_string(grid.numCells()) + ")");
            const int* begin = grid.cellBegin(static_cast<std::size_t>(k));
            const int* end = grid.cellEnd(static_cast<std::size_t>(k));
            py::array_t<std::int64_t> entries(end - begin);
            std::copy(begin, end, entries.mutable_data());
            return entries;
        },
        py::arg("index"), "cell(index) -> numpy.ndarray[int64]\n\nThe image-2 segment indices registered in one cell.");
    cls.def("to_text", &gridText, "to_text() -> str\n\nThe grid cell file text: one line per cell, entries separated by spaces.");
    cls.def(
        "write",
        [](const GridIndex& grid, py::handle path) {
            const std::string file = pathArgument(path, "path");
            const std::string text = gridText(grid);
            py::gil_scoped_release unlocked;
            std::FILE* out = std::fopen(file.c_str(), "wb");
            if (out == nullptr) throw FileFailure(ErrorKind::outputFile, "cannot open '" + file + "' for writing", file);
            const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
            if (std::fclose(out) != 0 || !written) throw FileFailure(ErrorKind::outputFile, "failed writing '" + file + "'", file);
        },
        py::arg("path"), "write(path) -> None\n\nWrite the grid cell file (FileError when it cannot be written).");
    cls.def("__eq__", [](const GridIndex& a, py::object b) -> py::object {
        if (!py::isinstance<GridIndex>(b)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
        return py::bool_(sameCells(a, b.cast<const GridIndex&>()));
    });
    cls.attr("__hash__") = py::none();
    cls.def("__repr__", [](const GridIndex& grid) {
        const RasterWindow w = grid.window();
        return "GridIndex(cell_size=" + std::to_string(grid.cellSize()) + ", window=(" + std::to_string(w.yBegin) +
               ", " + std::to_string(w.yEnd) + ", " + std::to_string(w.xBegin) + ", " + std::to_string(w.xEnd) +
               "), num_cells=" + std::to_string(grid.numCells()) +
               ", num_entries=" + std::to_string(grid.numEntries()) + ")";
    });
    cls.def(py::pickle(
        [](const GridIndex& grid) {
            const RasterWindow w = grid.window();
            return py::make_tuple(gridText(grid), grid.cellSize(), w.yBegin, w.yEnd, w.xBegin, w.xEnd);
        },
        [](const py::tuple& state) {
            // A crafted state is a refused input like any other argument.
            if (state.size() != 6 || !py::isinstance<py::str>(state[0]))
                refuseValue(ErrorKind::badPickle, "GridIndex: the pickle state must be (grid text, cell_size, y_begin, "
                                                  "y_end, x_begin, x_end)");
            return loadText(state[0].cast<std::string>(), state[1], state[2], state[3], state[4], state[5],
                            "<pickle>");
        }));
}

}  // namespace pybinding
