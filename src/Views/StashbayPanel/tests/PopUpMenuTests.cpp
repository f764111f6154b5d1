#include "PanelTestSupport.hpp"
#include "Views/StashbayPanel/MirroredMenu.hpp"
#include "Views/StashbayPanel/PopUpMenu.hpp"
#include "macos/AppKit/Application.hpp"

#include <QImage>
#include <QPainter>

#include <set>

using namespace std::chrono_literals;

namespace {

// Barometer's menu, mirrored and shown at a point of the screen: "Pressure: 1013 hPa" (disabled),
// a separator, "Units" with the submenu "hPa" and "inHg", and "Quit Barometer".
class PopUpMenuTest : public stashbay::testing::PanelWorldTest {
protected:
    void SetUp() override {
        PanelWorldTest::SetUp();
        auto snapshot = context->menuSnapshot(scannedNamed("1013 hPa"));
        ASSERT_TRUE(snapshot);
        menu = std::make_unique<stashbay::PopUpMenu>(stashbay::makeMirroredMenu(*snapshot, *context),
                                                     cg::Point{400, 600}, [this](QAction* action) {
                                                         chosen.push_back(action->text());
                                                         action->trigger();
                                                     });
        ns::Application::shared().setWindowNeedsDisplayHandler(
            [this](const ns::Window& window) { asked.insert(window.windowNumber()); });
    }
    void TearDown() override {
        ns::Application::shared().setWindowNeedsDisplayHandler(nullptr);
        menu.reset();
        PanelWorldTest::TearDown();
    }

