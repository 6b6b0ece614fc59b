// A Python argument that the binding refuses before the core runs. The
// exception translator raises it as the Python exception of its category
// (lineharvest.ArgumentTypeError, a TypeError, or lineharvest.InputError, a
// ValueError, or the InputError of its kind), with kind set to the same
// short name the MEX gateways use after "lineharvest:".
#pragma once

#include "lineharvest/errors.hpp"

#include <stdexcept>
#include <string>

namespace pybinding {

using lineharvest::ErrorKind;

class ArgumentError : public std::runtime_error {
public:
    // argumentType or value: a kind may be refused as either (badOptions is
    // a bool that is no bool, or an option out of range).
    ArgumentError(lineharvest::FailureCategory category, ErrorKind kind, const std::string& message)
        : std::runtime_error(message), category(category), kind(kind) {}

    lineharvest::FailureCategory category;
    ErrorKind kind;
};

// A core failure on a named file (a kind of the file category): raised as
// lineharvest.FileError (an OSError) whose filename is the path.
class FileFailure : public std::runtime_error {
public:
    FileFailure(ErrorKind kind, const std::string& message, std::string path)
        : std::runtime_error(message), kind(kind), path(std::move(path)) {}

    ErrorKind kind;
    std::string path;
};

// Runs body(); a HarvestError of a file kind leaves as a FileFailure naming
// path. Everything else passes unchanged.
template <class Body>
auto onFile(const std::string& path, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const lineharvest::HarvestError& e) {
        if (lineharvest::categoryOf(e.errorKind()) == lineharvest::FailureCategory::file)
            throw FileFailure(e.errorKind(), e.what(), path);
        throw;
    }
}

[[noreturn]] inline void refuseType(ErrorKind kind, const std::string& message) {
    throw ArgumentError(lineharvest::FailureCategory::argumentType, kind, message);
}

[[noreturn]] inline void refuseValue(ErrorKind kind, const std::string& message) {
    throw ArgumentError(lineharvest::FailureCategory::value, kind, message);
}

}  // namespace pybinding
