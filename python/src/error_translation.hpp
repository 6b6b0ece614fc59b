// Turns the core's C++ exceptions into the package's Python exceptions
// (lineharvest._errors), so that no C++ exception reaches the interpreter
// untranslated and every error carries the MEX gateways' kind.
#pragma once

#include <pybind11/pybind11.h>

namespace pybinding {

// Registers the translator with pybind11; call once from the module init.
void registerErrorTranslation();

}  // namespace pybinding
