#include "Models/DecodingError.hpp"
#include "Models/MenuBarItemID.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

using nlohmann::json;
using stashbay::DecodingError;
using stashbay::MenuBarItemID;

namespace {

struct ParseCase {
    std::string text;
    std::optional<MenuBarItemID> expected;
};

// Test names show the text with control and non-ASCII bytes escaped.
std::ostream& operator<<(std::ostream& os, const ParseCase& c) {
    os << '"';
    for (unsigned char ch : c.text) {
        if (ch >= 0x20 && ch < 0x7f)
            os << ch;
        else
            os << "\\x"
               << "0123456789abcdef"[ch >> 4] << "0123456789abcdef"[ch & 0xf];
    }
    return os << '"';
}

std::optional<MenuBarItemID> id(std::optional<std::string> bundle, std::int64_t index) {
    return MenuBarItemID(std::move(bundle), index);
}

constexpr auto none = std::nullopt;
constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();

// The same rules hold for both forms; the cases are written with "#" and also run with ":".
const ParseCase parseCases[] = {
    {"com.test.app#3", id("com.test.app", 3)},
    {"unknown#0", id(std::nullopt, 0)},
    {"a#-1", id("a", -1)},
    {"a#+7", id("a", 7)},
    {"a#007", id("a", 7)},
    {"a#-0", id("a", 0)},
    {"#a#5", id("a", 5)},
    {"##a#5", id("a", 5)},
    {"Unknown#1", id("Unknown", 1)},
    {"a#9223372036854775807", id("a", int64Max)},
    {"a#-9223372036854775808", id("a", int64Min)},
    {"a#9223372036854775808", none},
    {"a#-9223372036854775809", none},
    {"a#99999999999999999999999", none},
    {"invalid", none},
    {"", none},
    {"#", none},
    {"##", none},
    {"#5", none},
    {"a#", none},
    {"a#b", none},
    {"a# 5", none},
    {"a#5 ", none},
    {" a#5", id(" a", 5)},
    {"a#1#2", none},
    {"a##2", none},
    {"a#+", none},
    {"a#-", none},
    {"a#+-5", none},
    {"a#--5", none},
    {"a#1.0", none},
    {"a#0x10", none},
    {"a#1e3", none},
    {std::string("a\0b#4", 5), id(std::string("a\0b", 3), 4)},
    {std::string("a#4\0", 4), none},
};

std::string withSeparator(std::string text, char separator) {
    for (auto& c : text)
        if (c == '#') c = separator;
    return text;
}

class IdentityKeyForm : public ::testing::TestWithParam<ParseCase> {};
class IdentityTransferForm : public ::testing::TestWithParam<ParseCase> {};

}  // namespace

