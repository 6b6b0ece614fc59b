// The lineharvest._core extension module; the package lineharvest re-exports it.
#include "bindings.hpp"
#include "array_arguments.hpp"
#include "error_translation.hpp"

#include <cstdint>

PYBIND11_MODULE(_core, m) {
    // The docstrings carry their own signatures: every argument is taken as
    // a Python object and checked by the binding, so pybind11's would read
    // "handle" everywhere.
    pybind11::options options;
    options.disable_function_signatures();
    m.doc() = "Bindings of the lineharvest and coordsift cores; use the package lineharvest.";
    // The build's version (the file VERSION, through CMake): the package's
    // __version__, written nowhere else.
    m.attr("__version__") = LINEHARVEST_VERSION;
    pybinding::registerErrorTranslation();
    pybinding::bindGridIndex(m);
    pybinding::bindTransfer(m);
    pybinding::bindEpipolar(m);
    pybinding::bindGrouping(m);
#ifdef LINEHARVEST_WITH_MATCHER
    pybinding::bindMatcher(m);
#endif
    // A test hook: the address the binding passes to the core for an
    // (N, columns) array, to check that C-contiguous float64 input is used
    // in place.
    m.def(
        "_argument_address",
        [](pybind11::handle array, int columns) {
            return reinterpret_cast<std::uintptr_t>(pybinding::doubleRows(array, "array", columns).data);
        },
        pybind11::arg("array"), pybind11::arg("columns"));
}
