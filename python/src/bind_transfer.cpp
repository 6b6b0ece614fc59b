// lineharvest.add_candidates and write_candidates: the candidate transfer on
// NumPy arrays, with the GIL released while the core runs.
#include "bindings.hpp"

#include "argument_error.hpp"
#include "array_arguments.hpp"

#include "lineharvest/transfer.hpp"

#include <cmath>
#include <cstdint>
#include <vector>

namespace pybinding {

namespace {

using lineharvest::Correspondence;
using lineharvest::GridIndex;

const GridIndex& gridArgument(py::handle object) {
    if (!py::isinstance<GridIndex>(object))
        refuseType(ErrorKind::badGrid, "grid must be a lineharvest.GridIndex, got " +
                                           py::str(py::type::of(object).attr("__name__")).cast<std::string>());
    return object.cast<const GridIndex&>();
}

int threadsArgument(py::handle object) {
    const int threads = integerScalar(object, "threads");
    if (threads < 1) refuseValue(ErrorKind::badThreads, "threads must be at least 1, got " + std::to_string(threads));
    return threads;
}

py::array_t<std::int64_t> correspondenceArray(const std::vector<Correspondence>& found) {
    py::array_t<std::int64_t> result({static_cast<py::ssize_t>(found.size()), py::ssize_t{3}});
    std::int64_t* out = result.mutable_data();
    for (const Correspondence& c : found) {
        *out++ = c.image1Segment;
        *out++ = c.image2Segment;
        *out++ = c.pairRecord;
    }
    return result;
}

py::array_t<std::int64_t> addCandidates(py::handle segments1, py::handle segments2, py::handle pairRecords,
                                        py::handle pairIndex, py::handle grid, py::handle maxLineDistance,
                                        py::handle maxAngleDifference, py::handle minOverlapRatio,
                                        py::handle threads) {
    const DoubleRows s1 = doubleRows(segments1, "segments1", 4);
    const DoubleRows s2 = doubleRows(segments2, "segments2", 4);
    const DoubleRows records = doubleRows(pairRecords, "pair_records", 14);
    const DoubleRows table = doubleRows(pairIndex, "pair_index", -1);
    if (table.rows != s1.rows)
        refuseValue(ErrorKind::badShape, "pair_index must have one row per image-1 segment (" + std::to_string(s1.rows) +
                                             "), got shape " + shapeText(table.array));
    const GridIndex& index = gridArgument(grid);

    lineharvest::TransferInput input;
    input.thresholds.maxLineDistance = threshold(maxLineDistance, "max_line_distance");
    input.thresholds.maxAngleDifference = threshold(maxAngleDifference, "max_angle_difference");
    input.thresholds.minOverlapRatio = threshold(minOverlapRatio, "min_overlap_ratio");
    const int threadCount = threadsArgument(threads);

    // Indices are checked once and then followed: private copies keep them
    // as checked while other Python threads run.
    const std::vector<double> recordCopy = copyElements(records);
    const std::vector<double> tableCopy = copyElements(table);
    input.segments1 = {s1.data, s1.rows};
    input.segments2 = {s2.data, s2.rows};
    input.pairRecords = {recordCopy.data(), records.rows};
    input.pairIndexTable = {tableCopy.data(), table.columns};

    std::vector<Correspondence> found;
    {
        py::gil_scoped_release unlocked;
        found = lineharvest::addCandidates(input, index, threadCount);
    }
    return correspondenceArray(found);
}

std::vector<Correspondence> correspondencesArgument(py::handle object) {
    const DoubleRows rows = doubleRows(object, "correspondences", 3);
    std::vector<Correspondence> list(static_cast<std::size_t>(rows.rows));
    for (std::size_t k = 0; k < list.size(); ++k) {
        int values[3];
        for (int j = 0; j < 3; ++j) {
            const double v = rows.data[3 * k + j];
            if (!(v >= 0 && v <= 2147483647.0) || v != std::trunc(v))
                refuseValue(ErrorKind::badIndex, "correspondences[" + std::to_string(k) + ", " + std::to_string(j) +
                                                     "] must be a whole number in [0, 2147483647], got " + py::repr(py::float_(v)).cast<std::string>());
            values[j] = static_cast<int>(v);
        }
        list[k] = Correspondence{values[0], values[1], values[2]};
    }
    return list;
}

void writeCandidates(py::handle path, py::handle correspondences) {
    const std::string file = pathArgument(path, "path");
    const std::vector<Correspondence> list = correspondencesArgument(correspondences);
    py::gil_scoped_release unlocked;
    onFile(file, [&] { lineharvest::writeCandidates(file, list); });
}

}  // namespace

void bindTransfer(py::module_& m) {
    m.def("add_candidates", &addCandidates, py::arg("segments1"), py::arg("segments2"), py::arg("pair_records"),
          py::arg("pair_index"), py::arg("grid"), py::kw_only(), py::arg("max_line_distance") = 2.0,
          py::arg("max_angle_difference") = 0.1, py::arg("min_overlap_ratio") = 0.5, py::arg("threads") = 1,
          R"doc(add_candidates(segments1, segments2, pair_records, pair_index, grid, *, max_line_distance=2.0, max_angle_difference=0.1, min_overlap_ratio=0.5, threads=1) -> numpy.ndarray[int64, (K, 3)]

Add line-segment correspondences through the local homographies of pair records.

Every image-1 segment is mapped into image 2 by the homography of each pair
record its row of ``pair_index`` lists; the image-2 segments that ``grid``
registers in the cells the mapped segment crosses are tested (distance,
angle, overlap), and the first accepted new one per (segment, record)
becomes a correspondence.

Parameters
----------
segments1, segments2 : array_like, shape (N1, 4) and (N2, 4)
    One segment ``x1 y1 x2 y2`` per row. C-contiguous float64 arrays are
    used in place (no copy); other real arrays are converted.
pair_records : array_like, shape (P, 14)
    Columns 0 and 2 an image-1 and an image-2 segment index already matched,
    1 and 3 a second such pair, 4 unused, 5..13 a homography image 1 ->
    image 2 in row-major order.
pair_index : array_like, shape (N1, T)
    Row i lists the pair records to try for image-1 segment i, in order.
grid : GridIndex
    Grid index of the image-2 segments.
max_line_distance : float
    Largest distance (pixels) of each mapped endpoint from the candidate's line.
max_angle_difference : float
    Largest angle (radians) between the directed segments.
min_overlap_ratio : float
    Least overlap of a partial overlap, as a fraction of the shorter segment.
    A value equal to a threshold passes; an infinite threshold switches its
    test off; NaN is refused.
threads : int
    Image-1 segments are processed by this many threads; the result does not
    depend on it.

Returns
-------
numpy.ndarray of int64, shape (K, 3)
    One row ``i, w, r`` per correspondence (image-1 segment, image-2 segment,
    pair record), in the order of ``Addcandidates.txt``: increasing i, and for
    one i in the order of its pair records. All indices 0-based.

Raises
------
ArgumentTypeError (TypeError), InputError (ValueError) naming the argument
for bad types, shapes, thresholds and indices. No file is read or written.
The GIL is released while the transfer runs.
)doc");

    m.def("write_candidates", &writeCandidates, py::arg("path"), py::arg("correspondences"), R"doc(write_candidates(path, correspondences) -> None

Write correspondences as ``Addcandidates.txt`` holds them: one line ``i w r``
per row of the ``(K, 3)`` array, replacing the file. FileError (an OSError)
when it cannot be written; InputError for entries that are not whole
numbers in [0, 2**31 - 1].
)doc");
}

}  // namespace pybinding
