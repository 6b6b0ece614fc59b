// The failure type of the lineharvest core for problems the caller can act
// on (a file that cannot be opened, an index outside its array, ...).
#pragma once

#include <stdexcept>
#include <string>

namespace lineharvest {

class HarvestError : public std::runtime_error {
public:
    // kind is a short machine-readable name such as "gridFile"; the MEX
    // gateway turns it into the error identifier "lineharvest:<kind>".
    HarvestError(std::string kind, const std::string& message)
        : std::runtime_error(message), kind_(std::move(kind)) {}
    const std::string& kind() const { return kind_; }

private:
    std::string kind_;
};

}  // namespace lineharvest
