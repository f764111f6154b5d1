// A script's click steps on a status item named by its application: what each written form asks
// for. The forms that are refused, and what a run says when the item cannot be clicked, are in the
// command-line tests.
#include "Script.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace {

struct ItemClick {
    std::string line;
    desktop::Step::Kind kind;
    std::string application;
    std::optional<std::string> title;
    cg::EventFlags flags = 0;
};

void PrintTo(const ItemClick& c, std::ostream* os) { *os << c.line; }

class ItemClicks : public ::testing::TestWithParam<ItemClick> {};

TEST_P(ItemClicks, NameTheApplicationTheTitleAndTheModifiers) {
    const auto& c = GetParam();
    const auto steps = desktop::parseScript(c.line + "\n", "items.txt", ".");
    ASSERT_EQ(steps.size(), 1u);
    const auto& step = steps[0];
    EXPECT_EQ(step.kind, c.kind);
    ASSERT_TRUE(step.item.has_value());
    EXPECT_EQ(step.item->application, c.application);
    EXPECT_EQ(step.item->title, c.title);
    EXPECT_EQ(step.flags, c.flags);
}

using K = desktop::Step::Kind;
constexpr auto cmd = cg::eventFlagMaskCommand;

INSTANTIATE_TEST_SUITE_P(
    Script, ItemClicks,
    ::testing::Values(
        ItemClick{"click item Stashbay", K::click, "Stashbay", std::nullopt},
        ItemClick{"rightclick item Tally", K::rightClick, "Tally", std::nullopt},
        ItemClick{"click item Stashbay cmd", K::click, "Stashbay", std::nullopt, cmd},
        ItemClick{"rightclick item Tally shift+opt", K::rightClick, "Tally", std::nullopt,
                  cg::eventFlagMaskShift | cg::eventFlagMaskAlternate},
        ItemClick{R"(click item "Control Center" Wi-Fi)", K::click, "Control Center", "Wi-Fi"},
        ItemClick{R"(click item "Control Center" "Wi-Fi" command)", K::click, "Control Center", "Wi-Fi", cmd},
        ItemClick{R"(click item Muffle "Muffle Level" ctrl)", K::click, "Muffle", "Muffle Level",
                  cg::eventFlagMaskControl},
        // A title that reads as modifiers is one when quoted.
        ItemClick{R"(click item Muffle "cmd")", K::click, "Muffle", "cmd"},
        // Unquoted, a second word that is not modifiers is the title.
        ItemClick{"click item Muffle Muffle", K::click, "Muffle", "Muffle"},
        ItemClick{"click\titem \t\"Control Center\"   Clock  # the time", K::click, "Control Center", "Clock"},
        ItemClick{"click item \"Caf\xC3\xA9 Menu\"", K::click, "Caf\xC3\xA9 Menu", std::nullopt},
        ItemClick{"click item item", K::click, "item", std::nullopt}),
    [](const auto& info) { return "form_" + std::to_string(info.index); });

}  // namespace
