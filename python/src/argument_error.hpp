// A Python argument that the binding refuses before the core runs. The
// exception translator raises it as lineharvest.ArgumentTypeError (a
// TypeError) or lineharvest.InputError (a ValueError), with kind set to the
// same short name the MEX gateways use after "lineharvest:".
#pragma once

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

[[noreturn]] inline void refuseType(const std::string& kind, const std::string& message) {
    throw ArgumentError(ArgumentError::Category::type, kind, message);
}

[[noreturn]] inline void refuseValue(const std::string& kind, const std::string& message) {
    throw ArgumentError(ArgumentError::Category::value, kind, message);
}

}  // namespace pybinding
