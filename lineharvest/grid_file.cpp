// Reading the grid cell file: one line per grid cell, in cell order, each
// holding the space-separated 0-based image-2 segment indices of its cell.
#include "line_matcher.hpp"

#include <fstream>

namespace lineharvest {

namespace {

bool isConversionSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int convertToken(const std::string& token) {
    // Base-10 std::stoi, spelled out so that the failure texts are the same
    // on every standard library.
    std::size_t pos = 0;
    while (pos < token.size() && isConversionSpace(token[pos])) ++pos;
    bool negative = false;
    if (pos < token.size() && (token[pos] == '+' || token[pos] == '-')) {
        negative = token[pos] == '-';
        ++pos;
    }
    const std::size_t firstDigit = pos;
    long long magnitude = 0;
    bool overflow = false;
    for (; pos < token.size() && token[pos] >= '0' && token[pos] <= '9'; ++pos) {
        if (!overflow) {
            magnitude = magnitude * 10 + (token[pos] - '0');
            if (magnitude > 2147483648LL) overflow = true;
        }
    }
    if (pos == firstDigit) throw std::invalid_argument("invalid stoi argument");
    const long long value = negative ? -magnitude : magnitude;
    if (overflow || value > 2147483647LL || value < -2147483648LL)
        throw std::out_of_range("stoi argument out of range");
    return static_cast<int>(value);
}

void splitTokens(std::string line, std::string delimiters, std::vector<std::string>& tokens) {
    tokens.clear();
    std::string::size_type start = line.find_first_not_of(delimiters, 0);
    while (start != std::string::npos) {
        const std::string::size_type end = line.find_first_of(delimiters, start);
        if (end == std::string::npos) {
            tokens.push_back(line.substr(start));
            return;
        }
        tokens.push_back(line.substr(start, end - start));
        start = line.find_first_not_of(delimiters, end);
    }
}

void LineMatcher::loadGridCells() {
    std::ifstream file(gridFilePath);
    if (!file.is_open())
        throw HarvestError("gridFile", "cannot open the grid cell file '" + gridFilePath + "'");

    std::string line;
    std::vector<std::string> tokens;
    std::vector<int> cell;
    for (int lineNumber = 0; std::getline(file, line); ++lineNumber) {
        // A CR that ends the line is part of a CR LF line end.
        if (!line.empty() && line.back() == '\r' && !file.eof()) line.pop_back();
        if (line.empty()) {
            gridCells.emplace_back();
            continue;
        }
        splitTokens(line, " ", tokens);
        for (const std::string& token : tokens) {
            try {
                cell.push_back(convertToken(token));
            } catch (const std::out_of_range&) {
                throw GridTokenOutOfRange(lineNumber, token);
            } catch (const std::invalid_argument&) {
                throw GridTokenInvalid(lineNumber, token);
            }
        }
        gridCells.push_back(cell);
        cell.clear();
    }
}

void LineMatcher::checkGridEntries() const {
    for (std::size_t k = 0; k < gridCells.size(); ++k) {
        for (int entry : gridCells[k]) {
            if (entry < 0 || entry >= numSegments2) {
                throw HarvestError("gridEntry",
                                   "grid cell file '" + gridFilePath + "', line " + std::to_string(k + 1) +
                                       " (cell " + std::to_string(k) + "): entry " + std::to_string(entry) +
                                       " is not an image-2 segment index in [0, " +
                                       std::to_string(numSegments2) + ")");
            }
        }
    }
}

}  // namespace lineharvest
