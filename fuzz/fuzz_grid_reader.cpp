// Fuzz target of the grid cell file reader. The input is the file's text.
//
// Each input is read four ways and checked against a reference reader
// written here from the file rules (lines end at LF, a CR directly before
// an LF belongs to the line end, tokens are split at spaces only, each token
// converted as base-10 std::stoi does):
//  1. from a string stream: the same cells, or the same failing line and
//     token with the same exception type and text;
//  2. from a file by its path: the same as 1, also when a long first line
//     puts the text across the 64 KiB mark;
//  3. through a stream whose reading fails after a prefix of the input: an
//     error, never a shorter grid;
//  4. the loaded grid written back and read again: the same cells.
#include "fuzz_check.hpp"
#include "scratch_file.hpp"

#include "lineharvest/errors.hpp"
#include "lineharvest/grid_index.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

namespace {

using lineharvest::GridIndex;

const lineharvest::RasterWindow kWindow{0, 100, 0, 100};
constexpr int kCellSize = 10;

enum class Outcome { cells, invalidToken, tokenOutOfRange, readError, otherError };

const char* name(Outcome outcome) {
    switch (outcome) {
        case Outcome::cells: return "cells";
        case Outcome::invalidToken: return "invalid token";
        case Outcome::tokenOutOfRange: return "token out of range";
        case Outcome::readError: return "read error";
        case Outcome::otherError: return "other error";
    }
    return "?";
}

struct Result {
    Outcome outcome = Outcome::cells;
    std::vector<std::vector<int>> cells;
    long long failingLine = -1;
    std::string failingToken;
    std::string source;
    std::string message;
    // Reference only: offset of the LF that ends the failing line, or the
    // input size when the line has none.
    std::size_t failingLineEnd = 0;

