// Failures of the lineharvest core. Every failure a caller can act on is a
// HarvestError with a short machine-readable kind ("gridFile", "badScalar",
// ...); the MEX gateway raises it as "lineharvest:<kind>", the Python
// binding as the matching Python exception. Grid tokens that are not numbers
// raise GridTokenInvalid / GridTokenOutOfRange, whose what() is exactly the
// conversion's own text.
#pragma once

#include <stdexcept>
#include <string>

namespace lineharvest {

class HarvestError : public std::runtime_error {
public:
    HarvestError(std::string kind, const std::string& message)
        : std::runtime_error(message), kind_(std::move(kind)) {}
    const std::string& kind() const { return kind_; }

private:
    std::string kind_;
};

// Position of a failing grid token: the source (a path, or the name given
// to a stream), the 0-based line (= cell) and the token itself.
struct GridTokenPosition {
    std::string source;
    long long line = 0;
    std::string token;
};

class GridTokenInvalid : public std::invalid_argument {
public:
    explicit GridTokenInvalid(GridTokenPosition where)
        : std::invalid_argument("invalid stoi argument"), where(std::move(where)) {}
    GridTokenPosition where;
};

class GridTokenOutOfRange : public std::out_of_range {
public:
    explicit GridTokenOutOfRange(GridTokenPosition where)
        : std::out_of_range("stoi argument out of range"), where(std::move(where)) {}
    GridTokenPosition where;
};

}  // namespace lineharvest
