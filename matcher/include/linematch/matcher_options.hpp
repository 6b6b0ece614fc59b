// The matcher's settings as its front ends offer them: one table that names
// each option in the three ecosystems (a Python keyword, a MEX name-value
// name, a command flag), its range, its meaning, and the settings field it
// sets. The command, the MEX gateway and the Python binding all look
// options up here and check values with checkOption, so that they accept
// and refuse the same values with the same messages; defaults are read
// from a default-constructed FrontEndSettings, never written twice. A new
// option is one more row in matcher_options.cpp.
#pragma once

#include "linematch/matcher.hpp"

#include <string>
#include <vector>

namespace linematch {

struct FrontEndSettings {
    MatcherSettings matcher;
    // Images with more pixels (width x height) than this are refused from
    // their header, before they are decoded: 2^28, about 268 megapixels.
    double maxPixels = 268435456.0;
};

enum class OptionType {
    real,   // a number in the range
    whole,  // a whole number in the range
    onOff,  // a switch, on by default; off turns its part of the matcher off
};

struct MatcherOption {
    const char* key;      // the Python keyword, and the name in messages of the table's own tests
    const char* mexName;  // the MEX name-value name (matched case-insensitively)
    const char* flag;     // the command flag; a switch's flag turns it off ("--no-verify")
    OptionType type;
    double lo, hi;        // the range (0..1 for a switch)
    bool openBelow;       // lo itself is refused
    const char* meaning;  // one line of help, without the default
    double (*get)(const FrontEndSettings&);
    // A switch only ever turns off: off stays off whatever another switch
    // says, so "checks" off turns the three seed checks off and the order
    // of the options does not matter.
    void (*set)(FrontEndSettings&, double);
};

const std::vector<MatcherOption>& matcherOptions();

enum class OptionNaming { key, mexName, flag };
// The option of this name, or nullptr when there is none.
const MatcherOption* findOption(const std::string& name, OptionNaming naming);

// "a whole number in 1..100", "in (0, 1]", "true or false".
std::string optionRange(const MatcherOption& option);
// The default as text: "0.7", "3", "true".
std::string optionDefault(const MatcherOption& option);

// Sets the option after checking value against its range; FrontEndError
// "badOptions" "<shownName> must be <range>, got <value>" when outside.
void applyOption(FrontEndSettings& settings, const MatcherOption& option, double value, const std::string& shownName);

// "%.15g" of v: whole numbers without exponent up to 1e15.
std::string numberText(double v);

}  // namespace linematch
