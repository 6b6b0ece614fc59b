// The tokens of a grid cell file line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lineharvest {

// Decimal conversion of one grid cell token with the rules of std::stoi in
// base 10. Throws std::invalid_argument("invalid stoi argument") or
// std::out_of_range("stoi argument out of range").
int convertToken(std::string_view token);

// Splits line at every character of delimiters; empty tokens are dropped.
void splitTokens(std::string line, std::string delimiters, std::vector<std::string>& tokens);

}  // namespace lineharvest