    void tokenFailure(Outcome kind, const char* what, const lineharvest::GridTokenPosition& where) {
        outcome = kind;
        message = what;
        failingLine = where.line;
        failingToken = where.token;
        source = where.source;
    }
};

// ---- reference reader, from the rules -------------------------------------

Outcome convertLikeStoi(const std::string& token, int& value) {
    // std::stoi itself is the reference: strtol in the "C" locale, base 10,
    // plus the int range check.
    try {
        value = std::stoi(token);
        return Outcome::cells;
    } catch (const std::invalid_argument&) {
        return Outcome::invalidToken;
    } catch (const std::out_of_range&) {
        return Outcome::tokenOutOfRange;
    }
}

Result referenceRead(const std::string& text) {
    Result result;
    std::size_t begin = 0;
    for (long long lineNumber = 0; begin < text.size(); ++lineNumber) {
        const std::size_t lf = text.find('\n', begin);
        const std::size_t end = lf == std::string::npos ? text.size() : lf;
        std::string line = text.substr(begin, end - begin);
        if (lf != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();

        std::vector<int> cell;
        std::size_t pos = 0;
        while ((pos = line.find_first_not_of(' ', pos)) != std::string::npos) {
            const std::size_t stop = std::min(line.find(' ', pos), line.size());
            const std::string token = line.substr(pos, stop - pos);
            int value = 0;
            const Outcome converted = convertLikeStoi(token, value);
            if (converted != Outcome::cells) {
                result.outcome = converted;
                result.failingLine = lineNumber;
                result.failingToken = token;
                result.failingLineEnd = end;
                return result;
            }
            cell.push_back(value);
            pos = stop;
        }
        result.cells.push_back(cell);
        begin = lf == std::string::npos ? text.size() : lf + 1;
    }
    return result;
}

// ---- the reader under test ------------------------------------------------

std::vector<std::vector<int>> cellsOf(const GridIndex& grid) {
    std::vector<std::vector<int>> cells(grid.numCells());
    for (std::size_t k = 0; k < cells.size(); ++k) cells[k].assign(grid.cellBegin(k), grid.cellEnd(k));
    return cells;
}

// The exception a failing stream throws into the reader (see ReadFailingBuffer).
struct InjectedReadError : std::runtime_error {
    InjectedReadError() : std::runtime_error("injected read error") {}
};

template <class Load>
Result capture(Load&& load) {
    Result result;
    try {
        const GridIndex grid = load();
        result.cells = cellsOf(grid);
        FUZZ_CHECK(grid.cellSize() == kCellSize && grid.gridColumns() == 11, "layout lost: cell %d, columns %d",
                   grid.cellSize(), grid.gridColumns());
    } catch (const lineharvest::GridTokenInvalid& e) {
        result.tokenFailure(Outcome::invalidToken, e.what(), e.where);
    } catch (const lineharvest::GridTokenOutOfRange& e) {
        result.tokenFailure(Outcome::tokenOutOfRange, e.what(), e.where);
    } catch (const lineharvest::HarvestError& e) {
        result.outcome = e.kind() == "gridFile" ? Outcome::readError : Outcome::otherError;
        result.message = e.kind() + ": " + e.what();
    } catch (const InjectedReadError& e) {
        // A reader that lets the stream's own exception through also reports
        // the failure; only a silent end of file would be wrong.
        result.outcome = Outcome::readError;
        result.message = e.what();
    }
    return result;
}

void expectSame(const Result& expected, const Result& actual, const char* how, const std::string& source) {
    FUZZ_CHECK(actual.outcome == expected.outcome, "%s: expected %s, got %s (%s)", how, name(expected.outcome),
               name(actual.outcome), actual.message.c_str());
    if (expected.outcome == Outcome::cells) {
        FUZZ_CHECK(actual.cells == expected.cells, "%s: %zu cells read, %zu expected, or their entries differ", how,
                   actual.cells.size(), expected.cells.size());
        return;
    }
    FUZZ_CHECK(actual.failingLine == expected.failingLine, "%s: failure reported on line %lld, expected %lld", how,
               actual.failingLine, expected.failingLine);
    FUZZ_CHECK(actual.failingToken == expected.failingToken, "%s: failing token differs", how);
    FUZZ_CHECK(actual.source == source, "%s: source '%s', expected '%s'", how, actual.source.c_str(),
               source.c_str());
    const char* text =
        expected.outcome == Outcome::invalidToken ? "invalid stoi argument" : "stoi argument out of range";
    FUZZ_CHECK(actual.message == text, "%s: message '%s', expected '%s'", how, actual.message.c_str(), text);
}

// Serves the first `limit` bytes, then fails every further read by throwing
// from underflow(), as a failing device or an exhausted allocator would.
class ReadFailingBuffer : public std::streambuf {
public:
    ReadFailingBuffer(const std::string& text, std::size_t limit) : prefix_(text.substr(0, limit)) {
        setg(prefix_.data(), prefix_.data(), prefix_.data() + prefix_.size());
    }

protected:
    int_type underflow() override { throw InjectedReadError(); }

private:
    std::string prefix_;
};

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    FUZZ_CHECK(out.good(), "cannot write the scratch file");
}

const std::string& scratchPath() {
    static const ScratchFile file("/tmp/fuzz_grid_reader_");
    return file.path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Result expected = referenceRead(text);

    // 1. From a stream.
    const std::string streamName = "fuzzed stream";
    const Result fromStream = capture([&] {
        std::istringstream in(text);
        return GridIndex::load(in, kCellSize, kWindow, streamName);
    });
    expectSame(expected, fromStream, "stream", streamName);

    // 2. From a file by its path.
    const std::string path = scratchPath();
    writeFile(path, text);
    const Result fromFile = capture([&] { return GridIndex::load(path, kCellSize, kWindow); });
    expectSame(expected, fromFile, "file", path);

    // 2b. The same text behind a first line of spaces (one empty cell) so
    //     long that the text crosses the 64 KiB mark, where a reader that
    //     reads in blocks must carry a line over from one block to the next.
    //     One input in four, chosen by its bytes: the long file is slow.
    std::size_t shift = 0;
    for (std::uint8_t byte : text) shift = shift * 131 + byte;
    if (shift % 4 == 0) {
        const std::size_t fillerLength = 65536 - (shift / 4) % (size + 1);
        writeFile(path, std::string(fillerLength - 1, ' ') + "\n" + text);
        Result behindFiller = expected;
        behindFiller.cells.insert(behindFiller.cells.begin(), std::vector<int>());
        if (behindFiller.failingLine >= 0) ++behindFiller.failingLine;
        expectSame(behindFiller, capture([&] { return GridIndex::load(path, kCellSize, kWindow); }), "long file",
                   path);
    }

    // 3. A stream that fails after a prefix (position chosen from the input,
    //    so that it is reproducible): never a grid, and a token error only if
    //    the reference meets it in a line that ends inside the prefix.
    std::size_t limit = size;
    for (std::uint8_t byte : text) limit = limit * 31 + byte;
    limit %= size + 1;
    const Result failing = capture([&] {
        ReadFailingBuffer buffer(text, limit);
        std::istream in(&buffer);
        return GridIndex::load(in, kCellSize, kWindow, streamName);
    });
    if (failing.outcome == Outcome::invalidToken || failing.outcome == Outcome::tokenOutOfRange) {
        FUZZ_CHECK(expected.failingLineEnd < limit, "token error reported beyond the bytes read (%zu of %zu)", limit,
                   size);
        expectSame(expected, failing, "failing stream", streamName);
    } else {
        FUZZ_CHECK(failing.outcome == Outcome::readError,
                   "a read failure after %zu of %zu bytes was reported as %s (%zu cells)", limit, size,
                   name(failing.outcome), failing.cells.size());
    }

    // 4. Written back and read again.
    if (expected.outcome == Outcome::cells) {
        std::istringstream in(text);
        const GridIndex grid = GridIndex::load(in, kCellSize, kWindow);
        std::ostringstream written;
        grid.write(written);
        std::istringstream again(written.str());
        FUZZ_CHECK(cellsOf(GridIndex::load(again, kCellSize, kWindow)) == expected.cells,
                   "written grid reads back differently");
    }
    return 0;
}