TEST_P(IdentityKeyForm, ParsesByTheKeyRule) {
    const auto& c = GetParam();
    EXPECT_EQ(MenuBarItemID::fromCodingKey(MenuBarItemID::AnyCodingKey{c.text}), c.expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, IdentityKeyForm, ::testing::ValuesIn(parseCases));

TEST_P(IdentityTransferForm, ParsesByTheTransferRule) {
    const auto& c = GetParam();
    EXPECT_EQ(MenuBarItemID::fromTransferRepresentation(withSeparator(c.text, ':')), c.expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, IdentityTransferForm, ::testing::ValuesIn(parseCases));

TEST(IdentityTextForms, EachFormIgnoresTheOtherFormsSeparator) {
    EXPECT_EQ(MenuBarItemID::fromTransferRepresentation("com.test.app#3"), std::nullopt);
    EXPECT_EQ(MenuBarItemID::fromCodingKey(MenuBarItemID::AnyCodingKey{"com.test.app:3"}), std::nullopt);
    EXPECT_EQ(MenuBarItemID::fromTransferRepresentation("a#1:2"), id("a#1", 2));
    EXPECT_EQ(MenuBarItemID::fromCodingKey(MenuBarItemID::AnyCodingKey{"a:1#2"}), id("a:1", 2));
}

TEST(IdentityTextForms, WriteTheBundlePartThenTheDecimalIndex) {
    EXPECT_EQ(MenuBarItemID("com.test.app", 2).stringValue(), "com.test.app#2");
    EXPECT_EQ(MenuBarItemID(std::nullopt, 0).stringValue(), "unknown#0");
    EXPECT_EQ(MenuBarItemID("a", -12).stringValue(), "a#-12");
    EXPECT_EQ(MenuBarItemID("com.test.app", 2).transferRepresentation(), "com.test.app:2");
    EXPECT_EQ(MenuBarItemID(std::nullopt, 0).transferRepresentation(), "unknown:0");
    EXPECT_EQ(MenuBarItemID("a", int64Min).transferRepresentation(), "a:-9223372036854775808");
    EXPECT_EQ(MenuBarItemID("pid-42", 1).codingKey().stringValue, "pid-42#1");
    EXPECT_EQ(MenuBarItemID::AnyCodingKey::fromIntValue(3), std::nullopt);
    EXPECT_EQ(MenuBarItemID::AnyCodingKey{"x#1"}.intValue(), std::nullopt);
}

TEST(IdentityTextForms, WriteThenParseRestoresOrdinaryIdentities) {
    for (const auto& original : {MenuBarItemID("com.test.app", 3), MenuBarItemID(std::nullopt, 0),
                                 MenuBarItemID("pid-812", int64Max), MenuBarItemID("x", int64Min)}) {
        EXPECT_EQ(MenuBarItemID::fromTransferRepresentation(original.transferRepresentation()), original);
        EXPECT_EQ(MenuBarItemID::fromCodingKey(original.codingKey()), original);
    }
}

TEST(IdentityTextForms, BundleIdentifiersThatTheFormsCannotCarry) {
    // A separator inside the identifier leaves a second piece that is not a number.
    EXPECT_EQ(MenuBarItemID::fromTransferRepresentation(MenuBarItemID("com.test:special", 1).transferRepresentation()),
              std::nullopt);
    EXPECT_EQ(MenuBarItemID::fromCodingKey(MenuBarItemID("com#test", 1).codingKey()), std::nullopt);
    // Separators at the very start are dropped.
    EXPECT_EQ(MenuBarItemID::fromTransferRepresentation(MenuBarItemID(":lead", 1).transferRepresentation()),
              id("lead", 1));
    // "unknown" reads back as no identifier; the empty identifier reads back as nothing at all.
    EXPECT_EQ(MenuBarItemID::fromCodingKey(MenuBarItemID("unknown", 4).codingKey()), id(std::nullopt, 4));
    EXPECT_EQ(MenuBarItemID::fromTransferRepresentation(MenuBarItemID("", 4).transferRepresentation()), std::nullopt);
}

TEST(IdentityEquality, UsesBothFieldsAndTellsAbsentFromEmptyOrUnknown) {
    std::unordered_set<MenuBarItemID> set{MenuBarItemID("a", 1), MenuBarItemID(std::nullopt, 1),
                                          MenuBarItemID("", 1),  MenuBarItemID("unknown", 1),
                                          MenuBarItemID("A", 1), MenuBarItemID("a", 2)};
    EXPECT_EQ(set.size(), 6u);
    EXPECT_TRUE(set.contains(MenuBarItemID("a", 1)));
    EXPECT_TRUE(set.contains(MenuBarItemID(std::nullopt, 1)));
    EXPECT_FALSE(set.contains(MenuBarItemID(std::nullopt, 2)));
}

// Identities that share their bundle text are the identities with their own copy of it.
TEST(IdentityEquality, SharedBundleTextEqualsAndHashesAsItsOwnCopy) {
    auto shared = std::make_shared<const std::optional<std::string>>("com.example.shared-bundle");
    MenuBarItemID a(shared, 3), b(shared, 3), own("com.example.shared-bundle", 3);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, own);
    EXPECT_NE(a, MenuBarItemID(shared, 4));
    EXPECT_EQ(std::hash<MenuBarItemID>{}(a), std::hash<MenuBarItemID>{}(own));
    EXPECT_EQ(a.bundleID(), "com.example.shared-bundle");
    // A shared absent text, or none at all, is an absent bundle identifier.
    MenuBarItemID absent(std::make_shared<const std::optional<std::string>>(), 3);
    EXPECT_EQ(absent, MenuBarItemID(std::nullopt, 3));
    EXPECT_EQ(MenuBarItemID(MenuBarItemID::SharedBundleID(), 3).bundleID(), std::nullopt);
    EXPECT_EQ(std::hash<MenuBarItemID>{}(absent), std::hash<MenuBarItemID>{}(MenuBarItemID(std::nullopt, 3)));
    EXPECT_EQ(absent.encode(), json::parse(R"({"index":3})"));
    // A moved-from identity still reads; it reads as absent.
    MenuBarItemID moved = std::move(a);
    EXPECT_EQ(moved, own);
    EXPECT_EQ(a.bundleID(), std::nullopt);  // NOLINT(bugprone-use-after-move)
}

TEST(IdentityJSON, WritesTheBundleIdentifierOnlyWhenPresent) {
    EXPECT_EQ(MenuBarItemID("com.test.app", 2).encode(), json::parse(R"({"bundleID":"com.test.app","index":2})"));
    auto anonymous = MenuBarItemID(std::nullopt, 0).encode();
    EXPECT_EQ(anonymous, json::parse(R"({"index":0})"));
    EXPECT_FALSE(anonymous.contains("bundleID")) << "absent is left out, not written as null";
}

TEST(IdentityJSON, ReadsMissingOrNullBundleIdentifierAsAbsentAndIgnoresOtherMembers) {
    EXPECT_EQ(MenuBarItemID::decode(json::parse(R"({"index":5})")), MenuBarItemID(std::nullopt, 5));
    EXPECT_EQ(MenuBarItemID::decode(json::parse(R"({"bundleID":null,"index":5})")), MenuBarItemID(std::nullopt, 5));
    EXPECT_EQ(MenuBarItemID::decode(json::parse(R"({"bundleID":"x","index":-5,"extra":[1]})")), MenuBarItemID("x", -5));
    EXPECT_EQ(MenuBarItemID::decode(json::parse(R"({"index":9223372036854775807})")),
              MenuBarItemID(std::nullopt, int64Max));
    EXPECT_EQ(MenuBarItemID::decode(json::parse(R"({"index":-9223372036854775808})")),
              MenuBarItemID(std::nullopt, int64Min));
}

TEST(IdentityJSON, RejectsObjectsWithoutAnIntegerIndexOrWithANonTextBundleIdentifier) {
    for (const char* text :
         {R"({})", R"({"bundleID":"a"})", R"({"index":null})", R"({"index":"1"})", R"({"index":1.5})",
          R"({"index":1.0})", R"({"index":1e2})", R"({"index":true})", R"({"index":9223372036854775808})",
          R"({"index":18446744073709551615})", R"({"index":1,"bundleID":3})", R"({"index":1,"bundleID":false})",
          R"({"index":1,"bundleID":["a"]})", R"([1])", R"("a#1")", R"(null)"}) {
        EXPECT_THROW(MenuBarItemID::decode(json::parse(text)), DecodingError) << text;
    }
}
