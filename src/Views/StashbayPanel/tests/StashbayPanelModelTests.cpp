#include "PanelTestSupport.hpp"
#include "Views/StashbayPanel/StashbayPanelModel.hpp"

#include <gmock/gmock.h>

#include <limits>

using namespace std::chrono_literals;
using stashbay::MenuBarItem;
using stashbay::MenuBarSection;
using stashbay::PanelMode;
using stashbay::StashbayPanelModel;
using Key = StashbayPanelModel::Key;
using KeyResult = StashbayPanelModel::KeyResult;

namespace {

class PanelModelTest : public stashbay::testing::PanelWorldTest {
protected:
    void SetUp() override {
        PanelWorldTest::SetUp();
        model = StashbayPanelModel::make(context);
    }
    void TearDown() override {
        model.reset();
        PanelWorldTest::TearDown();
    }

    void showMade(int count) {
        std::vector<MenuBarItem> items;
        for (int i = 0; i < count; ++i) items.push_back(madeItem("Item" + std::to_string(i)));
        showItems(items);
    }
    bool scannerPaused() { return loop.run(scanner->isPaused()); }

    std::shared_ptr<StashbayPanelModel> model;
};

TEST_F(PanelModelTest, NormalContentIsLoadingThenEmptyThenTiles) {
    struct Case {
        bool scanning;
        bool rawEmpty;
        int shown;
        StashbayPanelModel::NormalContent expected;
    };
    using C = StashbayPanelModel::NormalContent;
    const Case cases[] = {
        {true, true, 0, C::loading}, {true, true, 3, C::loading},  // the raw snapshot decides, not the sections
        {true, false, 0, C::empty},  {false, false, 0, C::empty},  // items, none hidden
        {false, true, 0, C::empty},  {true, false, 2, C::tiles},  {false, false, 2, C::tiles},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.scanning << c.rawEmpty << c.shown);
        context->scanning = c.scanning;
        context->itemsEmpty = c.rawEmpty;
        showMade(c.shown);
        EXPECT_EQ(model->normalContent(), c.expected);
    }
}

TEST_F(PanelModelTest, BannersComeScreenRecordingFirstWithTheirTopPaddings) {
    struct Case {
        bool accessibility;
        bool screenRecording;
        std::vector<std::pair<std::string, double>> expected;
    };
    const Case cases[] = {
        {true, true, {}},
        {false, false, {{"Screen Recording", 4}, {"Accessibility", 2}}},
        {false, true, {{"Accessibility", 4}}},
        {true, false, {{"Screen Recording", 4}}},
    };
    for (const auto& c : cases) {
        world->permissions().accessibility = c.accessibility;
        world->permissions().screenRecording = c.screenRecording;
        context->permissions().checkPermissions();
        std::vector<std::pair<std::string, double>> banners;
        for (const auto& banner : model->permissionBanners())
            banners.emplace_back(banner.missingPermission.toStdString(), banner.topPadding);
        EXPECT_EQ(banners, c.expected) << c.accessibility << c.screenRecording;
    }
}

TEST_F(PanelModelTest, TileFlagsFollowTheDragTheFailureAndTheFocus) {
    showMade(3);
    auto flags = [&] {
        std::string out;
        for (const auto& tile : model->tiles())
            out += std::string(tile.isHighlighted ? "h" : "-") + (tile.isDragSource ? "d" : "-") +
                   (tile.isFailed ? "f" : "-") + " ";
        return out;
    };
    EXPECT_EQ(flags(), "--- --- --- ");
    context->dragging = madeItem("Item1");
    model->moveFocus(-1);
    EXPECT_EQ(flags(), "--- -d- h-- ");
    context->dragging = std::nullopt;
    model->flashActivationFailure(madeItem("Item0").id());
    EXPECT_EQ(flags(), "--f --- h-- ");
}

TEST_F(PanelModelTest, FocusIsClearedByAnotherCountButNotByAnotherOrder) {
    showMade(3);
    model->moveFocus(1);
    ASSERT_EQ(model->focusedIndex(), 0);
    auto items = model->allItems();
    std::swap(items[0], items[2]);
    showItems(items);
    EXPECT_EQ(model->focusedIndex(), 0) << "same count";
    items.pop_back();
    showItems(items);
    EXPECT_EQ(model->focusedIndex(), std::nullopt);
    model->moveFocus(1);
    model->appear();
    EXPECT_EQ(model->focusedIndex(), std::nullopt) << "coming on screen clears it too";
}

