// lineharvest.epipolar_candidates and write_epipolar_candidates.
#include "bindings.hpp"

#include "argument_error.hpp"
#include "array_arguments.hpp"

#include "lineharvest/epipolar.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace pybinding {

namespace {

py::array_t<std::uint8_t> epipolarCandidates(py::handle segments1, py::handle segments2,
                                             py::handle epipolarMatrix, py::handle ratioThreshold) {
    const DoubleRows s1 = doubleRows(segments1, "segments1", 4);
    const DoubleRows s2 = doubleRows(segments2, "segments2", 4);
    const DoubleRows matrix = doubleRows(epipolarMatrix, "epipolar_matrix", 3, "(3, 3)");
    if (matrix.rows != 3)
        refuseValue(ErrorKind::badShape, "epipolar_matrix must have shape (3, 3), got shape " + shapeText(matrix.array));
    const double ratio = threshold(ratioThreshold, "ratio_threshold");

    auto candidates = std::make_unique<std::vector<std::uint8_t>>();
    {
        py::gil_scoped_release unlocked;
        *candidates = lineharvest::epipolarCandidates({s1.data, s1.rows}, {s2.data, s2.rows}, matrix.data, ratio);
    }
    // The array takes over the vector's memory: no copy of the N1 x N2 bytes.
    std::vector<std::uint8_t>* owned = candidates.get();
    py::capsule owner(owned, [](void* p) { delete static_cast<std::vector<std::uint8_t>*>(p); });
    candidates.release();
    return py::array_t<std::uint8_t>({static_cast<py::ssize_t>(s1.rows), static_cast<py::ssize_t>(s2.rows)},
                                     owned->data(), owner);
}

void writeEpipolarCandidates(py::handle path, py::handle matrixObject) {
    const std::string file = pathArgument(path, "path");
    py::object values = py::reinterpret_borrow<py::object>(matrixObject);
    py::array asArray = py::array::ensure(values);
    if (asArray && asArray.dtype().kind() == 'b') values = asArray.attr("astype")("uint8");
    const DoubleRows matrix = doubleRows(values, "matrix", -1);
    std::vector<std::uint8_t> flags(static_cast<std::size_t>(matrix.rows) * static_cast<std::size_t>(matrix.columns));
    for (std::size_t k = 0; k < flags.size(); ++k) {
        const double v = matrix.data[k];
        if (v != 0.0 && v != 1.0)
            refuseValue(ErrorKind::badIndex, "matrix must hold only 0 and 1, element " + std::to_string(k) + " is " +
                                                 py::repr(py::float_(v)).cast<std::string>());
        flags[k] = v == 1.0 ? 1 : 0;
    }
    py::gil_scoped_release unlocked;
    onFile(file, [&] { lineharvest::writeEpipolarCandidates(file, flags, matrix.rows, matrix.columns); });
}

}  // namespace

void bindEpipolar(py::module_& m) {
    m.def("epipolar_candidates", &epipolarCandidates, py::arg("segments1"), py::arg("segments2"),
          py::arg("epipolar_matrix"), py::arg("ratio_threshold"), R"doc(epipolar_candidates(segments1, segments2, epipolar_matrix, ratio_threshold) -> numpy.ndarray[uint8, (N1, N2)]

Epipolar screen of segment pairs.

``epipolar_matrix`` (3, 3) maps a homogeneous image-1 point to its epipolar
line in image 2. Element ``[i, w]`` of the returned ``(N1, N2)`` uint8 array
is 1 when image-2 segment w lies inside the band that the epipolar lines of
image-1 segment i's endpoints cut out, or sticks out of it by a ratio
strictly below ``ratio_threshold`` (NaN is refused). No file is written (see
:func:`write_epipolar_candidates`). The GIL is released while it runs.
)doc");
    m.def("write_epipolar_candidates", &writeEpipolarCandidates, py::arg("path"), py::arg("matrix"), R"doc(write_epipolar_candidates(path, matrix) -> None

Write a 0/1 matrix as ``Ecandidates.txt`` holds it: one line per row, each
value followed by a space, replacing the file. FileError (an OSError) when
it cannot be written.
)doc");
}

}  // namespace pybinding
