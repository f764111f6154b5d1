#include "macos/Foundation/Bundle.hpp"
#include "stashbay/BuildInfo.hpp"

#include <gtest/gtest.h>

namespace {
class BundleTest : public ::testing::Test {
protected:
    void TearDown() override { bundle.reset(); }
    ns::Bundle& bundle = ns::Bundle::main();
};
}  // namespace

TEST_F(BundleTest, TheInformationDictionaryCarriesTheBuildsVersionAndIdentifier) {
    auto info = bundle.infoDictionary();
    EXPECT_EQ(info.at("CFBundleShortVersionString"), cf::Value(stashbay::build::shortVersion));
    EXPECT_EQ(info.at("CFBundleVersion"), cf::Value(stashbay::build::buildNumber));
    EXPECT_EQ(info.at("CFBundleIdentifier"), cf::Value("app.stashbay.Stashbay"));
    EXPECT_EQ(bundle.bundleIdentifier(), "app.stashbay.Stashbay");
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("NoSuchKey"), std::nullopt);
}

TEST_F(BundleTest, TestsCanEmptyTheDictionaryOrPutOtherKindsOfValuesInIt) {
    bundle.setInfoDictionaryValue("CFBundleShortVersionString", cf::Value(3));
    bundle.setInfoDictionaryValue("CFBundleVersion", std::nullopt);
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleShortVersionString"), cf::Value(3));
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleVersion"), std::nullopt);

    bundle.setInfoDictionary({});
    EXPECT_TRUE(bundle.infoDictionary().empty());
    EXPECT_EQ(bundle.bundleIdentifier(), std::nullopt);

    bundle.reset();
    EXPECT_EQ(bundle.infoDictionary(), ns::Bundle::builtInInfoDictionary());
}
