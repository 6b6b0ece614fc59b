// Reading the grid cell file: token conversion, splitting, loading, entry check.
#include "grid_tokens.hpp"
#include "lineharvest/errors.hpp"
#include "lineharvest/grid_index.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace lineharvest;
using Cells = std::vector<std::vector<int>>;

namespace {

class GridFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/lh_grid_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir = tmpl;
    }
    void TearDown() override {
        for (const std::string& f : written) unlink(f.c_str());
        rmdir(dir.c_str());
    }
    // Writes bytes exactly as given and returns the file's path.
    std::string write(const std::string& bytes) {
        std::string path = dir + "/cells" + std::to_string(written.size()) + ".txt";
        std::ofstream(path, std::ios::binary) << bytes;
        written.push_back(path);
        return path;
    }
    static GridIndex load(const std::string& path) { return GridIndex::load(path, 10, RasterWindow{0, 100, 0, 100}); }
    std::string dir;
    std::vector<std::string> written;
};

Cells cellsOf(const GridIndex& grid) {
    Cells cells;
    for (std::size_t k = 0; k < grid.numCells(); ++k) cells.emplace_back(grid.cellBegin(k), grid.cellEnd(k));
    return cells;
}

GridIndex fromCells(const Cells& cells) {
    GridIndex grid(10, RasterWindow{0, 100, 0, 100});
    for (const auto& cell : cells) grid.appendCell(cell.data(), cell.data() + cell.size());
    return grid;
}

}  // namespace

