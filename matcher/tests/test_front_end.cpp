// The front-end layer the command, the MEX gateway and Python share: the
// option table against the cases every front end's test reads, the help
// files and the report that must name every option, and the image sizes
// that crafted headers declare (or why a file is not decoded).
#include "linematch/front_end_error.hpp"
#include "linematch/image_header.hpp"
#include "linematch/image_input.hpp"
#include "linematch/match_report.hpp"
#include "linematch/matcher_options.hpp"
#include "linematch/result_description.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
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
        nlohmann::json::parse(linematch::reportJson(linematch::MatchOutcome{}, settings, linematch::ReportContext{}));
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

// The front ends name the result's fields by rule from one description:
// within a record each front end's names must be distinct, and a MEX name
// a field name the host accepts (mxCreateStructMatrix refuses others only
// when a user calls), whatever field is added.
void checkNames(const linematch::ResultField& record, const std::string& path) {
    std::set<std::string> mex, report, python;
    for (const linematch::ResultField& f : record.fields) {
        const std::string where = path + "." + f.name;
        if (f.shownIn & linematch::inMex) {
            const std::string key = f.mexName ? f.mexName : linematch::camelCase(f.name);
            EXPECT_TRUE(!key.empty() && key.size() <= 63 && std::isalpha(static_cast<unsigned char>(key[0])) &&
                        std::all_of(key.begin(), key.end(),
                                    [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }))
                << where << ": MEX name '" << key << "'";
            EXPECT_TRUE(mex.insert(key).second) << where << ": MEX name '" << key << "' twice";
        }
        if (f.shownIn & linematch::inReport) {
            EXPECT_TRUE(report.insert(f.reportName ? f.reportName : f.name).second) << where << " twice in the report";
        }
        if (f.shownIn & linematch::inPython) {
            EXPECT_TRUE(python.insert(f.name).second) << where << " twice in Python";
        }
        if (f.kind == linematch::ResultField::Kind::record) checkNames(f, where);
        if (f.kind == linematch::ResultField::Kind::list) checkNames(f.itemShape.at(0), where + "[]");
    }
}

TEST(ResultDescription, NamesAreDistinctAndValidInEveryFrontEnd) {
    linematch::MatchResult r;
    r.rounds.resize(1);
    r.roundMatches.resize(1);
    r.geometry.planes.resize(1);
    r.geometry.epipolar.verified = true;
    linematch::ResultScores scores;
    scores.rounds.resize(1);
    checkNames(linematch::describeResult(r, &scores), "result");
    const std::pair<const char*, const char*> cases[] = {
        {"status", "status"}, {"off_plane_inliers", "offPlaneInliers"}, {"so_far", "soFar"}, {"image1", "image1"},
        {"_lead", "lead"},    {"double__gap", "doubleGap"},             {"", ""}};
    for (const auto& [snake, camel] : cases) EXPECT_EQ(linematch::camelCase(snake), camel) << snake;
}

