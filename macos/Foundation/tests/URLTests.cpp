#include "macos/Foundation/URL.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

struct URLCase {
    const char* what;
    std::string text;
    bool valid;
    std::string scheme;
};

void PrintTo(const URLCase& c, std::ostream* os) { *os << c.what; }

const URLCase urlCases[] = {
    {"SettingsPane", "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_Accessibility",
     true, "x-apple.systempreferences"},
    {"WebAddress", "https://stashbay.app/downloads/version.json", true, "https"},
    {"SchemeInCapitals", "HTTPS://stashbay.app/", true, "https"},
    {"Escaped", "mailto:a%20b@example.com", true, "mailto"},
    {"Relative", "downloads/version.json", true, ""},
    {"Empty", "", false, ""},
    {"Blank", " ", false, ""},
    {"BlankInside", "x-apple.systempreferences:com.apple preference", false, ""},
    {"BadEscape", "https://stashbay.app/%zz", false, ""},
    {"UnclosedHost", "http://[::1/", false, ""},
    {"NotUtf8", "https://stashbay.app/\xff", false, ""},
};

class URLTable : public ::testing::TestWithParam<URLCase> {};

}  // namespace

TEST_P(URLTable, OnlyAWellFormedTextMakesAnAddress) {
    const auto& c = GetParam();
    auto url = ns::URL::fromString(c.text);
    ASSERT_EQ(url.has_value(), c.valid);
    if (!url) return;
    EXPECT_EQ(url->absoluteString(), c.text);
    EXPECT_EQ(url->scheme(), c.scheme);
}

INSTANTIATE_TEST_SUITE_P(URL, URLTable, ::testing::ValuesIn(urlCases),
                         [](const auto& info) { return std::string(info.param.what); });