TEST(GridToken, Conversion) {
    struct Case { const char* token; int value; } cases[] = {
        {"42", 42}, {"-3", -3}, {"+8", 8}, {"12abc", 12}, {"7.9", 7}, {"0x1F", 0},
        {"3\t4", 3}, {"\t5", 5}, {"\r6", 6}, {"\v\f7", 7}, {"000000000000000000042", 42},
        {"-2147483648", INT_MIN}, {"2147483647", INT_MAX}, {"-0", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(c.value, convertToken(c.token)) << c.token;
}

TEST(GridToken, Failures) {
    struct Case { std::string token; bool outOfRange; } cases[] = {
        {"abc", false}, {"-", false}, {"+", false}, {"", false}, {"+-3", false}, {"-\t3", false},
        {"\xEF\xBB\xBF" "1", false}, {"\r", false},
        {"2147483648", true}, {"-2147483649", true}, {"99999999999999999999999", true},
    };
    for (const Case& c : cases) {
        try {
            convertToken(c.token);
            ADD_FAILURE() << "no failure for '" << c.token << "'";
        } catch (const std::invalid_argument& e) {
            EXPECT_FALSE(c.outOfRange) << c.token;
            EXPECT_STREQ("invalid stoi argument", e.what());
        } catch (const std::out_of_range& e) {
            EXPECT_TRUE(c.outOfRange) << c.token;
            EXPECT_STREQ("stoi argument out of range", e.what());
        }
    }
}

TEST(GridToken, Split) {
    using V = std::vector<std::string>;
    struct Case { std::string line, delimiters; V tokens; } cases[] = {
        {"", " ", {}},
        {"    ", " ", {}},
        {"3 17 42", " ", {"3", "17", "42"}},
        {"  5   5 ", " ", {"5", "5"}},
        {"3\t4 5", " ", {"3\t4", "5"}},
        {" a,b ,,c", " ,", {"a", "b", "c"}},
        {"a b", "", {"a b"}},
    };
    for (const Case& c : cases) {
        V tokens = {"stale"};
        splitTokens(c.line, c.delimiters, tokens);
        EXPECT_EQ(c.tokens, tokens) << "'" << c.line << "'";
    }
}

TEST_F(GridFile, Loads) {
    struct Case { std::string bytes; Cells cells; } cases[] = {
        {"3 17 42\n\n  5   5 \n", {{3, 17, 42}, {}, {5, 5}}},
        {"3 17 42\n\n  5   5 ", {{3, 17, 42}, {}, {5, 5}}},
        {"3 17 42\r\n\r\n  5   5 \r\n", {{3, 17, 42}, {}, {5, 5}}},
        {"1\n", {{1}}},
        {"1\n\n", {{1}, {}}},
        {"\n", {{}}},
        {"", {}},
        {"   \n7", {{}, {7}}},
        {"3\t4 5\n", {{3, 5}}},
        {"-1 +2 2 -1\n", {{-1, 2, 2, -1}}},
        {"1\r2\n5\r", {{1}, {5}}},      // a CR not before an LF is part of the token
        {"7\r\r\n", {{7}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.cells, cellsOf(load(write(c.bytes)))) << "file: '" << c.bytes << "'";
        std::istringstream stream(c.bytes);
        EXPECT_EQ(c.cells, cellsOf(GridIndex::load(stream, 10, RasterWindow{0, 100, 0, 100}))) << "stream: '" << c.bytes << "'";
    }
}

TEST_F(GridFile, LinesLongerThanOneReadBlock) {
    std::string bytes, longLine;
    Cells cells;
    for (int k = 0; k < 30000; ++k) longLine += std::to_string(k) + " ";
    for (int line = 0; line < 4; ++line) {
        bytes += longLine + "\r\n";
        cells.emplace_back();
        for (int k = 0; k < 30000; ++k) cells.back().push_back(k);
    }
    EXPECT_EQ(cells, cellsOf(load(write(bytes))));
}

TEST_F(GridFile, WriteReadsBackAsTheSameCells) {
    const Cells cells = {{3, 17, 42}, {}, {5, 5}, {}, {0}};
    std::ostringstream text;
    fromCells(cells).write(text);
    EXPECT_EQ("3 17 42\n\n5 5\n\n0\n", text.str());
    EXPECT_EQ(cells, cellsOf(load(write(text.str()))));
}

TEST_F(GridFile, TokenFailuresCarryLineAndToken) {
    struct Case { std::string bytes; bool outOfRange; int line; std::string token; } cases[] = {
        {"\xEF\xBB\xBF" "1 2\n3\n", false, 0, "\xEF\xBB\xBF" "1"},
        {"1\n2 x 3\n4\n", false, 1, "x"},
        {"1\n\n4 2147483648\n", true, 2, "2147483648"},
        {"5 \r", false, 0, "\r"},
        {"0\r\n\r\r\n", false, 1, "\r"},
    };
    for (const Case& c : cases) {
        const std::string path = write(c.bytes);
        try {
            load(path);
            ADD_FAILURE() << "no failure for '" << c.bytes << "'";
        } catch (const GridTokenInvalid& e) {
            EXPECT_FALSE(c.outOfRange);
            EXPECT_STREQ("invalid stoi argument", e.what());
            EXPECT_EQ(c.line, e.where.line);
            EXPECT_EQ(c.token, e.where.token);
            EXPECT_EQ(path, e.where.source);
            EXPECT_NE(nullptr, dynamic_cast<const std::invalid_argument*>(&e));
        } catch (const GridTokenOutOfRange& e) {
            EXPECT_TRUE(c.outOfRange);
            EXPECT_STREQ("stoi argument out of range", e.what());
            EXPECT_EQ(c.line, e.where.line);
            EXPECT_EQ(c.token, e.where.token);
            EXPECT_NE(nullptr, dynamic_cast<const std::out_of_range*>(&e));
        }
    }
}

// Paths that are not a readable regular file are errors, never an empty
// grid: a missing file, a directory, a FIFO without a writer (which must not
// block), a character device.
TEST_F(GridFile, PathsThatAreNotRegularFilesAreErrors) {
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    written.push_back(fifo);
    for (const std::string& path : {dir + "/absent.txt", dir, std::string("."), fifo, std::string("/dev/null"),
                                    std::string("/dev/zero")}) {
        try {
            load(path);
            ADD_FAILURE() << "'" << path << "' was accepted as a grid cell file";
        } catch (const HarvestError& e) {
            EXPECT_EQ("gridFile", e.kind()) << path;
        }
    }
}

// A stream that fails part-way is a read error, not the end of the file.
TEST(GridStream, ReadErrorIsNotEndOfFile) {
    struct FailingBuffer : std::streambuf {
        std::string text = "1 2\n3\n";
        std::size_t served = 0;
        int_type underflow() override {
            if (served < text.size()) {
                setg(&text[served], &text[served], &text[served] + 1);
                ++served;
                return traits_type::to_int_type(text[served - 1]);
            }
            throw std::runtime_error("device gone");
        }
    } buffer;
    std::istream in(&buffer);
    try {
        GridIndex::load(in, 10, RasterWindow{0, 100, 0, 100}, "flaky");
        ADD_FAILURE() << "a failing stream was read as a complete grid";
    } catch (const HarvestError& e) {
        EXPECT_EQ("gridFile", e.kind());
    }
    EXPECT_EQ(std::ios::goodbit, in.exceptions());
}

TEST(GridEntries, Check) {
    struct Case { Cells cells; bool rejected; } cases[] = {
        {{}, false},
        {{{0, 4}, {}, {2, 2}}, false},
        {{{5}}, true},            // numSegments2 is 5
        {{{-1}}, true},
        {{{}, {3}, {1, 7}}, true},
        {{{INT_MIN}}, true},
    };
    for (const Case& c : cases) {
        const GridIndex grid = fromCells(c.cells);
        if (!c.rejected) {
            EXPECT_NO_THROW(grid.checkEntries(5));
            continue;
        }
        try {
            grid.checkEntries(5);
            ADD_FAILURE() << "an out-of-range entry was accepted";
        } catch (const HarvestError& e) {
            EXPECT_EQ("gridEntry", e.kind());
        }
    }
}
