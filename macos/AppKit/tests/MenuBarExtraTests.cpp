#include "macos/AppKit/Application.hpp"
#include "macos/AppKit/Event.hpp"
#include "macos/AppKit/StatusItem.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

namespace {

class Content final : public ns::View {
public:
    cg::Size fittingSize() const override { return {width, 150}; }
    void viewDidAppear() override { ++appeared; }
    void viewDidDisappear() override { ++disappeared; }
    void mouseDown(cg::Point location) override { clicks.push_back(location); }
    void mouseMoved(cg::Point location) override { moves.push_back(location); }
    void mouseExited() override { ++exits; }
    void scrollWheel(const ns::Event& event, cg::Point location) override {
        scrolls.push_back({event.scrollingDeltaX(), event.scrollingDeltaY()});
        (void)location;
    }
    std::optional<std::string> toolTip(cg::Point location) const override {
        return location.x < 50 ? std::optional<std::string>("Left") : std::nullopt;
    }
    double width = 220;
    int appeared = 0;
    int disappeared = 0;
    std::vector<cg::Point> clicks;
    std::vector<cg::Point> moves;
    int exits = 0;
    std::vector<cg::Point> scrolls;
};

class MenuBarExtraTest : public ::testing::Test {
protected:
    void click(cg::Point p) {
        world.events().injectUserMouse(cg::EventType::leftMouseDown, p);
        world.events().injectUserMouse(cg::EventType::leftMouseUp, p);
        loop.runUntilIdle();
    }
    cg::Point itemCentre() const {
        auto frame = world.statusItem(extra->statusItem()->worldItem())->frame;
        return {frame.midX(), frame.midY()};
    }

    runtime::ManualLoop loop;
    sim::World world;
    std::shared_ptr<Content> content = std::make_shared<Content>();
    std::shared_ptr<ns::MenuBarExtra> extra = ns::MenuBarExtra::create(std::nullopt, content);
};

}  // namespace

TEST_F(MenuBarExtraTest, TheScenarioItemOfStashbayBecomesTheStatusItemAndItsWindowAnswersStatusItem) {
    auto self = world.processes().selfPid();
    ASSERT_EQ(world.statusItemsOf(self).size(), 1u);
    EXPECT_EQ(world.statusItemsOf(self).front()->id, extra->statusItem()->worldItem());
    auto window = extra->statusItem()->window();
    EXPECT_EQ(window->level(), ns::WindowLevel::statusBar);
    auto value = window->valueForKey("statusItem");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->as<ns::StatusItem>(), extra->statusItem());
    EXPECT_THROW(window->valueForKey("title"), ns::UnknownKeyException);
    EXPECT_THROW(extra->window()->valueForKey("statusItem"), ns::UnknownKeyException);
    // The application lists both windows, the status window first.
    auto windows = ns::Application::shared().windows();
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0], window);
    EXPECT_EQ(windows[1], extra->window());
    // A second item enters the bar.
    auto second = ns::StatusItem::create();
    EXPECT_EQ(world.statusItemsOf(self).size(), 2u);
    second.reset();
    EXPECT_EQ(world.statusItemsOf(self).size(), 1u);
}

TEST_F(MenuBarExtraTest, AClickOnTheItemOpensThePanelUnderItAndASecondClickClosesIt) {
    click(itemCentre());
    ASSERT_TRUE(extra->isPresented());
    EXPECT_EQ(content->appeared, 1);
    EXPECT_TRUE(extra->window()->isKeyWindow());
    EXPECT_EQ(world.processes().frontmost(), world.processes().selfPid());
    // Under the bar, as wide as its content; in window-server space its top is the bar's bottom.
    const auto* shown = world.windowServer().find(extra->window()->windowNumber());
    ASSERT_NE(shown, nullptr);
    EXPECT_DOUBLE_EQ(shown->bounds.minY(), world.menuBarHeight());
    EXPECT_DOUBLE_EQ(shown->bounds.width(), 220);
    EXPECT_DOUBLE_EQ(shown->bounds.height(), 150);
    // Clicks in the panel reach its content, in the content's own coordinates.
    click({shown->bounds.minX() + 10, shown->bounds.minY() + 20});
    ASSERT_EQ(content->clicks.size(), 1u);
    EXPECT_DOUBLE_EQ(content->clicks[0].x, 10);
    EXPECT_DOUBLE_EQ(content->clicks[0].y, 20);

    click(itemCentre());
    EXPECT_FALSE(extra->isPresented());
    EXPECT_EQ(content->disappeared, 1);
    // No simulated menu opened for Stashbay's own item.
    EXPECT_FALSE(world.openMenuItem());
}

TEST_F(MenuBarExtraTest, APanelThatGrowsStaysOnTheScreen) {
    click(itemCentre());
    ASSERT_TRUE(extra->isPresented());
    content->width = 900;
    extra->contentSizeChanged();
    const auto* shown = world.windowServer().find(extra->window()->windowNumber());
    ASSERT_NE(shown, nullptr);
    EXPECT_DOUBLE_EQ(shown->bounds.width(), 900);
    EXPECT_LE(shown->bounds.maxX(), world.screens().primary()->spec().frame.width());
    EXPECT_DOUBLE_EQ(shown->bounds.minY(), world.menuBarHeight());
}

