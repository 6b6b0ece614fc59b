// What the matcher's bindings share (only in a build with the line
// matcher): the matcher's options under their Python keywords, and the
// front end's failures as Python errors, for match_images and match_pairs
// alike.
#pragma once

#include "bindings.hpp"

#include "linematch/front_end_error.hpp"
#include "linematch/matcher_options.hpp"

#include <string>

namespace pybinding {

// A front-end failure as the Python error of its kind, the message
// prefixed with "<name>: ": FileError for the files (imageFile,
// damagedImage, outputFile), ImageTooLargeError, InputError for the rest.
[[noreturn]] void raiseFrontEnd(const linematch::FrontEndError& e, const std::string& name);

// The options given as keywords (a dict of the table's Python keywords),
// each checked against the matcher's table: ArgumentTypeError for an
// unknown keyword or a value of the wrong type, InputError out of range.
linematch::FrontEndSettings optionArguments(py::dict given);

// lineharvest._core._match_to_folder and _check_matcher_options
// (bind_match_folder.cpp).
void bindMatchFolder(py::module_& m);

}  // namespace pybinding
