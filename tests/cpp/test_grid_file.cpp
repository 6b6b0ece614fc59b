// Reading the grid cell file: token conversion, splitting, loading, entry check.
#include "line_matcher.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
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
    void point(LineMatcher& m, const std::string& path) {
        m.setParameters(2, 0.1, 0.5, 1, 100, 1);
        m.setGrid(path, 10, 0, 100, 0, 100);
    }
    std::string dir;
    std::vector<std::string> written;
};

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
        LineMatcher m;
        point(m, write(c.bytes));
        m.loadGridCells();
        EXPECT_EQ(c.cells, m.gridCells) << "file: '" << c.bytes << "'";
    }
}

TEST_F(GridFile, AppendsToExistingCells) {
    LineMatcher m;
    point(m, write("4 5\n"));
    m.gridCells = {{9}};
    m.loadGridCells();
    EXPECT_EQ((Cells{{9}, {4, 5}}), m.gridCells);
}

TEST_F(GridFile, TokenFailuresCarryLineAndToken) {
    struct Case { std::string bytes; bool outOfRange; int line; std::string token; Cells before; } cases[] = {
        {"\xEF\xBB\xBF" "1 2\n3\n", false, 0, "\xEF\xBB\xBF" "1", {}},
        {"1\n2 x 3\n4\n", false, 1, "x", {{1}}},
        {"1\n\n4 2147483648\n", true, 2, "2147483648", {{1}, {}}},
        {"5 \r", false, 0, "\r", {}},
        {"0\r\n\r\r\n", false, 1, "\r", {{0}}},
    };
    for (const Case& c : cases) {
        LineMatcher m;
        point(m, write(c.bytes));
        try {
            m.loadGridCells();
            ADD_FAILURE() << "no failure for '" << c.bytes << "'";
        } catch (const GridTokenInvalid& e) {
            EXPECT_FALSE(c.outOfRange);
            EXPECT_STREQ("invalid stoi argument", e.what());
            EXPECT_EQ(c.line, e.line);
            EXPECT_EQ(c.token, e.token);
            EXPECT_NE(nullptr, dynamic_cast<const std::invalid_argument*>(&e));
        } catch (const GridTokenOutOfRange& e) {
            EXPECT_TRUE(c.outOfRange);
            EXPECT_STREQ("stoi argument out of range", e.what());
            EXPECT_EQ(c.line, e.line);
            EXPECT_EQ(c.token, e.token);
            EXPECT_NE(nullptr, dynamic_cast<const std::out_of_range*>(&e));
        }
        EXPECT_EQ(c.before, m.gridCells) << "file: '" << c.bytes << "'";
    }
}

TEST_F(GridFile, MissingFileIsAnError) {
    LineMatcher m;
    point(m, dir + "/absent.txt");
    try {
        m.loadGridCells();
        ADD_FAILURE() << "a missing grid cell file was accepted";
    } catch (const HarvestError& e) {
        EXPECT_EQ("gridFile", e.kind());
    }
    EXPECT_TRUE(m.gridCells.empty());
}

TEST(GridEntries, Check) {
    struct Case { Cells cells; bool rejected; } cases[] = {
        {{}, false},
        {{{0, 4}, {}, {2, 2}}, false},
        {{{5}}, true},            // numSegments2 is 5 (5.9 truncated)
        {{{-1}}, true},
        {{{}, {3}, {1, 7}}, true},
        {{{INT_MIN}}, true},
    };
    for (const Case& c : cases) {
        LineMatcher m;
        m.setParameters(2, 0.1, 0.5, 1, 5.9, 1);
        m.gridCells = c.cells;
        if (!c.rejected) {
            EXPECT_NO_THROW(m.checkGridEntries());
            continue;
        }
        try {
            m.checkGridEntries();
            ADD_FAILURE() << "an out-of-range entry was accepted";
        } catch (const HarvestError& e) {
            EXPECT_EQ("gridEntry", e.kind());
        }
    }
}
