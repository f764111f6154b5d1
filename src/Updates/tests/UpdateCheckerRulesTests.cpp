#include "Updates/UpdateChecker.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using stashbay::UpdateChecker;

namespace {

std::string repeated(const std::string& segment, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += segment;
    return out;
}

const std::string combiningAcute = "\u0301";
const std::string twentyNines = repeated("9", 20);

}  // namespace

TEST(UpdateVersionRules, ValidVersionStringsAreNumberCharactersAndDotsUpToTwentyCharacters) {
    struct Case {
        const char* what;
        std::string version;
        bool valid;
    };
    const Case cases[] = {
        {"plain", "1.2.3", true},
        {"one component", "10", true},
        {"dots alone", "...", true},
        {"a doubled dot", "1..2", true},
        {"a letter", "1.2b", false},
        {"a suffix", "1.2-beta", false},
        {"a trailing blank", "1.2 ", false},
        {"empty", "", false},
        {"Arabic-Indic digits", "\u0661.\u0662", true},
        {"fullwidth digits", "\uFF11.\uFF12", true},
        {"superscript two", "\u00B2", true},
        {"a vulgar fraction", "1.\u00BD", true},
        {"a roman numeral", "\u216B", true},
        {"twenty nines", twentyNines, true},
        {"twenty characters", "1.2.3.4.5.6.7.8.9.10", true},
        {"twenty-one characters", twentyNines + "9", false},
        // A digit with a combining mark is one character whose first scalar is a digit.
        {"twenty digits with marks", repeated("1" + combiningAcute, 20), true},
        {"twenty-one digits with marks", repeated("1" + combiningAcute, 21), false},
        {"a dot with a mark is no dot", "1." + combiningAcute + "2", false},
        {"a lone combining mark", combiningAcute, false},
        {"bytes that are not UTF-8", "1.\xff", false},
    };
    for (const auto& c : cases) EXPECT_EQ(UpdateChecker::isValidVersionString(c.version), c.valid) << c.what;
}

TEST(UpdateVersionRules, ComponentsAreSigned64BitDecimalsOrZero) {
    struct Case {
        const char* what;
        std::string version;
        std::vector<std::int64_t> components;
    };
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    const Case cases[] = {
        {"plain", "1.10.0", {1, 10, 0}},
        {"empty segments dropped", ".1..2.", {1, 2}},
        {"dots alone", "...", {}},
        {"empty", "", {}},
        {"a suffix", "2.0-beta", {2, 0}},
        {"signs", "+5.-3", {5, -3}},
        {"a sign alone", "+.-", {0, 0}},
        {"two signs", "+-1", {0}},
        {"leading zeros", "007", {7}},
        {"the largest", "9223372036854775807", {max}},
        {"the smallest", "-9223372036854775808", {min}},
        {"one past the largest", "9223372036854775808", {0}},
        {"twenty nines", twentyNines, {0}},
        {"non-ASCII digits", "\u0661.\u0662", {0, 0}},
        {"a blank", " 1.2", {0, 2}},
        {"a dot with a mark does not split", "1." + combiningAcute + "2", {0}},
    };
    for (const auto& c : cases) EXPECT_EQ(UpdateChecker::versionComponents(c.version), c.components) << c.what;
}

TEST(UpdateVersionRules, NewerComparesComponentByComponentWithMissingOnesAsZero) {
    struct Case {
        const char* candidate;
        const char* current;
        bool newer;
    };
    const Case cases[] = {
        {"1.10", "1.9", true},     {"1.9", "1.10", false},
        {"1.0", "1", false},       {"1", "1.0", false},
        {"1.0.1", "1.0", true},    {"2", "10", false},
        {"1..2", "1.2", false},    {"...", "1.0", false},
        {"...", "0.0.0", false},   {"1.1", "1.2-beta", true},
        {"0.0.1", "0.0.0", true},  {"", "", false},
        {"1.2.3", "1.2.3", false}, {"1", "1.0.0.1", false},
        {"\u0661", "0", false},    {"99999999999999999999", "1", false},
        {"0", "-1", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UpdateChecker::isNewer(c.candidate, c.current), c.newer) << c.candidate << " against " << c.current;
    }
}

TEST(UpdateDownloadRule, OnlyHttpsOnTheUpdateHostAsTheUrlParserReadsIt) {
    struct Case {
        const char* address;
        bool valid;
    };
    const Case cases[] = {
        {"https://stashbay.app/downloads/Stashbay-2.0.dmg", true},
        {"HTTPS://stashbay.app/x", true},
        {"https://StashBay.APP/x", true},
        {"https://stashbay.app:8443/x?y=1#z", true},
        {"https://user@stashbay.app/x", true},
        {"http://stashbay.app/x", false},
        {"ftp://stashbay.app/x", false},
        {"https://example.com/x", false},
        {"https://stashbay.app@evil.example/", false},
        {"https://stashbay.app.evil.example/", false},
        {"https://evil.example/stashbay.app", false},
        {"https://stashbay.app./x", false},
        {"//stashbay.app/x", false},
        {"stashbay.app/x", false},
        {"https:", false},
        {"https:/stashbay.app/x", false},
        {"https:///stashbay.app/x", false},
        {"https:////stashbay.app/x", false},
        {"https://", false},
    };
    for (const auto& c : cases) {
        auto url = ns::URL::fromString(c.address);
        ASSERT_TRUE(url) << c.address;
        EXPECT_EQ(UpdateChecker::isValidDownloadURL(*url), c.valid) << c.address;
    }
}

TEST(UpdateDownloadRule, TheManifestAddressIsOnTheUpdateHost) {
    EXPECT_EQ(UpdateChecker::manifestURL().absoluteString(), "https://stashbay.app/downloads/version.json");
    EXPECT_TRUE(UpdateChecker::isValidDownloadURL(UpdateChecker::manifestURL()));
}