// report.json is made from the description around the run's own fields;
// its readers rely on the keys and their order.
TEST(ResultDescription, ReportKeepsItsLayout) {
    linematch::MatchOutcome outcome;
    outcome.result.rounds.resize(1);
    outcome.result.geometry.planes.resize(1);
    outcome.result.geometry.epipolar.verified = true;
    outcome.scores.emplace();
    outcome.scores->rounds.resize(1);
    linematch::ReportContext context;
    context.homographyFile = "H.txt";
    const nlohmann::ordered_json report = nlohmann::ordered_json::parse(
        linematch::reportJson(outcome, linematch::FrontEndSettings{}, context));
    const auto keys = [](const nlohmann::ordered_json& object) {
        std::vector<std::string> out;
        for (const auto& item : object.items()) out.push_back(item.key());
        return out;
    };
    using Keys = std::vector<std::string>;
    EXPECT_EQ(keys(report), (Keys{"status", "image1", "image2", "segments", "settings", "points", "geometry",
                                  "lbd_sought", "seed_sources", "stages", "rounds", "seconds", "ground_truth"}));
    EXPECT_EQ(keys(report["rounds"][0]), (Keys{"round", "seeds", "seeds_kept", "pair_records", "transferred",
                                               "rejected", "added", "new_seeds"}));
    EXPECT_EQ(keys(report["seconds"]), (Keys{"segments", "descriptors", "seed_checks", "transfer", "points", "total"}));
    EXPECT_EQ(keys(report["geometry"]["planes"][0]), (Keys{"inliers", "median_residual_px"}));
    EXPECT_EQ(keys(report["geometry"]["fundamental"]),
              (Keys{"verified", "inliers", "off_plane_inliers", "median_residual_px", "matrix"}));
    EXPECT_EQ(report["geometry"]["fundamental"]["matrix"].size(), 9u);
    EXPECT_EQ(keys(report["ground_truth"]),
              (Keys{"homography_file", "true_correspondences", "descriptor_alone", "point_seeds", "seeds", "rounds",
                    "final", "average_precision", "confident_half_precision"}));
    EXPECT_EQ(keys(report["ground_truth"]["rounds"][0]), (Keys{"added", "so_far"}));
    EXPECT_EQ(keys(report["ground_truth"]["final"]), (Keys{"matches", "correct", "precision", "recall"}));
    // An unverified fundamental matrix and no ground truth: left out.
    outcome.result.geometry.epipolar.verified = false;
    outcome.scores.reset();
    const nlohmann::json plain =
        nlohmann::json::parse(linematch::reportJson(outcome, linematch::FrontEndSettings{}, context));
    EXPECT_FALSE(plain.contains("ground_truth"));
    EXPECT_FALSE(plain["geometry"]["fundamental"].contains("matrix"));
}

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

// value in n bytes, little- or big-endian.
std::string number(unsigned long long value, int n, bool little = true) {
    std::string s(static_cast<std::size_t>(n), '\0');
    for (int k = 0; k < n; ++k) s[static_cast<std::size_t>(little ? k : n - 1 - k)] = static_cast<char>(value >> (8 * k));
    return s;
}

// A TIFF (or BigTIFF) whose one directory holds these fields (tag, type,
// value), each of one value; values wider than the entry's room are
// stored after the directory.
std::string tiff(bool big, bool little, std::initializer_list<std::array<unsigned long long, 3>> fields) {
    const int room = big ? 8 : 4, countSize = big ? 8 : 2, entrySize = big ? 20 : 12;
    const auto typeSize = [](unsigned long long type) { return type >= 16 ? 8 : type == 4 || type == 9 ? 4 : type == 3 || type == 8 ? 2 : 1; };
    const std::size_t header = big ? 16 : 8;
    std::string out = std::string(little ? "II" : "MM") + number(big ? 43 : 42, 2, little);
    out += big ? number(8, 2, little) + number(0, 2, little) + number(header, 8, little) : number(header, 4, little);
    std::string directory = number(fields.size(), countSize, little), extra;
    const std::size_t extraAt = header + countSize + entrySize * fields.size() + room;
    for (const auto& f : fields) {
        const int size = typeSize(f[1]);
        directory += number(f[0], 2, little) + number(f[1], 2, little) + number(1, room, little);
        if (size > room) {
            directory += number(extraAt + extra.size(), room, little);
            extra += number(f[2], size, little);
        } else {
            directory += number(f[2], size, little) + std::string(static_cast<std::size_t>(room - size), '\0');
        }
    }
    return out + directory + std::string(static_cast<std::size_t>(room), '\0') + extra;
}

// A BMP file header and a DIB header of dibSize bytes declaring the size.
std::string bmp(int dibSize, long long width, long long height) {
    std::string out = "BM" + number(0, 8) + number(14 + dibSize, 4) + number(dibSize, 4);
    out += dibSize == 12 ? number(width, 2) + number(height, 2) : number(width & 0xffffffff, 4) + number(height & 0xffffffff, 4);
    return out + std::string(static_cast<std::size_t>(dibSize - (dibSize == 12 ? 8 : 12)), '\0');
}

