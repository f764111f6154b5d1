#include "Interaction/OnScreenWindowList.hpp"
#include "macos/CoreGraphics/WindowList.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

using stashbay::OnScreenWindowList;

namespace {

constexpr std::int32_t pid = 42;

cf::Value window(cf::Value owner, std::int64_t layer, std::uint32_t number) {
    return cf::Value(cf::Dictionary{{cg::windowOwnerPIDKey, std::move(owner)},
                                    {cg::windowLayerKey, cf::Value(layer)},
                                    {cg::windowNumberKey, cf::Value(static_cast<std::int64_t>(number))}});
}

TEST(OnScreenWindowList, AnAnswerWithAnEntryThatIsNotADictionaryAnswersNothing) {
    const auto menuLevel = cg::windowLevelForKey(cg::popUpMenuWindowLevelKey);
    const auto menu = window(cf::Value(pid), menuLevel, 7);
    const auto status = window(cf::Value(pid), 25, 8);
    struct Case {
        const char* what;
        std::optional<cf::Value> answer;
        bool menuOpen;
        std::set<std::uint32_t> ids;
    };
    const Case cases[] = {
        {"no answer", std::nullopt, false, {}},
        {"a dictionary instead of a list", menu, false, {}},
        {"an empty list", cf::Value(cf::Array{}), false, {}},
        {"a menu window", cf::Value(cf::Array{menu}), true, {7}},
        {"a menu and a status window", cf::Value(cf::Array{status, menu}), true, {7, 8}},
        {"a status window only", cf::Value(cf::Array{status}), false, {8}},
        {"another process's menu", cf::Value(cf::Array{window(cf::Value(pid + 1), menuLevel, 9)}), false, {}},
        {"an owner that is not a number", cf::Value(cf::Array{window(cf::Value("42"), menuLevel, 9)}), false, {}},
        {"a text after the menu window", cf::Value(cf::Array{menu, cf::Value("window")}), false, {}},
        {"a number before the menu window", cf::Value(cf::Array{cf::Value(5), menu}), false, {}},
        {"a list inside the list", cf::Value(cf::Array{menu, cf::Value(cf::Array{menu})}), false, {}},
    };
    for (const auto& c : cases) {
        OnScreenWindowList list(c.answer);
        EXPECT_EQ(list.holdsMenuWindow(pid), c.menuOpen) << c.what;
        EXPECT_EQ(list.windowIDs(pid), c.ids) << c.what;
    }
}

}  // namespace
