#include "Utilities/BundleExtensions.hpp"
#include "stashbay/BuildInfo.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

class BundleVersions : public ::testing::Test {
protected:
    void TearDown() override { bundle.reset(); }
    ns::Bundle& bundle = ns::Bundle::main();
};

}  // namespace

TEST_F(BundleVersions, ComeFromTheBuild) {
    EXPECT_EQ(stashbay::shortVersionString(bundle), stashbay::build::shortVersion);
    EXPECT_EQ(stashbay::buildNumber(bundle), stashbay::build::buildNumber);
}

TEST_F(BundleVersions, FallBackWhenMissingOrNotText) {
    struct Case {
        const char* what;
        std::optional<cf::Value> shortVersion;
        std::optional<cf::Value> build;
        std::string expectedShortVersion;
        std::string expectedBuild;
    };
    const Case cases[] = {
        {"missing", std::nullopt, std::nullopt, "0.0.0", "0"},
        {"numbers", cf::Value(3), cf::Value(42), "0.0.0", "0"},
        {"a boolean and a list", cf::Value(true), cf::Value::array({cf::Value("7")}), "0.0.0", "0"},
        {"text, even empty", cf::Value("2.4.1"), cf::Value(""), "2.4.1", ""},
    };
    for (const auto& c : cases) {
        bundle.setInfoDictionaryValue("CFBundleShortVersionString", c.shortVersion);
        bundle.setInfoDictionaryValue("CFBundleVersion", c.build);
        EXPECT_EQ(stashbay::shortVersionString(bundle), c.expectedShortVersion) << c.what;
        EXPECT_EQ(stashbay::buildNumber(bundle), c.expectedBuild) << c.what;
    }
    bundle.setInfoDictionary({});
    EXPECT_EQ(stashbay::shortVersionString(bundle), "0.0.0");
    EXPECT_EQ(stashbay::buildNumber(bundle), "0");
}
