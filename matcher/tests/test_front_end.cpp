// The front-end layer the command, the MEX gateway and Python share: the
// option table against the cases every front end's test reads, the help
// files and the report that must name every option, and the image sizes
// that crafted headers declare.
#include "linematch/front_end_error.hpp"
#include "linematch/image_header.hpp"
#include "linematch/image_input.hpp"
#include "linematch/match_report.hpp"
#include "linematch/matcher_options.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using linematch::FrontEndError;
using linematch::OptionNaming;

std::string lowered(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST(OptionTable, TakesTheCasesEveryFrontEndTakes) {
    std::ifstream cases(LINEMATCH_OPTION_CASES);
    ASSERT_TRUE(cases) << LINEMATCH_OPTION_CASES;
    std::set<std::string> covered;
    std::string line;
    while (std::getline(cases, line)) {
        std::istringstream fields(line);
        std::string key, mex, flag, value, verdict;
        if (!(fields >> key) || key[0] == '#') continue;
        ASSERT_TRUE(fields >> mex >> flag >> value >> verdict) << line;
        SCOPED_TRACE(line);
        const linematch::MatcherOption* option = linematch::findOption(key, OptionNaming::key);
        if (!option) {
            // An unknown name, unknown in every naming.
            EXPECT_EQ(verdict, "refuse");
            EXPECT_EQ(linematch::findOption(mex, OptionNaming::mexName), nullptr);
            EXPECT_EQ(linematch::findOption(flag, OptionNaming::flag), nullptr);
            continue;
        }
        covered.insert(key);
        // The three namings are one option; MEX names in any case.
        EXPECT_EQ(linematch::findOption(lowered(mex), OptionNaming::mexName), option);
        EXPECT_EQ(linematch::findOption(flag, OptionNaming::flag), option);
        const double v = value == "false" ? 0.0 : std::strtod(value.c_str(), nullptr);
        linematch::FrontEndSettings settings;
        if (verdict == "refuse") {
            try {
                linematch::applyOption(settings, *option, v, flag);
                ADD_FAILURE() << "accepted";
            } catch (const FrontEndError& e) {
                EXPECT_EQ(e.kind(), "badOptions");
                EXPECT_NE(std::strstr(e.what(), flag.c_str()), nullptr) << e.what();
            }
            continue;
        }
        linematch::applyOption(settings, *option, v, flag);
        EXPECT_EQ(option->get(settings), v);
        if (verdict == "imageTooLarge")
            EXPECT_THROW(linematch::checkImagePixels(20, 20, settings.maxPixels, "image"), FrontEndError);
        else
            EXPECT_NO_THROW(linematch::checkImagePixels(20, 20, settings.maxPixels, "image"));
    }
    for (const linematch::MatcherOption& option : linematch::matcherOptions())
        EXPECT_TRUE(covered.count(option.key)) << option.key << " has no case in " << LINEMATCH_OPTION_CASES;
}

std::string fileText(const char* path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// name stands alone in text: not a part of a longer name.
bool namesWord(const std::string& text, const std::string& name) {
    const auto partOfName = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1))
        if ((at == 0 || !partOfName(text[at - 1])) &&
            (at + name.size() == text.size() || !partOfName(text[at + name.size()])))
            return true;
    return false;
}

// The help of the MEX file and of linematchpairs are written by hand: an
// option added to the table must be added to them too.
TEST(OptionTable, EveryOptionIsInTheMexHelp) {
    const std::string mexHelp = fileText(LINEMATCH_MEX_HELP);
    const std::string pairsHelp = fileText(LINEMATCH_PAIRS_HELP);
    for (const linematch::MatcherOption& option : linematch::matcherOptions()) {
        // A help line names the option and, in brackets, the command's flag.
        EXPECT_TRUE(namesWord(mexHelp, option.mexName)) << option.mexName << " is not in " << LINEMATCH_MEX_HELP;
        EXPECT_NE(mexHelp.find(std::string("[") + option.flag + "]"), std::string::npos)
            << option.flag << " is not in " << LINEMATCH_MEX_HELP;
        EXPECT_TRUE(namesWord(pairsHelp, option.mexName)) << option.mexName << " is not in " << LINEMATCH_PAIRS_HELP;
    }
}

// report.json records every option a run was made with, each with the
// value of that run: every option is set away from its default here.
TEST(OptionTable, EveryOptionIsInTheReportWithItsValue) {
    const linematch::FrontEndSettings defaults;
    linematch::FrontEndSettings settings;
    for (const linematch::MatcherOption& option : linematch::matcherOptions())
        linematch::applyOption(settings, option, option.get(defaults) == option.hi ? option.lo : option.hi,
                               option.key);
    const nlohmann::json report =
        nlohmann::json::parse(linematch::reportJson(linematch::MatchResult{}, settings, linematch::ReportContext{}));
    const nlohmann::json& reported = report.at("settings");
    for (const linematch::MatcherOption& option : linematch::matcherOptions()) {
        SCOPED_TRACE(option.key);
        ASSERT_TRUE(reported.contains(option.key));
        const double v = option.get(settings);
        ASSERT_NE(v, option.get(defaults));
        if (option.type == linematch::OptionType::onOff)
            EXPECT_EQ(reported[option.key], v != 0);
        else
            EXPECT_EQ(reported[option.key].get<double>(), v);
    }
}

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

// Each crafted header declares 40000 x 30000 pixels in a few bytes.
TEST(ImageHeader, GivesTheSizeEachFormatDeclares) {
    const struct {
        const char* format;
        std::string file;
    } cases[] = {
        {"PNG", bytes({0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0x9c, 0x40,
                       0, 0, 0x75, 0x30, 8, 0, 0, 0, 0})},
        // An APP1 block before the frame header is skipped by its length.
        {"JPEG", bytes({0xff, 0xd8, 0xff, 0xe1, 0, 4, 0, 0, 0xff, 0xc2, 0, 11, 8, 0x75, 0x30, 0x9c, 0x40, 1, 1, 0x11,
                        0})},
        {"BMP", bytes({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 0x40, 0x9c, 0, 0, 0xd0, 0x8a, 0xff,
                       0xff})},  // a negative height: rows top-down
        {"PNM", "P5\n# a comment\n40000 30000\n255\n"},
        {"TIFF", bytes({'I', 'I', '*', 0, 8, 0, 0, 0, 2, 0, 0, 1, 3, 0, 1, 0, 0, 0, 0x40, 0x9c, 0, 0, 1, 1, 4, 0, 1, 0,
                        0, 0, 0x30, 0x75, 0, 0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const linematch::ImageHeader h = linematch::readImageHeader([&](std::size_t offset, unsigned char* out,
                                                                        std::size_t n) -> std::size_t {
            if (offset >= c.file.size()) return 0;
            const std::size_t m = std::min(n, c.file.size() - offset);
            std::memcpy(out, c.file.data() + offset, m);
            return m;
        });
        EXPECT_EQ(h.format, c.format);
        EXPECT_EQ(h.width, 40000);
        EXPECT_EQ(h.height, 30000);
    }
}

}  // namespace
