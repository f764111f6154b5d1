#include "Models/DecodingError.hpp"
#include "Models/MenuBarItem.hpp"
#include "Models/MenuBarItemVisibility.hpp"
#include "Models/MenuBarSection.hpp"

#include <gtest/gtest.h>

#include <unordered_set>

using namespace stashbay;
using nlohmann::json;
using SectionType = MenuBarSection::SectionType;

namespace {
MenuBarItem makeItem(MenuBarItemID id, std::optional<std::string> title = "Title", cg::Point position = {1200, 0},
                     cg::ImageRef image = nullptr) {
    return MenuBarItem(std::move(id), 812, "com.test.app", "Test App", std::move(title), position, {30, 24}, 77, true,
                       true, true, std::move(image), runtime::Date{1000.0});
}
}  // namespace

TEST(MenuBarItem, EqualityAndHashingSeeTheIdentityOnly) {
    auto a = makeItem(MenuBarItemID("com.test.app", 0), "One", {10, 0});
    auto b = makeItem(MenuBarItemID("com.test.app", 0), std::nullopt, {900, 4}, cg::Image::filled(2, 2, 0xff0000ff));
    auto c = makeItem(MenuBarItemID("com.test.app", 1), "One", {10, 0});
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<MenuBarItem>{}(a), std::hash<MenuBarItem>{}(b));
    EXPECT_NE(a, c);
    std::unordered_set<MenuBarItem> set{a, b, c};
    EXPECT_EQ(set.size(), 2u);
}

TEST(MenuBarItem, DisplayNameFallsBackToTheOwnerOnlyForAMissingOrEmptyTitle) {
    EXPECT_EQ(makeItem(MenuBarItemID("a", 0), "Wi-Fi").displayName(), "Wi-Fi");
    EXPECT_EQ(makeItem(MenuBarItemID("a", 0), "").displayName(), "Test App");
    EXPECT_EQ(makeItem(MenuBarItemID("a", 0), std::nullopt).displayName(), "Test App");
    EXPECT_EQ(makeItem(MenuBarItemID("a", 0), " ").displayName(), " ");
}

TEST(MenuBarItem, BoundsArePositionAndSize) {
    EXPECT_EQ(makeItem(MenuBarItemID("a", 0)).bounds(), cg::Rect(1200, 0, 30, 24));
}

TEST(MenuBarItem, CopiesShareTheCapturedImage) {
    auto image = cg::Image::filled(4, 4, 0x00ff00ff);
    auto item = makeItem(MenuBarItemID("a", 0), "t", {0, 0}, image);
    auto copy = item;
    EXPECT_EQ(copy.capturedImage().get(), image.get());
}

TEST(MenuBarItemVisibility, RawValuesAreTheCaseNamesExactly) {
    ASSERT_EQ(allMenuBarItemVisibilities.size(), 4u);
    const char* names[] = {"visible", "hiddenByNotch", "stashbay", "pinned"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(rawValue(allMenuBarItemVisibilities[i]), names[i]);
        EXPECT_EQ(visibilityFromRawValue(names[i]), allMenuBarItemVisibilities[i]);
        EXPECT_EQ(decodeMenuBarItemVisibility(json(names[i])), allMenuBarItemVisibilities[i]);
        EXPECT_EQ(encode(allMenuBarItemVisibilities[i]), json(names[i]));
    }
    EXPECT_EQ(allMenuBarItemVisibilities[1], MenuBarItemVisibility::hiddenByNotch);
}

TEST(MenuBarItemVisibility, DecodingRejectsOtherTextsAndTypes) {
    for (const json& value : {json("HiddenByNotch"), json("hidden"), json(""), json("Visible"), json(" visible"),
                              json(1), json(nullptr), json::array({"visible"})}) {
        EXPECT_THROW(decodeMenuBarItemVisibility(value), DecodingError) << value.dump();
    }
    try {
        decodeMenuBarItemVisibility(json("hidden"), "assignments.a#1");
        FAIL();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
        EXPECT_EQ(error.codingPath(), "assignments.a#1");
        EXPECT_NE(std::string(error.what()).find("hidden"), std::string::npos) << error.what();
    }
}

TEST(SectionType, TitlesSymbolsAndVisibilitiesFollowTheFixedTable) {
    struct Row {
        SectionType type;
        const char* title;
        const char* symbol;
        MenuBarItemVisibility visibility;
    };
    const Row rows[] = {
        {SectionType::visible, "Visible", "eye", MenuBarItemVisibility::visible},
        {SectionType::hiddenByNotch, "Hidden by Notch", "rectangle.topthird.inset.filled",
         MenuBarItemVisibility::hiddenByNotch},
        {SectionType::stashbay, "Stashbay", "tray", MenuBarItemVisibility::stashbay},
    };
    ASSERT_EQ(allSectionTypes.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& row = rows[i];
        EXPECT_EQ(allSectionTypes[i], row.type);
        EXPECT_EQ(rawValue(row.type), row.title);
        EXPECT_EQ(id(row.type), row.title);
        EXPECT_EQ(displayName(row.type), row.title);
        EXPECT_EQ(systemImage(row.type), row.symbol);
        EXPECT_EQ(correspondingVisibility(row.type), row.visibility);
        EXPECT_EQ(sectionTypeFromRawValue(row.title), row.type);
        EXPECT_EQ(encode(row.type), json(row.title));
        EXPECT_EQ(decodeSectionType(json(row.title)), row.type);
    }
}

TEST(SectionType, OnlyTheExactTitleReadsBack) {
    for (const char* text :
         {"hiddenByNotch", "hidden by notch", "HIDDEN BY NOTCH", "visible", "Hidden by Notch ", ""}) {
        EXPECT_EQ(sectionTypeFromRawValue(text), std::nullopt) << text;
        EXPECT_THROW(decodeSectionType(json(text)), DecodingError) << text;
    }
    EXPECT_THROW(decodeSectionType(json(0)), DecodingError);
}

TEST(MenuBarSection, CountsItsItemsAndComparesTheirIdentitiesInOrder) {
    MenuBarSection empty(SectionType::stashbay, {});
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.count(), 0u);

    auto a = makeItem(MenuBarItemID("a", 0), "A", {10, 0});
    auto b = makeItem(MenuBarItemID("b", 0), "B", {40, 0});
    auto aMoved = makeItem(MenuBarItemID("a", 0), "A again", {300, 2});
    MenuBarSection first(SectionType::hiddenByNotch, {a, b});
    EXPECT_FALSE(first.isEmpty());
    EXPECT_EQ(first.count(), 2u);
    EXPECT_EQ(first, MenuBarSection(SectionType::hiddenByNotch, {aMoved, b}));
    EXPECT_NE(first, MenuBarSection(SectionType::hiddenByNotch, {b, a}));
    EXPECT_NE(first, MenuBarSection(SectionType::stashbay, {a, b}));
    EXPECT_NE(first, MenuBarSection(SectionType::hiddenByNotch, {a}));
}
