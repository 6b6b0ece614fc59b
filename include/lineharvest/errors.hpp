// Failures of the lineharvest core. Every failure a caller can act on is a
// HarvestError with a kind of the catalogue (error_kinds.hpp: "gridFile",
// "badScalar", ...); the MEX gateway raises it as "lineharvest:<kind>", the
// Python binding as the Python exception of its category. Grid tokens that are not numbers
// raise GridTokenInvalid / GridTokenOutOfRange, whose what() is exactly the
// conversion's own text.
#pragma once

#include "lineharvest/error_kinds.hpp"

#include <stdexcept>
#include <string>

namespace lineharvest {

// A piece of a caller's input as error messages quote it: whole when short,
// otherwise its first 60 bytes (not cutting a UTF-8 character) and "...",
// so that a 100 MB token is not copied into the message and printed.
inline std::string inputExcerpt(const std::string& text) {
    constexpr std::size_t kShown = 60;
    if (text.size() <= kShown + 3) return text;
    std::size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "...";
}

class HarvestError : public std::runtime_error {
public:
    HarvestError(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    // The kind's text, as callers see it ("gridFile").
    std::string kind() const { return kindText(kind_); }
    ErrorKind errorKind() const { return kind_; }

private:
    ErrorKind kind_;
};

// Position of a failing grid token: the source (a path, or the name given
// to a stream), the 0-based line (= cell) and the token itself (its
// inputExcerpt when long).
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
