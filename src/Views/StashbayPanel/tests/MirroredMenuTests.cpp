#include "PanelTestSupport.hpp"
#include "Views/StashbayPanel/MirroredMenu.hpp"

using stashbay::AccessibilityBridge;

namespace {

using MirroredMenuTest = stashbay::testing::PanelWorldTest;

TEST_F(MirroredMenuTest, EntriesBecomeItemsByTheirFlags) {
    using Entry = AccessibilityBridge::AXMenuSnapshot;
    auto entry = [](std::string title, bool enabled, bool separator, std::optional<std::string> mark,
                    std::vector<Entry> children = {}) {
        Entry e;
        e.title = std::move(title);
        e.isEnabled = enabled;
        e.isSeparator = separator;
        e.markChar = std::move(mark);
        e.children = std::move(children);
        return e;
    };
    const Entry separatorWithTitle = entry("Ignored", true, true, std::nullopt, {entry("Child", true, false, {})});
    const Entry disabled = entry("Disabled", false, false, std::nullopt);
    const Entry marked = entry("Marked", true, false, "\u2022");
    const Entry emptyMark = entry("Empty mark", true, false, "");
    const Entry literal = entry("Save & Quit\tCmd-Q", true, false, std::nullopt);
    const Entry parent = entry("Units", true, false, std::nullopt, {entry("hPa", true, false, "\u2713"), disabled});
    auto menu =
        stashbay::makeMirroredMenu({separatorWithTitle, disabled, marked, emptyMark, literal, parent}, *context);
    const auto actions = menu->actions();
    ASSERT_EQ(actions.size(), 6);
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[0]->menu(), nullptr);
    EXPECT_FALSE(actions[1]->isEnabled());
    EXPECT_TRUE(actions[2]->isChecked());
    EXPECT_FALSE(actions[3]->isCheckable());
    EXPECT_EQ(actions[4]->text(), "Save && Quit Cmd-Q") << "shown literally, with no shortcut text";
    for (auto* action : actions) EXPECT_TRUE(action->shortcut().isEmpty());
    ASSERT_NE(actions[5]->menu(), nullptr);
    const auto children = actions[5]->menu()->actions();
    ASSERT_EQ(children.size(), 2);
    EXPECT_TRUE(children[0]->isChecked());
    EXPECT_FALSE(children[1]->isEnabled());
}

TEST_F(MirroredMenuTest, ChoosingAnEntryPressesExactlyItsElementAndOtherObjectsAreIgnored) {
    const auto& item = scannedNamed("1013 hPa");
    auto snapshot = context->menuSnapshot(item);
    ASSERT_TRUE(snapshot);
    auto menu = stashbay::makeMirroredMenu(*snapshot, *context);
    menu->actions()[3]->trigger();  // "Quit Barometer"
    ASSERT_EQ(world->menuChoices().size(), 1u);
    EXPECT_EQ(world->menuChoices()[0].path, (std::vector<std::size_t>{3}));
    EXPECT_TRUE(world->menuHistory().empty()) << "the status item itself was not clicked";

    QAction other;
    other.setData(QString("not an element"));
    stashbay::MirroredMenuHandler::shared().selectItem(other, *context);
    QAction nothing;
    stashbay::MirroredMenuHandler::shared().selectItem(nothing, *context);
    EXPECT_EQ(world->menuChoices().size(), 1u);
}

TEST_F(MirroredMenuTest, APressThatFailsIsLoggedByTheBridgeAndNothingElse) {
    const auto& item = scannedNamed("1013 hPa");
    auto snapshot = context->menuSnapshot(item);
    ASSERT_TRUE(snapshot);
    auto menu = stashbay::makeMirroredMenu(*snapshot, *context);
    world->quitApplication(item.ownerPID());
    menu->actions()[3]->trigger();
    EXPECT_TRUE(world->menuChoices().empty());
    EXPECT_TRUE(capture->first("accessibility", "AXPress failed with error: "));
}

}  // namespace