    std::shared_ptr<ns::Window> windowOf(std::size_t level) const {
        return level == 0 ? menu->window() : menu->submenuWindow(level);
    }
    // What a level's window shows, drawn as the desktop draws it; empty while it is not open.
    QImage picture(std::size_t level) const {
        auto window = windowOf(level);
        if (!window || !window->isVisible()) return {};
        const cg::Size size = window->frame().size;
        QImage image(static_cast<int>(size.width), static_cast<int>(size.height), QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        window->contentView()->draw(painter, size);
        return image;
    }
    // The middle of entry `entry` of an open level, where the person's pointer goes (window-server
    // space).
    cg::Point entryPoint(std::size_t level, std::size_t entry) const {
        const auto* shown = world->windowServer().find(windowOf(level)->windowNumber());
        QMenu* shownMenu = &menu->menu();
        for (std::size_t l = 1; l <= level; ++l) shownMenu = menu->highlighted(l - 1)->menu();
        double top = stashbay::PopUpMenu::verticalPadding;
        const auto actions = shownMenu->actions();
        for (std::size_t i = 0; i < entry; ++i)
            top += actions[static_cast<qsizetype>(i)]->isSeparator() ? stashbay::PopUpMenu::separatorHeight
                                                                     : stashbay::PopUpMenu::rowHeight;
        return {shown->bounds.minX() + 30, shown->bounds.minY() + top + stashbay::PopUpMenu::rowHeight / 2};
    }
    void movePointer(cg::Point at) {
        world->events().injectUserMouse(cg::EventType::mouseMoved, at);
        loop.runUntilIdle();
    }
    // The lit entry's title at each open level, "" for none.
    std::vector<QString> lit() const {
        std::vector<QString> out;
        for (std::size_t level = 0; windowOf(level); ++level)
            out.push_back(menu->highlighted(level) ? menu->highlighted(level)->text() : QString());
        return out;
    }

    std::unique_ptr<stashbay::PopUpMenu> menu;
    std::set<sim::WindowNumber> asked;
    std::vector<QString> chosen;
};

TEST_F(PopUpMenuTest, EveryChangeOfWhatTheMenuShowsAsksItsWindowToBeDrawnAgainAndDrawsTheChange) {
    struct Step {
        const char* what;
        std::function<void()> act;
        // The level whose window alone must ask to be drawn and show a different picture; none
        // when only a submenu went off screen.
        std::optional<std::size_t> drawn;
        std::vector<QString> lit;
    };
    auto key = [this](std::uint16_t code) {
        return [this, code] {
            menu->keyDown(code);
            loop.runUntilIdle();
        };
    };
    auto pointerOn = [this](std::size_t level, std::size_t entry) {
        return [this, level, entry] { movePointer(entryPoint(level, entry)); };
    };
    auto pointerAway = [this] { movePointer({40, 700}); };
    auto rest = [this] { loop.advance(ns::MenuTracking::submenuDelay); };
    using K = ns::MenuTracking;
    // The key rows come with the pointer still, off the menu.
    const Step steps[] = {
        {"Down lights the first enabled entry, past the disabled one and the separator",
         key(K::downArrow),
         0,
         {"Units"}},
        {"Down again", key(K::downArrow), 0, {"Quit Barometer"}},
        {"Up", key(K::upArrow), 0, {"Units"}},
        {"Right opens the submenu and lights its first entry", key(K::rightArrow), 1, {"Units", "hPa"}},
        {"Down in the submenu", key(K::downArrow), 1, {"Units", "inHg"}},
        {"Down wraps round", key(K::downArrow), 1, {"Units", "hPa"}},
        {"Left closes the submenu and leaves its entry lit", key(K::leftArrow), std::nullopt, {"Units"}},
        {"the pointer on an entry lights it", pointerOn(0, 3), 0, {"Quit Barometer"}},
        {"the pointer leaving the menu clears the light", pointerAway, 0, {""}},
        {"the pointer on an entry with a submenu lights it", pointerOn(0, 2), 0, {"Units"}},
        {"resting there opens its submenu", rest, 1, {"Units", ""}},
        {"the pointer in the submenu lights its entry, its parent stays lit", pointerOn(1, 1), 1, {"Units", "inHg"}},
        {"leaving the menus clears the submenu's light, not its parent's", pointerAway, 1, {"Units", ""}},
        {"the pointer on another entry of the parent closes the submenu", pointerOn(0, 3), 0, {"Quit Barometer"}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        const QImage before = step.drawn ? picture(*step.drawn) : QImage();
        asked.clear();
        step.act();
        EXPECT_EQ(lit(), step.lit);
        if (!step.drawn) {
            EXPECT_TRUE(asked.empty());
            continue;
        }
        const auto drawn = windowOf(*step.drawn);
        ASSERT_NE(drawn, nullptr);
        EXPECT_EQ(asked, std::set<sim::WindowNumber>{drawn->windowNumber()})
            << "its window, and only its, is asked to be drawn";
        EXPECT_NE(picture(*step.drawn), before) << "its picture did not change";
    }
    EXPECT_TRUE(chosen.empty());
}

TEST_F(PopUpMenuTest, APointerMovingWithinItsEntryAsksForNothingAndASubmenuOpensOnlyOnceThePointerRests) {
    movePointer(entryPoint(0, 3));
    loop.runUntilIdle();
    asked.clear();
    // Moving within the lit entry changes nothing that shows.
    auto within = entryPoint(0, 3);
    within.x += 20;
    movePointer(within);
    EXPECT_TRUE(asked.empty());

    // On "Units", then off to "Quit Barometer" before the submenu's delay: it never opens.
    movePointer(entryPoint(0, 2));
    loop.advance(ns::MenuTracking::submenuDelay / 2);
    movePointer(entryPoint(0, 3));
    loop.advance(ns::MenuTracking::submenuDelay * 2);
    EXPECT_EQ(menu->submenuWindow(), nullptr);
    // Resting on "Units" opens it once the delay has passed, and not before.
    movePointer(entryPoint(0, 2));
    loop.advance(ns::MenuTracking::submenuDelay - 1ms);
    EXPECT_EQ(menu->submenuWindow(), nullptr);
    loop.advance(1ms);
    ASSERT_NE(menu->submenuWindow(), nullptr);

    // Return on the submenu's entry chooses it, through the real menu.
    movePointer(entryPoint(1, 1));
    menu->keyDown(ns::MenuTracking::returnKey);
    loop.runUntilIdle();
    EXPECT_EQ(chosen, std::vector<QString>{"inHg"});
    ASSERT_EQ(world->menuChoices().size(), 1u);
    EXPECT_EQ(world->menuChoices()[0].path, (std::vector<std::size_t>{2, 1}));
    EXPECT_FALSE(menu->isOpen());
}

}  // namespace