// Each crafted header declares a size in a few bytes (40000 x 30000 unless
// a case says otherwise), or is refused before decoding, with why.
TEST(ImageHeader, GivesTheSizeEachFormatDeclaresOrWhyNot) {
    std::string comments = bytes({0xff, 0xd8});
    for (int k = 0; k < 10001; ++k) comments += bytes({0xff, 0xfe, 0, 4, 'h', 'i'});
    comments += bytes({0xff, 0xc0, 0, 11, 8, 0x75, 0x30, 0x9c, 0x40, 1, 1, 0x11, 0});
    // TIFF types: BYTE 1, SHORT 3, LONG 4, SBYTE 6, SSHORT 8, SLONG 9, LONG8 16, SLONG8 17.
    const struct {
        const char* name;
        const char* format;
        std::string file;
        long long width = 40000, height = 30000;
        const char* refusal = "";  // part of the reason, when refused
    } cases[] = {
        {"PNG", "PNG", bytes({0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0x9c,
                              0x40, 0, 0, 0x75, 0x30, 8, 0, 0, 0, 0})},
        // An APP1 block before the frame header is skipped by its length.
        {"JPEG", "JPEG", bytes({0xff, 0xd8, 0xff, 0xe1, 0, 4, 0, 0, 0xff, 0xc2, 0, 11, 8, 0x75, 0x30, 0x9c, 0x40, 1, 1,
                                0x11, 0})},
        {"JPEG after 10001 comments", "JPEG", comments},
        {"JPEG without a frame header", "JPEG", bytes({0xff, 0xd8, 0xff, 0xda, 0, 2, 0xff, 0xd9}), -1, -1, "no image size"},
        {"JPEG with its height in DNL", "JPEG", bytes({0xff, 0xd8, 0xff, 0xc0, 0, 11, 8, 0, 0, 0x9c, 0x40, 1, 1, 0x11, 0}),
         -1, -1, "no image size"},
        {"BMP 40, rows top-down", "BMP", bmp(40, 40000, -30000)},
        {"BMP OS/2 12", "BMP", bmp(12, 40000, 30000)},
        {"BMP OS/2 16", "BMP", bmp(16, 40000, 30000)},
        {"BMP 36", "BMP", bmp(36, 40000, 30000)},
        {"BMP 52", "BMP", bmp(52, 40000, 30000)},
        {"BMP 56", "BMP", bmp(56, 40000, 30000)},
        {"BMP OS/2 64", "BMP", bmp(64, 40000, 30000)},
        {"BMP 108", "BMP", bmp(108, 40000, 30000)},
        {"BMP 124", "BMP", bmp(124, 40000, 30000)},
        {"BMP 2^31 wide", "BMP", bmp(40, -2147483648LL, 1), 2147483648LL, 1},
        {"PNM", "PNM", "P5\n# a comment\n40000 30000\n255\n"},
        {"PNM, a long comment", "PNM", "P5 #" + std::string(100000, 'x') + "\n40000 30000 255\n"},
        {"PAM", "PAM", "P7\nWIDTH 40000\nHEIGHT 30000\nDEPTH 1\nMAXVAL 255\nTUPLTYPE GRAYSCALE\nENDHDR\n"},
        {"PFM", "PFM", "Pf\n4 3\n-1.0\n", -1, -1, "floating-point"},
        {"TIFF SHORT, LONG", "TIFF", tiff(false, true, {{256, 3, 40000}, {257, 4, 30000}})},
        {"TIFF big-endian LONG", "TIFF", tiff(false, false, {{256, 4, 40000}, {257, 4, 30000}})},
        {"TIFF BYTE, SBYTE", "TIFF", tiff(false, true, {{256, 1, 200}, {257, 6, 100}}), 200, 100},
        {"TIFF SSHORT, SLONG", "TIFF", tiff(false, false, {{256, 8, 20000}, {257, 9, 30000}}), 20000, 30000},
        {"TIFF negative SSHORT", "TIFF", tiff(false, true, {{256, 8, 0xffff}, {257, 3, 30000}}), -1, -1,
         "-1 x 30000"},
        {"TIFF RATIONAL width", "TIFF", tiff(false, true, {{256, 5, 40000}, {257, 3, 30000}}), -1, -1, "not an integer"},
        {"TIFF without a width", "TIFF", tiff(false, true, {{257, 3, 30000}}), -1, -1, "no ImageWidth"},
        {"TIFF float samples", "TIFF", tiff(false, true, {{256, 3, 4}, {257, 3, 3}, {258, 3, 32}, {339, 3, 3}}), -1,
         -1, "floating-point"},
        {"TIFF 32-bit integers", "TIFF", tiff(false, true, {{256, 3, 4}, {257, 3, 3}, {258, 3, 32}}), -1, -1,
         "32-bit"},
        {"TIFF 16-bit", "TIFF", tiff(false, true, {{256, 3, 4}, {257, 3, 3}, {258, 3, 16}}), 4, 3},
        {"BigTIFF LONG8", "BigTIFF", tiff(true, true, {{256, 16, 40000}, {257, 16, 30000}})},
        {"BigTIFF big-endian SLONG8, SHORT", "BigTIFF", tiff(true, false, {{256, 17, 40000}, {257, 3, 30000}})},
        {"WebP lossy", "WebP", "RIFF" + number(30, 4) + "WEBPVP8 " + number(10, 4) + bytes({0, 0, 0, 0x9d, 1, 0x2a}) +
                                  number(16000, 2) + number(9000, 2), 16000, 9000},
        {"WebP lossless", "WebP", "RIFF" + number(30, 4) + "WEBPVP8L" + number(10, 4) + bytes({0x2f}) +
                                      number(15999 | (8999ULL << 14), 4) + "xxxxx", 16000, 9000},
        {"WebP extended", "WebP", "RIFF" + number(30, 4) + "WEBPVP8X" + number(10, 4) + number(0, 4) +
                                      number(39999, 3) + number(29999, 3)},
        {"JPEG 2000 codestream", "JPEG 2000", bytes({0xff, 0x4f, 0xff, 0x51, 0, 41, 0, 0}) + number(40010, 4, false) +
                                                  number(30020, 4, false) + number(10, 4, false) + number(20, 4, false) +
                                                  std::string(16, '\0') + number(1, 2, false) + bytes({7, 1, 1})},
        {"JP2 file", "JPEG 2000", bytes({0, 0, 0, 12, 'j', 'P', ' ', ' ', '\r', '\n', 0x87, '\n'}) + number(20, 4, false) +
                                      "ftypjp2 " + number(0, 8) + number(0, 4, false) + "jp2c" +
                                      bytes({0xff, 0x4f, 0xff, 0x51, 0, 41, 0, 0}) + number(40000, 4, false) +
                                      number(30000, 4, false) + std::string(24, '\0') + number(1, 2, false) +
                                      bytes({0x9f, 1, 1}), -1, -1, "32-bit"},
        {"Sun raster", "Sun raster", number(0x59a66a95, 4, false) + number(40000, 4, false) + number(30000, 4, false)},
        {"OpenEXR", "OpenEXR", bytes({0x76, 0x2f, 0x31, 0x01, 2, 0, 0, 0}), -1, -1, "floating-point"},
        {"Radiance HDR", "Radiance HDR", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 3 +X 4\n", -1, -1, "floating-point"},
        {"DICOM", "DICOM", std::string(128, '\0') + "DICM", -1, -1, "no image size"},
        {"none", "", "not an image\n", -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const linematch::ImageHeader h = linematch::readImageHeader([&](std::size_t offset, unsigned char* out,
                                                                        std::size_t n) -> std::size_t {
            if (offset >= c.file.size()) return 0;
            const std::size_t m = std::min(n, c.file.size() - offset);
            std::memcpy(out, c.file.data() + offset, m);
            return m;
        });
        EXPECT_EQ(h.format, c.format);
        if (*c.refusal) {
            EXPECT_NE(h.refusal.find(c.refusal), std::string::npos) << h.refusal;
        } else {
            EXPECT_EQ(h.refusal, "");
            EXPECT_EQ(h.width, c.width);
            EXPECT_EQ(h.height, c.height);
        }
    }
}

}  // namespace
