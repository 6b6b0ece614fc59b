// A Python argument that the binding refuses before the core runs. The
// exception translator raises it as lineharvest.ArgumentTypeError (a
// TypeError) or lineharvest.InputError (a ValueError), with kind set to the
// same short name the MEX gateways use after "lineharvest:".
#pragma once

#include "lineharvest/errors.hpp"

#include <stdexcept>
#include <string>

namespace pybinding {

class ArgumentError : public std::runtime_error {
public:
    enum class Category { type, value };

    ArgumentError(Category category, std::string kind, const std::string& message)
        : std::runtime_error(message), category(category), kind(std::move(kind)) {}

    Category category;
    std::string kind;
};

// A core failure on a named file ("gridFile", "outputFile"): raised as
// lineharvest.FileError (an OSError) whose filename is the path.
class FileFailure : public std::runtime_error {
public:
    FileFailure(std::string kind, const std::string& message, std::string path)
        : std::runtime_error(message), kind(std::move(kind)), path(std::move(path)) {}

    std::string kind;
    std::string path;
};

// Runs body(); a HarvestError of a file kind leaves as a FileFailure naming
// path. Everything else passes unchanged.
template <class Body>
auto onFile(const std::string& path, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const lineharvest::HarvestError& e) {
        if (e.kind() == "gridFile" || e.kind() == "outputFile") throw FileFailure(e.kind(), e.what(), path);
        throw;
    }
}

[[noreturn]] inline void refuseType(const std::string& kind, const std::string& message) {
    throw ArgumentError(ArgumentError::Category::type, kind, message);
}

[[noreturn]] inline void refuseValue(const std::string& kind, const std::string& message) {
    throw ArgumentError(ArgumentError::Category::value, kind, message);
}

}  // namespace pybinding