TEST_F(PanelModelTest, MoveFocusWrapsAndRecoversFromAStaleIndex) {
    struct Case {
        int count;
        std::vector<std::ptrdiff_t> steps;
        std::optional<std::ptrdiff_t> expected;
    };
    const Case cases[] = {
        {3, {1}, 0},     {3, {-1}, 2},     {3, {-1, 1}, 0},        {3, {1, -1}, 2},         {3, {-1, -1, -1}, 0},
        {1, {1, 1}, 0},  {1, {-1, -1}, 0}, {0, {1}, std::nullopt}, {0, {-1}, std::nullopt}, {4, {1, 5}, 1},
        {4, {1, -6}, 2}, {3, {0}, 0},
    };
    for (const auto& c : cases) {
        showMade(c.count);
        model->appear();
        for (auto step : c.steps) model->moveFocus(step);
        EXPECT_EQ(model->focusedIndex(), c.expected) << c.count << " tiles, " << c.steps.size() << " steps";
    }
}

TEST_F(PanelModelTest, MoveFocusTakesAnyStepExactly) {
    constexpr auto max = std::numeric_limits<std::ptrdiff_t>::max();
    constexpr auto min = std::numeric_limits<std::ptrdiff_t>::min();
    struct Case {
        int count;
        std::vector<std::ptrdiff_t> steps;  // the first one only sets the highlight
        std::ptrdiff_t expected;
    };
    const Case cases[] = {
        {4, {1, max}, 3},  {4, {-1, min}, 3}, {4, {-1, max}, 2},     {7, {1, max}, 0},
        {7, {-1, min}, 5}, {3, {1, min}, 1},  {3, {-1, max - 1}, 2}, {5, {1, 1'000'000'000'000'000'003}, 3},
        {5, {min}, 4},     {5, {max}, 0},     {1, {1, max}, 0},      {1, {-1, min}, 0},
    };
    for (const auto& c : cases) {
        showMade(c.count);
        model->appear();
        for (auto step : c.steps) model->moveFocus(step);
        EXPECT_EQ(model->focusedIndex(), c.expected) << c.count << " tiles, last step " << c.steps.back();
    }
}

TEST_F(PanelModelTest, KeysActInTheTableOrderWhateverTheMode) {
    showMade(3);
    struct Case {
        Key key;
        StashbayPanelModel::Modifiers modifiers;
        bool focused;
        KeyResult result;
        std::vector<std::pair<std::string, bool>> clicks;
        int orderOuts;
    };
    const StashbayPanelModel::Modifiers none{}, control{true}, shift{false, true}, both{true, true},
        option{false, false, true}, command{false, false, false, true};
    const Case cases[] = {
        {Key::escape, none, false, KeyResult::handled, {}, 1},
        {Key::leftArrow, shift, false, KeyResult::handled, {}, 0},
        {Key::rightArrow, none, false, KeyResult::handled, {}, 0},
        {Key::returnKey, none, false, KeyResult::ignored, {}, 0},
        {Key::space, none, false, KeyResult::ignored, {}, 0},
        {Key::returnKey, none, true, KeyResult::handled, {{"Item0", false}}, 0},
        {Key::returnKey, option, true, KeyResult::handled, {{"Item0", false}}, 0},
        {Key::returnKey, command, true, KeyResult::handled, {{"Item0", false}}, 0},
        {Key::returnKey, control, true, KeyResult::handled, {{"Item0", true}}, 0},
        {Key::returnKey, shift, true, KeyResult::handled, {{"Item0", true}}, 0},
        {Key::returnKey, both, true, KeyResult::handled, {{"Item0", true}}, 0},
        {Key::space, control, true, KeyResult::handled, {{"Item0", false}}, 0},
        {Key::other, none, true, KeyResult::ignored, {}, 0},
    };
    for (PanelMode mode : {PanelMode::normal, PanelMode::settings, PanelMode::onboarding}) {
        context->mode = mode;
        for (const auto& c : cases) {
            SCOPED_TRACE(::testing::Message() << static_cast<int>(mode) << " key " << static_cast<int>(c.key));
            model->appear();
            if (c.focused) model->moveFocus(1);
            context->clicks.clear();
            context->orderOuts = 0;
            EXPECT_EQ(model->handleKey(c.key, c.modifiers), c.result);
            loop.runUntilIdle();
            EXPECT_EQ(context->clicks, c.clicks);
            EXPECT_EQ(context->orderOuts, c.orderOuts);
            EXPECT_EQ(context->panelMode(), mode) << "keys never change the mode";
        }
    }
}