TEST_F(MenuBarExtraTest, AClickOnAnotherApplicationClosesThePanel) {
    click(itemCentre());
    ASSERT_TRUE(extra->isPresented());
    click({400, 400});  // the Finder's window
    EXPECT_FALSE(extra->isPresented());
    EXPECT_EQ(content->disappeared, 1);
}

TEST_F(MenuBarExtraTest, AClickOnTheWallpaperClosesThePanel) {
    click(itemCentre());
    ASSERT_TRUE(extra->isPresented());
    ASSERT_EQ(world.windowServer().hitTest({5, 900}), nullptr);
    click({5, 900});
    EXPECT_FALSE(extra->isPresented());
    EXPECT_EQ(content->disappeared, 1);
}

TEST_F(MenuBarExtraTest, ThePointerAndTheWheelOverThePanelReachItsContentAndItsTooltipShowsAfterTheDelay) {
    click(itemCentre());
    const auto* shown = world.windowServer().find(extra->window()->windowNumber());
    ASSERT_NE(shown, nullptr);
    auto move = [&](cg::Point p) {
        world.events().injectUserMouse(cg::EventType::mouseMoved, p);
        loop.runUntilIdle();
    };
    move({shown->bounds.minX() + 10, shown->bounds.minY() + 20});
    ASSERT_EQ(content->moves.size(), 1u);
    EXPECT_DOUBLE_EQ(content->moves[0].x, 10);
    EXPECT_DOUBLE_EQ(content->moves[0].y, 20);
    loop.advance(ns::Application::toolTipDelay);
    ASSERT_TRUE(ns::Application::shared().toolTip());
    EXPECT_EQ(ns::Application::shared().toolTip()->text, "Left");
    // A press puts it away, and resting on it does not bring it back.
    click({shown->bounds.minX() + 12, shown->bounds.minY() + 20});
    EXPECT_FALSE(ns::Application::shared().toolTip());
    move({shown->bounds.minX() + 14, shown->bounds.minY() + 20});
    loop.advance(ns::Application::toolTipDelay * 2);
    EXPECT_FALSE(ns::Application::shared().toolTip());

    auto scroll = std::make_shared<cg::Event>(cg::EventType::scrollWheel,
                                              cg::Point{shown->bounds.minX() + 30, shown->bounds.minY() + 20}, nullptr);
    scroll->setIntegerValue(cg::EventField::scrollWheelEventPointDeltaAxis1, -30);
    scroll->setIntegerValue(cg::EventField::scrollWheelEventPointDeltaAxis2, 4);
    world.events().injectUser(scroll);
    loop.runUntilIdle();
    ASSERT_EQ(content->scrolls.size(), 1u);
    EXPECT_DOUBLE_EQ(content->scrolls[0].x, 4);
    EXPECT_DOUBLE_EQ(content->scrolls[0].y, -30);

    // Over the wallpaper the content hears that the pointer left; so it does when the panel closes.
    move({5, 900});
    EXPECT_EQ(content->exits, 1);
    move({shown->bounds.minX() + 10, shown->bounds.minY() + 20});
    click(itemCentre());
    EXPECT_EQ(content->exits, 2);
}

TEST_F(MenuBarExtraTest, KeysGoToTheFrontmostApplication) {
    world.activate(*world.processes().find(301), 0);
    world.events().injectUserKey(cg::EventType::keyDown, 46, cg::eventFlagMaskControl);
    loop.runUntilIdle();
    auto delivered = world.events().deliveries();
    ASSERT_FALSE(delivered.empty());
    EXPECT_EQ(delivered.back().pid, 301);
    EXPECT_EQ(delivered.back().event->integerValue(cg::EventField::keyboardEventKeycode), 46);
}

TEST_F(MenuBarExtraTest, TheContentAsksTheHostToDrawItsWindowOnlyWhileTheWindowIsOnScreen) {
    std::vector<sim::WindowNumber> drawn;
    ns::Application::shared().setWindowNeedsDisplayHandler(
        [&drawn](const ns::Window& window) { drawn.push_back(window.windowNumber()); });
    content->setNeedsDisplay();
    EXPECT_TRUE(drawn.empty());
    click(itemCentre());
    ASSERT_TRUE(extra->isPresented());
    content->setNeedsDisplay();
    EXPECT_EQ(drawn, std::vector<sim::WindowNumber>{extra->window()->windowNumber()});
    click(itemCentre());
    ASSERT_FALSE(extra->isPresented());
    content->setNeedsDisplay();
    EXPECT_EQ(drawn.size(), 1u);
    // A view in no window asks nobody.
    Content loose;
    loose.setNeedsDisplay();
    EXPECT_EQ(drawn.size(), 1u);
}
