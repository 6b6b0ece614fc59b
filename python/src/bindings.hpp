// The parts of the lineharvest._core extension module, one per core API.
#pragma once

#include <pybind11/pybind11.h>

namespace pybinding {

namespace py = pybind11;

void bindGridIndex(py::module_& m);
void bindTransfer(py::module_& m);
void bindEpipolar(py::module_& m);
void bindGrouping(py::module_& m);
// Only in a build with the line matcher (LINEHARVEST_WITH_MATCHER), which
// needs OpenCV's contrib modules.
void bindMatcher(py::module_& m);

}  // namespace pybinding
