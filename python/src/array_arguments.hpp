// Conversion and checking of Python arguments for the core: arrays of
// doubles with a fixed number of columns, scalars, integers and paths.
// Every refusal names the argument; nothing is read outside the memory
// NumPy reports for an array.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <vector>

namespace pybinding {

namespace py = pybind11;

// A C-contiguous, aligned, native float64 array of shape (rows, columns).
// The caller's own array when it already is one (no copy), otherwise a
// converted copy that this object keeps alive.
struct DoubleRows {
    py::array_t<double, py::array::c_style> array;
    const double* data = nullptr;
    int rows = 0;
    int columns = 0;
};

// Accepts any array-like of real numbers (float or integer dtypes) with
// ndim == 2 and the given number of columns; columns < 0 accepts any
// number. Rows must fit in an int. Booleans, complex numbers, strings and
// objects are refused with a TypeError.
// wantedShape: the shape the message asks for where it is not "(N, columns)"
// (a 3 x 3 matrix).
DoubleRows doubleRows(py::handle object, const char* name, int columns, const char* wantedShape = nullptr);

// A copy of the array's elements: index arrays are copied so that another
// thread writing to them while the core runs (without the GIL) cannot turn
// a checked index into one past an array.
std::vector<double> copyElements(const DoubleRows& rows);

// A real number (Python int or float, NumPy real scalar, 0-d array).
double realScalar(py::handle object, const char* name);
// The same, NaN refused with kind "badScalar"; infinities pass.
double threshold(py::handle object, const char* name);
// An integer (anything with __index__, not bool) that fits in an int.
int integerScalar(py::handle object, const char* name);
// A path (str, bytes or os.PathLike) as the bytes the OS sees; embedded
// NUL characters are refused.
std::string pathArgument(py::handle object, const char* name);

// "(3, 4)" for error messages.
std::string shapeText(const py::array& array);

}  // namespace pybinding