TEST_F(PanelModelTest, ArrowsMoveOnePlaceAtEachRepeatAndActivationKeepsTheFocus) {
    showMade(4);
    for (int i = 0; i < 3; ++i) model->handleKey(Key::rightArrow, {});
    EXPECT_EQ(model->focusedIndex(), 2);
    model->handleKey(Key::returnKey, {});
    model->handleKey(Key::returnKey, {});
    loop.runUntilIdle();
    EXPECT_EQ(context->clicks.size(), 2u) << "each repeat activates again";
    EXPECT_EQ(model->focusedIndex(), 2);
}

TEST_F(PanelModelTest, ControlsCloseOpenSettingsAndQuit) {
    const auto controls = StashbayPanelModel::controls();
    std::vector<std::string> labels;
    for (const auto& c : controls) labels.push_back(c.accessibilityLabel.toStdString() + "/" + std::string(c.symbol));
    EXPECT_EQ(labels, (std::vector<std::string>{"Close Panel/xmark", "Settings/gearshape", "Quit Stashbay/power"}));
    model->moveFocus(1);
    model->perform(StashbayPanelModel::Control::close);
    EXPECT_EQ(context->orderOuts, 1);
    EXPECT_EQ(model->focusedIndex(), 0) << "closing changes nothing else";
    model->perform(StashbayPanelModel::Control::settings);
    EXPECT_EQ(context->panelMode(), PanelMode::settings);
    model->perform(StashbayPanelModel::Control::quit);
    EXPECT_EQ(context->terminations, 1);
}

TEST_F(PanelModelTest, AppearingFadesAndGrowsOverATwoTenthsEaseOut) {
    model->appear();
    const auto start = loop.now();
    EXPECT_DOUBLE_EQ(model->opacity(start), 0.0);
    EXPECT_DOUBLE_EQ(model->scale(start), 0.97);
    loop.advance(100ms);
    EXPECT_GT(model->opacity(loop.now()), 0.5) << "ease-out is past half way at half time";
    EXPECT_LT(model->opacity(loop.now()), 1.0);
    loop.advance(100ms);
    EXPECT_DOUBLE_EQ(model->opacity(loop.now()), 1.0);
    EXPECT_DOUBLE_EQ(model->scale(loop.now()), 1.0);
    model->disappear();
    EXPECT_FALSE(model->hasAppeared());
    model->appear();
    EXPECT_DOUBLE_EQ(model->opacity(loop.now()), 0.0) << "reopening replays it";
}

TEST_F(PanelModelTest, ModeChangesRunAThreeTenthsEaseInOut) {
    context->setPanelMode(PanelMode::settings);
    auto transition = model->modeTransition(loop.now());
    EXPECT_EQ(transition.from, PanelMode::normal);
    EXPECT_EQ(transition.to, PanelMode::settings);
    EXPECT_DOUBLE_EQ(transition.progress, 0.0);
    loop.advance(150ms);
    EXPECT_NEAR(model->modeTransition(loop.now()).progress, 0.5, 1e-6) << "symmetric curve";
    loop.advance(150ms);
    EXPECT_DOUBLE_EQ(model->modeTransition(loop.now()).progress, 1.0);
}

TEST_F(PanelModelTest, ReorderedTilesMoveOnTheSpringAndSettle) {
    showMade(3);
    auto items = model->allItems();
    const auto moved = items[0].id();
    std::rotate(items.begin(), items.begin() + 1, items.end());
    showItems(items);
    EXPECT_DOUBLE_EQ(model->tileOffset(moved, loop.now()), -72.0) << "starts where it was";
    loop.advance(150ms);
    const double midway = model->tileOffset(moved, loop.now());
    EXPECT_GT(midway, -72.0);
    loop.advance(1s);
    EXPECT_DOUBLE_EQ(model->tileOffset(moved, loop.now()), 0.0);
    EXPECT_FALSE(model->isAnimating(loop.now()));
}

// Activation.

TEST_F(PanelModelTest, EveryActivationPausesScanningForFifteenSecondsFromTheLatest) {
    context->clickResult = true;
    model->handleItemInteraction(madeItem("OnScreen", true), false, nullptr);
    loop.runUntilIdle();
    EXPECT_TRUE(scannerPaused());
    loop.advance(10s);
    model->handleItemInteraction(hiddenNamed("Stopwatch"), false, nullptr);  // mirrored, dismissed
    loop.runUntilIdle();
    loop.advance(14s);
    EXPECT_TRUE(scannerPaused()) << "24 s after the first, 14 s after the second";
    loop.advance(1s);
    EXPECT_FALSE(scannerPaused());
}

