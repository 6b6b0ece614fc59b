#include "array_arguments.hpp"

#include "argument_error.hpp"

#include <climits>
#include <cmath>
#include <cstring>

namespace pybinding {

namespace {

bool isRealKind(char kind) { return kind == 'f' || kind == 'i' || kind == 'u'; }

// np.asarray(object), or a TypeError naming the argument when NumPy cannot
// make an array of it (ragged lists, ...).
py::array asArray(py::handle object, const char* name) {
    if (py::isinstance<py::str>(object) || py::isinstance<py::bytes>(object))
        refuseType(ErrorKind::notRealDouble, std::string(name) + " must be an array of real numbers, got a string");
    py::array array = py::array::ensure(object);
    if (!array) refuseType(ErrorKind::notRealDouble, std::string(name) + " must be an array of real numbers");
    const char kind = array.dtype().kind();
    if (!isRealKind(kind))
        refuseType(ErrorKind::notRealDouble, std::string(name) + " must hold real numbers (a float or integer dtype), got dtype " +
                                                 py::str(array.dtype()).cast<std::string>());
    return array;
}

bool isAligned(const py::array& array) {
    return (py::detail::array_proxy(array.ptr())->flags & py::detail::npy_api::NPY_ARRAY_ALIGNED_) != 0;
}

}  // namespace

std::string shapeText(const py::array& array) {
    std::string text = "(";
    for (py::ssize_t d = 0; d < array.ndim(); ++d) {
        if (d > 0) text += ", ";
        text += std::to_string(array.shape(d));
    }
    if (array.ndim() == 1) text += ",";
    return text + ")";
}

DoubleRows doubleRows(py::handle object, const char* name, int columns, const char* wantedShape) {
    py::array array = asArray(object, name);
    const std::string wanted = wantedShape         ? wantedShape
                               : columns < 0 ? "(N, M)"
                                             : "(N, " + std::to_string(columns) + ")";
    if (array.ndim() != 2 || (columns >= 0 && array.shape(1) != columns))
        refuseValue(ErrorKind::badShape, std::string(name) + " must have shape " + wanted + ", got shape " + shapeText(array));
    if (array.shape(0) > INT_MAX || array.shape(1) > INT_MAX)
        refuseValue(ErrorKind::badShape, std::string(name) + " has shape " + shapeText(array) +
                                             "; at most 2147483647 rows and columns are supported");

    DoubleRows rows;
    using Exact = py::array_t<double, py::array::c_style>;
    if (py::isinstance<Exact>(array) && isAligned(array)) {
        rows.array = py::reinterpret_borrow<Exact>(array);  // the caller's memory, no copy
    } else {
        // One fresh copy converts the dtype, the byte order and the layout,
        // and is aligned (NumPy's own conversions keep unaligned memory
        // that already has the right dtype and layout).
        py::object copy = py::module_::import("numpy").attr("array")(array, py::arg("dtype") = py::dtype::of<double>(),
                                                                    py::arg("order") = "C", py::arg("copy") = true);
        rows.array = py::reinterpret_borrow<Exact>(copy);
    }
    rows.data = rows.array.data();
    rows.rows = static_cast<int>(array.shape(0));
    rows.columns = static_cast<int>(array.shape(1));
    return rows;
}

std::vector<double> copyElements(const DoubleRows& rows) {
    const std::size_t n = static_cast<std::size_t>(rows.rows) * static_cast<std::size_t>(rows.columns);
    return std::vector<double>(rows.data, rows.data + n);
}

double realScalar(py::handle object, const char* name) {
    if (PyBool_Check(object.ptr()))
        refuseType(ErrorKind::notRealDouble, std::string(name) + " must be a real number, got a bool");
    if (PyFloat_Check(object.ptr())) return PyFloat_AS_DOUBLE(object.ptr());
    py::array array = asArray(object, name);
    if (array.ndim() != 0)
        refuseValue(ErrorKind::badScalar, std::string(name) + " must be a single number, got an array of shape " +
                                              shapeText(array));
    if (array.dtype().kind() == 'b')
        refuseType(ErrorKind::notRealDouble, std::string(name) + " must be a real number, got a bool");
    py::object item = array.attr("item")();
    const double value = PyFloat_AsDouble(item.ptr());
    if (value == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        refuseValue(ErrorKind::badScalar, std::string(name) + " does not fit in a double");
    }
    return value;
}

double threshold(py::handle object, const char* name) {
    const double value = realScalar(object, name);
    if (std::isnan(value)) refuseValue(ErrorKind::badScalar, std::string(name) + " must not be NaN");
    return value;
}

int integerScalar(py::handle object, const char* name) {
    if (PyBool_Check(object.ptr()) || !PyIndex_Check(object.ptr()))
        refuseType(ErrorKind::badScalar, std::string(name) + " must be an integer, got " +
                                             py::str(py::type::of(object).attr("__name__")).cast<std::string>());
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(object.ptr()));
    if (!index) throw py::error_already_set();
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow != 0 || value < INT_MIN || value > INT_MAX)
        refuseValue(ErrorKind::badScalar, std::string(name) + " must fit in a 32-bit integer, got " +
                                              py::str(index).cast<std::string>());
    return static_cast<int>(value);
}

std::string pathArgument(py::handle object, const char* name) {
    py::bytes encoded;
    try {
        encoded = py::module_::import("os").attr("fsencode")(object);
    } catch (const py::error_already_set& e) {
        if (!e.matches(PyExc_TypeError)) throw;
        refuseType(ErrorKind::badPath, std::string(name) + " must be a path (str, bytes or os.PathLike), got " +
                                           py::str(py::type::of(object).attr("__name__")).cast<std::string>());
    }
    std::string path = encoded;
    if (path.find('\0') != std::string::npos)
        refuseValue(ErrorKind::badPath, std::string(name) + " must not contain a NUL character");
    return path;
}

}  // namespace pybinding