TEST_F(PanelModelTest, OnScreenItemsAreClickedWithTheirButtonAndFailSilently) {
    context->clickResult = false;
    model->handleItemInteraction(madeItem("A", true), false, nullptr);
    model->handleItemInteraction(madeItem("B", true), true, nullptr);
    loop.runUntilIdle();
    EXPECT_EQ(context->clicks, (std::vector<std::pair<std::string, bool>>{{"A", false}, {"B", true}}));
    EXPECT_EQ(world->alertSounds().count(), 0);
    EXPECT_EQ(model->failedItemID(), std::nullopt);
}

TEST_F(PanelModelTest, AHiddenItemWithAMenuShowsItsMirrorAndTheChoiceReachesTheApplication) {
    const auto& stopwatch = hiddenNamed("Stopwatch");
    for (bool right : {false, true}) {
        context->answerMenu = [](QMenu& menu, const QPoint&) { return menu.actions()[1]; };  // "Reset"
        model->handleItemInteraction(stopwatch, right, nullptr);
        context->keyContentView = nullptr;
        loop.runUntilIdle();
    }
    EXPECT_TRUE(context->clicks.empty()) << "the real item is not clicked";
    EXPECT_TRUE(world->menuChoices().empty()) << "no key window and no tile: nowhere to show it";

    QWidget keyContent;
    keyContent.setGeometry(100, 50, 300, 200);
    context->keyContentView = &keyContent;
    model->handleItemInteraction(stopwatch, false, nullptr);
    loop.runUntilIdle();
    ASSERT_EQ(world->menuChoices().size(), 1u);
    EXPECT_EQ(world->menuChoices()[0].path, (std::vector<std::size_t>{1}));
    ASSERT_EQ(context->menuLocations.size(), 1u);
    EXPECT_EQ(context->menuLocations[0], keyContent.mapToGlobal(QPoint(0, 0)));

    QWidget tile;
    tile.setGeometry(10, 10, 32, 32);
    context->answerMenu = [](QMenu&, const QPoint&) { return nullptr; };
    model->handleItemInteraction(stopwatch, true, &tile);
    loop.runUntilIdle();
    EXPECT_EQ(context->menuLocations.back(), tile.mapToGlobal(QPoint(0, 32))) << "hangs below the tile";
    EXPECT_EQ(world->menuChoices().size(), 1u) << "dismissed: nothing pressed";
    EXPECT_EQ(world->alertSounds().count(), 0);
    EXPECT_EQ(model->failedItemID(), std::nullopt);
    EXPECT_TRUE(context->clicks.empty());
}

TEST_F(PanelModelTest, AHiddenItemWithoutAMenuIsClickedAndAFailureBeepsAndMarksForATwoTenthsOverASecond) {
    const auto& peek = hiddenNamed("Peek");
    context->clickResult = false;
    model->handleItemInteraction(peek, true, nullptr);
    loop.runUntilIdle();
    EXPECT_EQ(context->clicks, (std::vector<std::pair<std::string, bool>>{{"Peek", true}}));
    EXPECT_EQ(world->alertSounds().count(), 1);
    EXPECT_EQ(model->failedItemID(), peek.id());
    loop.advance(1199ms);
    EXPECT_EQ(model->failedItemID(), peek.id());
    loop.advance(1ms);
    EXPECT_EQ(model->failedItemID(), std::nullopt);

    context->clickResult = true;
    model->handleItemInteraction(peek, false, nullptr);
    loop.runUntilIdle();
    EXPECT_EQ(world->alertSounds().count(), 1) << "a success gives no feedback";
}

TEST_F(PanelModelTest, FailureMarksOfTwoItemsAndOfOneItemTwice) {
    const auto a = madeItem("A").id(), b = madeItem("B").id();
    // Two items 0.5 s apart: the second replaces the first, and goes 1.7 s after the first.
    model->flashActivationFailure(a);
    loop.advance(500ms);
    model->flashActivationFailure(b);
    EXPECT_EQ(model->failedItemID(), b);
    loop.advance(700ms);
    EXPECT_EQ(model->failedItemID(), b) << "the first clearing leaves another item's mark alone";
    loop.advance(500ms);
    EXPECT_EQ(model->failedItemID(), std::nullopt);
    // The same item twice: two beeps, gone 1.2 s after the first.
    model->flashActivationFailure(a);
    loop.advance(500ms);
    model->flashActivationFailure(a);
    loop.advance(700ms);
    EXPECT_EQ(model->failedItemID(), std::nullopt);
    EXPECT_EQ(world->alertSounds().count(), 4);
}

TEST_F(PanelModelTest, ReturnOnAFocusedHiddenTileGoesThroughTheRightClickWhenTheClickRoadIsTaken) {
    showItems({hiddenNamed("Peek")});
    model->moveFocus(1);
    model->handleKey(Key::returnKey, {false, true});
    model->handleKey(Key::space, {true});
    loop.runUntilIdle();
    EXPECT_EQ(context->clicks, (std::vector<std::pair<std::string, bool>>{{"Peek", true}, {"Peek", false}}));
}

TEST_F(PanelModelTest, TheRowKeepsItsControlsAndScrollsTheFocusedTileIntoView) {
    showMade(20);
    const double width = 600;  // the widest the scene makes the panel
    model->setPanelWidth(width);
    auto layout = model->rowLayout(width);
    EXPECT_DOUBLE_EQ(layout.contentWidth, 20 * 36 - 4);
    EXPECT_LE(layout.controls[2].right(), width - 8);
    EXPECT_GE(layout.controls[0].left(), layout.tilesViewport.right() + 8);
    EXPECT_DOUBLE_EQ(layout.scrollOffset, 0);
    model->moveFocus(-1);  // the last tile
    layout = model->rowLayout(width);
    const double left = stashbay::tilePosition(19) - layout.scrollOffset;
    EXPECT_GE(left, 0);
    EXPECT_LE(left + 32, layout.tilesViewport.width());
    model->moveFocus(1);  // wraps to the first
    EXPECT_DOUBLE_EQ(model->rowLayout(width).scrollOffset, 0);

    showMade(2);
    layout = model->rowLayout(width);
    EXPECT_DOUBLE_EQ(layout.tilesViewport.width(), 68) << "fits: no scrolling, the spacer takes the rest";
    EXPECT_DOUBLE_EQ(layout.controls[2].right(), width - 8);
}

}  // namespace

namespace {

TEST_F(PanelModelTest, TheRowBuildsTheTilesInViewAndThoseNearIt) {
    showMade(1000);
    const double width = 600;  // a viewport of 494 points: tiles 36 apart, built 600 either side
    model->setPanelWidth(width);
    struct Case {
        double scrollBy;
        std::size_t first;
        std::size_t end;
    };
    const Case cases[] = {
        {0, 0, 31},         // 1094 / 36 rounded up
        {600, 0, 48},       // tile 0 ends at 32, within 600 of the viewport at 600
        {633, 1, 48},       // tile 0 ends 601 points before the viewport: too far
        {10000, 261, 309},  // anywhere in the row: 1694 points' worth
        {1e9, 969, 1000},   // the end: nothing past the last tile
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scrollBy);
        model->appear();  // back at the first tile
        model->scrollTiles(c.scrollBy);
        const auto layout = model->rowLayout(width);
        EXPECT_EQ(layout.firstBuilt, c.first);
        EXPECT_EQ(layout.endBuilt, c.end);
        const auto positions = model->builtTilePositions(layout, loop.now());
        ASSERT_EQ(positions.size(), c.end - c.first);
        EXPECT_EQ(positions.front(), c.first);
        const auto tiles = model->tiles(positions);
        ASSERT_EQ(tiles.size(), positions.size());
        EXPECT_EQ(tiles.back().item.displayName(), "Item" + std::to_string(c.end - 1));
    }
    showMade(0);
    const auto empty = model->rowLayout(width);
    EXPECT_EQ(empty.firstBuilt, 0u);
    EXPECT_EQ(empty.endBuilt, 0u);
}

TEST_F(PanelModelTest, ATileTheSpringMovesThroughTheViewFromFarAwayIsBuiltUntilItSettles) {
    showMade(1000);
    const double width = 600;
    model->setPanelWidth(width);
    auto items = model->allItems();
    const std::string moved = items[0].displayName();
    // The first item goes to the end: it leaves the view on the spring.
    std::rotate(items.begin(), items.begin() + 1, items.end());
    showItems(items);
    auto built = [&] {
        std::vector<std::string> names;
        for (const auto& tile : model->tiles(model->builtTilePositions(model->rowLayout(width), loop.now())))
            names.push_back(tile.item.displayName());
        return names;
    };
    auto names = built();
    EXPECT_EQ(names.size(), 32u);
    EXPECT_EQ(names.back(), moved) << "still in view, on its way to position 999";
    loop.advance(1s);
    names = built();
    EXPECT_EQ(names.size(), 31u);
    EXPECT_THAT(names, ::testing::Not(::testing::Contains(moved)));
}

}  // namespace
