#include "DesktopView.hpp"
#include "HostPainting.hpp"
#include "Script.hpp"
#include "StashbayLaunch.hpp"

#include "App/AppDelegate.hpp"
#include "App/Entry/StashbayApp.hpp"
#include "Views/Settings/SettingsView.hpp"
#include "Views/StashbayPanel/IconTileView.hpp"
#include "Views/StashbayPanel/PopUpMenu.hpp"
#include "Views/StashbayPanel/StashbayPanelView.hpp"
#include "Views/StashbayPanel/tests/QtApplication.hpp"
#include "macos/AppKit/Application.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/ServiceManagement/AppService.hpp"
#include "macos/sim/GeneratedScenario.hpp"
#include "macos/sim/Scenario.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

using namespace std::chrono_literals;
using stashbay::IconTileView;

namespace {

// Stashbay launched in a world as after a login, its panel opened with a click on its item, and
// the desktop's window over it at a chosen size.
class DesktopViewTest : public ::testing::Test {
protected:
    explicit DesktopViewTest(sim::Scenario scenario = sim::defaultScenario()) : world(std::move(scenario)) {}

    void SetUp() override {
        stashbay::testing::ensureQtApplication();
        os::LogStore::shared().setEchoToStderr(false);
        base =
            std::filesystem::temp_directory_path() / ("stashbay-desktop-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(base);
        std::filesystem::create_directories(base);
        ns::FileManager::defaultManager().setApplicationSupportOverride(base);
        ns::UserDefaults::standard().set(true, "hasCompletedOnboarding");
        desktop::bringFinderToFront(world);
        app = stashbay::StashbayApp::launch();
        loop.advance(1s);
        view = std::make_unique<desktop::DesktopView>();
    }
    void TearDown() override {
        view.reset();
        app->appState()->stop();
        loop.advance(1s);
        app.reset();
        loop.runUntilIdle();
        ns::FileManager::defaultManager().reset();
        std::filesystem::remove_all(base);
    }

    // The panel opened and closed again, as after the person's first look at it: the desktop
    // alone at one point to the pixel. (An app whose panel never opened is left behind at the end,
    // which the leak checker would report.)
    void lookedAtThePanel() {
        openPanel(view->sizeHint());
        click(pixelOf({5, 900}));
        loop.advance(1s);
        ASSERT_FALSE(app->scene()->isPresented());
    }
    // The panel, opened by a click on Stashbay's item through the window at its size.
    void openPanel(QSize size) {
        view->resize(size);
        const auto* item = world.windowServer().find(stashbay::AppDelegate::statusItemWindow()->windowNumber());
        click(pixelOf({item->bounds.midX(), item->bounds.midY()}));
        loop.advance(5s);
        ASSERT_TRUE(app->scene()->isPresented());
    }
    QPointF pixelOf(QPointF screenPoint) const { return view->screenTransform().map(screenPoint); }
    // A point of a widget of the panel, on the screen.
    QPointF screenPointOf(const QWidget& w, QPointF local) const {
        const auto* panel = world.windowServer().find(app->scene()->window()->windowNumber());
        const QPointF inPanel = w.mapTo(&app->panelView()->widget(), local);
        return {panel->bounds.minX() + inPanel.x(), panel->bounds.minY() + inPanel.y()};
    }
    QRectF pixelRectOf(const QWidget& w) const {
        return view->screenTransform().mapRect(
            QRectF(screenPointOf(w, {0, 0}), screenPointOf(w, QPointF(w.width(), w.height()))));
    }
    QImage shot() const {
        QImage image(view->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        view->render(&image);
        return image;
    }
    // The panel as it draws itself, unscaled: what the window must show, scaled.
    QImage panelAlone() const {
        auto& widget = app->panelView()->widget();
        return widget.grab().toImage();
    }
    void click(QPointF pixel, Qt::MouseButton button = Qt::LeftButton) {
        QMouseEvent press(QEvent::MouseButtonPress, pixel, pixel, button, button, Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, pixel, pixel, button, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &release);
        loop.runUntilIdle();
    }
    void move(QPointF pixel) {
        QMouseEvent moved(QEvent::MouseMove, pixel, pixel, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &moved);
        loop.runUntilIdle();
    }
    std::vector<IconTileView*> tiles() const {
        auto& widget = app->panelView()->widget();
        widget.render();
        return widget.tileViews();
    }

    runtime::ManualLoop loop;
    sim::World world;
    std::filesystem::path base;
    std::unique_ptr<stashbay::StashbayApp> app;
    std::unique_ptr<desktop::DesktopView> view;
};

bool near(QColor a, QColor b, int tolerance = 24) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

bool hasDarkPixel(const QImage& image, QRect area) {
    area = area.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (QColor(image.pixel(x, y)).lightness() < 110) return true;
    return false;
}

class DesktopViewAtSizeTest : public DesktopViewTest, public ::testing::WithParamInterface<QSize> {};

}  // namespace

TEST_P(DesktopViewAtSizeTest, ThePanelShowsEveryTileAndItsControlsAndTakesClicksThroughTheScaling) {
    openPanel(GetParam());
    const auto shown = tiles();
    ASSERT_GE(shown.size(), 3u);
    const QImage image = shot();
    const QImage alone = panelAlone();
    auto& widget = app->panelView()->widget();
    const QRect viewport(widget.tilesViewport()->mapTo(&widget, QPoint(0, 0)), widget.tilesViewport()->size());
    // The panel as it draws itself, scaled as the window scales it.
    const QRectF panel = pixelRectOf(widget);
    const QImage scaled = alone.scaled(panel.size().toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    std::size_t drawnTiles = 0;
    for (auto* tile : shown) {
        SCOPED_TRACE(tile->model().item().displayName());
        // The tile's part in view, inside its edges, in the window and in the scaled panel.
        const QRect inPanel =
            QRect(tile->mapTo(&widget, QPoint(0, 0)), tile->size()).intersected(viewport).adjusted(2, 2, -2, -2);
        ASSERT_FALSE(inPanel.isEmpty()) << "the tile is in view";
        const QRect area = view->screenTransform()
                               .mapRect(QRectF(screenPointOf(widget, inPanel.topLeft()),
                                               screenPointOf(widget, inPanel.bottomRight() + QPoint(1, 1))))
                               .toRect()
                               .intersected(image.rect());
        long long difference = 0;
        bool drawn = false;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor a = image.pixelColor(x, y);
                const QColor b = scaled.pixelColor(x - qRound(panel.left()), y - qRound(panel.top()));
                difference += std::abs(a.lightness() - b.lightness());
                if (!near(a, QColor(236, 236, 238), 40)) drawn = true;
            }
        if (drawn) ++drawnTiles;
        EXPECT_LT(double(difference) / double(area.width() * area.height()), 20.0) << "as the panel draws it";
    }
    // An item may show an empty image; the others' symbols are there.
    EXPECT_GE(drawnTiles, shown.size() * 3 / 4) << "the tiles' symbols are drawn";
    for (auto* control : widget.controlButtons()) {
        SCOPED_TRACE(control->accessibleName().toStdString());
        EXPECT_TRUE(hasDarkPixel(image, pixelRectOf(*control).toAlignedRect())) << "its symbol is drawn";
    }

    // A click on the Stopwatch's tile, through the window, opens its mirrored menu with its entries.
    IconTileView* stopwatch = nullptr;
    for (auto* tile : shown)
        if (tile->model().item().displayName() == "Stopwatch") stopwatch = tile;
    ASSERT_NE(stopwatch, nullptr);
    click(pixelOf(screenPointOf(*stopwatch, QRectF(stopwatch->rect()).center())));
    auto* menu = app->panelView()->popUpMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(menu->window()->isVisible());
    const QImage withMenu = shot();
    const auto* menuWindow = world.windowServer().find(menu->window()->windowNumber());
    // Each entry's text shows in its row.
    for (int row = 0; row < menu->menu().actions().size(); ++row) {
        SCOPED_TRACE(row);
        const double top =
            menuWindow->bounds.minY() + stashbay::PopUpMenu::verticalPadding + row * stashbay::PopUpMenu::rowHeight;
        const QRectF entry = view->screenTransform().mapRect(QRectF(
            menuWindow->bounds.minX() + 20, top, menuWindow->bounds.width() - 40, stashbay::PopUpMenu::rowHeight));
        EXPECT_TRUE(hasDarkPixel(withMenu, entry.toAlignedRect()));
    }
}

TEST_P(DesktopViewAtSizeTest, TheSettingsAndOnboardingPagesAreDrawnAsThePanelDrawsThem) {
    openPanel(GetParam());
    using Mode = stashbay::AppState::PanelMode;
    for (Mode mode : {Mode::settings, Mode::onboarding}) {
        SCOPED_TRACE(static_cast<int>(mode));
        app->appState()->setPanelMode(mode);
        loop.advance(1s);
        auto& widget = app->panelView()->widget();
        (void)shot();  // lays the page out at the window's size
        const QImage alone = panelAlone();
        const QImage image = shot();
        ASSERT_NE(widget.modeContent(mode), nullptr);
        // The panel's image scaled as the window scales it, against what the window shows there.
        const QRectF panel = pixelRectOf(widget);
        const QRect area = panel.toAlignedRect().intersected(image.rect()).adjusted(2, 2, -2, -2);
        const QImage scaled = alone.scaled(panel.size().toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QPoint origin = panel.topLeft().toPoint();
        long long difference = 0;
        long long darkInWindow = 0;
        long long darkInPanel = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor a = image.pixelColor(x, y);
                const QColor b = scaled.pixelColor(x - origin.x(), y - origin.y());
                difference += std::abs(a.lightness() - b.lightness());
                if (a.lightness() < 110) ++darkInWindow;
                if (b.lightness() < 110) ++darkInPanel;
            }
        const double mean = double(difference) / double(area.width() * area.height());
        EXPECT_LT(mean, 12.0) << "the window shows the page as it draws itself";
        EXPECT_GE(darkInWindow, darkInPanel / 2) << "the page's text is there";
        if (mode == Mode::settings) {
            EXPECT_GT(darkInWindow, 200);
        }
    }
}

TEST_P(DesktopViewAtSizeTest, ThePointerOverATileShowsItsHoverFillAndThenItsNameAsTooltip) {
    openPanel(GetParam());
    const auto shown = tiles();
    ASSERT_GE(shown.size(), 2u);
    auto* first = shown[0];
    auto* second = shown[1];
    move(pixelOf(screenPointOf(*first, QRectF(first->rect()).center())));
    EXPECT_TRUE(first->model().isHovered());
    loop.advance(ns::Application::toolTipDelay - 100ms);
    EXPECT_FALSE(ns::Application::shared().toolTip());
    loop.advance(200ms);
    ASSERT_TRUE(ns::Application::shared().toolTip());
    EXPECT_EQ(ns::Application::shared().toolTip()->text, first->model().item().displayName());
    // Drawn in the window under the pointer.
    const auto tip = ns::Application::shared().toolTip()->topLeft;
    EXPECT_TRUE(near(shot().pixelColor(pixelOf({tip.x + 3, tip.y + 3}).toPoint()), QColor(250, 250, 250)));

    // To the next tile: the hover moves, the tooltip waits the delay again.
    move(pixelOf(screenPointOf(*second, QRectF(second->rect()).center())));
    EXPECT_FALSE(first->model().isHovered());
    EXPECT_TRUE(second->model().isHovered());
    EXPECT_FALSE(ns::Application::shared().toolTip());
    loop.advance(ns::Application::toolTipDelay + 10ms);
    ASSERT_TRUE(ns::Application::shared().toolTip());
    EXPECT_EQ(ns::Application::shared().toolTip()->text, second->model().item().displayName());

    // Out over the wallpaper: no hover, no tooltip.
    move(pixelOf({5, 900}));
    EXPECT_FALSE(second->model().isHovered());
    EXPECT_FALSE(ns::Application::shared().toolTip());
    loop.advance(ns::Application::toolTipDelay + 10ms);
    EXPECT_FALSE(ns::Application::shared().toolTip());
}

TEST_P(DesktopViewAtSizeTest, AClickOnTheWallpaperClosesThePanel) {
    openPanel(GetParam());
    ASSERT_EQ(world.windowServer().hitTest({5, 900}), nullptr) << "nothing there but the wallpaper";
    click(pixelOf({5, 900}));
    EXPECT_FALSE(app->scene()->isPresented());
}

TEST(DesktopViewMenus, AnEntrySwitchedOffIsDrawnAsAnEntryWithoutAMark) {
    stashbay::testing::ensureQtApplication();
    runtime::ManualLoop loop;
    sim::World world;
    desktop::DesktopView view;
    view.resize(view.sizeHint());
    auto shot = [&] {
        QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        view.render(&image);
        return image;
    };
    // Muffle's menu: "Mute Microphone" (marked), "Quit Muffle".
    auto* muffle = world.mutableStatusItem(world.statusItemsOf(411).at(0)->id);
    ASSERT_TRUE(world.openMenu(muffle->id, sim::World::MenuTrigger::showMenu));
    auto& mark = muffle->spec.menu.at(0).markChar;
    const QImage marked = shot();
    mark.reset();
    const QImage unmarked = shot();
    mark = "";
    EXPECT_EQ(shot(), unmarked);
    EXPECT_NE(unmarked, marked);
}

// The key-down to first paint figure is for an opening that a key started: one that a click
// started, after earlier key-downs, gets none; the next key-started opening gets its own.
TEST_F(DesktopViewTest, OnlyAnOpeningThatAKeyStartedIsTimed) {
    view->resize(view->sizeHint());
    int timed = 0;
    view->setPanelShown([&timed](std::chrono::nanoseconds) { ++timed; });
    const auto* item = world.windowServer().find(stashbay::AppDelegate::statusItemWindow()->windowNumber());
    const QPointF itemPixel = pixelOf({item->bounds.midX(), item->bounds.midY()});
    const std::function<void()> clickItem = [&] { click(itemPixel); };
    const std::function<void()> clickWallpaper = [&] { click(pixelOf({5, 900})); };
    const std::function<void()> hotkey = [&] {
        view->key(stashbay::AppDelegate::hotkeyKeyCode, cg::eventFlagMaskControl | cg::eventFlagMaskAlternate);
    };
    const struct {
        const char* what;
        const std::function<void()>& input;
        bool opens;
        int timedAfter;
    } inputs[] = {
        {"a click on the item opens the panel", clickItem, true, 0},
        {"a click on the wallpaper closes it", clickWallpaper, false, 0},
        {"the hotkey opens it", hotkey, true, 1},
        {"the hotkey closes it", hotkey, false, 1},
        {"a click on the item opens it after those key-downs", clickItem, true, 1},
        {"a click on the wallpaper closes it", clickWallpaper, false, 1},
        {"the hotkey opens it again", hotkey, true, 2},
    };
    for (const auto& step : inputs) {
        SCOPED_TRACE(step.what);
        step.input();
        loop.advance(2s);
        (void)shot();
        ASSERT_EQ(app->scene()->isPresented(), step.opens);
        EXPECT_EQ(timed, step.timedAfter);
    }
}

// A script's "click item Stashbay" clicks Stashbay's item where the bar has it when the step runs:
// after a Command-drag moved the item, the named click still opens the panel.
TEST_F(DesktopViewTest, AClickOnStashbaysItemByNameFindsItAfterACommandDragMovedIt) {
    view->resize(view->sizeHint());
    const auto step = desktop::parseScript("click item Stashbay\n", "moved.txt", ".").at(0);
    const QPointF before = desktop::itemCentre(world, step, "moved.txt");
    // Onto the item two places left of it.
    const auto items = world.statusItems();
    const auto stashbay = std::find_if(items.begin(), items.end(), [&](const sim::StatusItem* item) {
        return item->owner == world.processes().selfPid();
    });
    ASSERT_LT(std::distance(items.begin(), stashbay) + 2, std::distance(items.begin(), items.end()));
    const auto& target = (*(stashbay + 2))->frame;
    view->drag(before, {target.midX(), target.midY()}, cg::eventFlagMaskCommand);
    loop.advance(1s);
    const QPointF after = desktop::itemCentre(world, step, "moved.txt");
    ASSERT_LT(after.x(), before.x()) << "the drag moved Stashbay's item left";
    ASSERT_FALSE(app->scene()->isPresented());

    view->click(after, step.flags);
    loop.advance(2s);
    EXPECT_TRUE(app->scene()->isPresented());
}

INSTANTIATE_TEST_SUITE_P(WindowSizes, DesktopViewAtSizeTest,
                         ::testing::Values(QSize(1512, 982), QSize(1000, 650), QSize(1900, 1200)),
                         [](const auto& info) {
                             return std::to_string(info.param.width()) + "x" + std::to_string(info.param.height());
                         });

namespace {

// A row longer than the widest panel.
class DesktopViewLongRowTest : public DesktopViewTest {
protected:
    DesktopViewLongRowTest() : DesktopViewTest(sim::scenarioWithMoreItems(8)) {}
};

}  // namespace

TEST_F(DesktopViewLongRowTest, TheWheelOverThePanelScrollsTheRowAndTheWheelElsewhereDoesNot) {
    openPanel({1000, 650});
    const auto shown = tiles();
    auto& model = app->panelView()->model();
    const double width = app->panelView()->widget().width();
    ASSERT_GT(model.rowLayout(width).contentWidth, model.rowLayout(width).tilesViewport.width()) << "the row overflows";
    const QPointF over = pixelOf(screenPointOf(*shown[0], QRectF(shown[0]->rect()).center()));
    auto wheel = [&](QPointF at, QPoint pixels, QPoint angle) {
        QWheelEvent event(at, at, pixels, angle, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view.get(), &event);
        loop.runUntilIdle();
    };
    // One notch of a wheel turned towards the person.
    wheel(over, QPoint(), QPoint(0, -120));
    const double afterNotch = model.rowLayout(width).scrollOffset;
    EXPECT_GT(afterNotch, 0.0);
    // A trackpad's exact points, back the other way.
    wheel(over, QPoint(0, 10), QPoint(0, 40));
    EXPECT_NEAR(model.rowLayout(width).scrollOffset, afterNotch - 10, 0.5);
    // Over the wallpaper the row stays.
    wheel(pixelOf({5, 900}), QPoint(), QPoint(0, -120));
    EXPECT_NEAR(model.rowLayout(width).scrollOffset, afterNotch - 10, 0.5);
}

namespace {

// The desktop painting through the host over the test's loop, wired as in the program, while it
// lives; each paint of the view is reported before it happens.
class HostedDesktop : public QObject {
public:
    HostedDesktop(desktop::DesktopView& view, runtime::EventLoop& loop, std::function<void()> paint)
        : view_(view), host_(loop), paint_(std::move(paint)) {
        desktop::paintOnDemand(view_, host_);
        view_.installEventFilter(this);
    }
    ~HostedDesktop() override {
        view_.removeEventFilter(this);
        ns::Application::shared().setWindowNeedsDisplayHandler({});
        view_.setPainted({});
    }

    // Qt's loop runs, the host driving the world, until `done` holds or a few seconds have passed.
    template <class Done>
    void runUntil(Done done) {
        const auto limit = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < limit) {
            QEventLoop qt;
            QTimer::singleShot(5, Qt::PreciseTimer, &qt, &QEventLoop::quit);
            qt.exec();
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &view_ && event->type() == QEvent::Paint) paint_();
        return false;
    }

private:
    desktop::DesktopView& view_;
    ns::HostRunLoop host_;
    std::function<void()> paint_;
};

}  // namespace

TEST_F(DesktopViewTest, TheFirstOpeningPaintsThePanelBeforeTheStateStartsScanning) {
    view->resize(1000, 650);
    view->show();
    auto& state = *app->appState();
    // Whether the state had begun scanning when a paint first showed the panel.
    std::optional<bool> scanningAtFirstPanelPaint;
    int paints = 0;
    HostedDesktop hosted(*view, loop.loop(), [&] {
        ++paints;
        if (!scanningAtFirstPanelPaint && app->scene()->isPresented())
            scanningAtFirstPanelPaint = state.isScanning() || !state.menuBarItems().empty();
    });
    hosted.runUntil([&] { return paints > 0; });
    ASSERT_FALSE(state.isScanning()) << "nothing starts before the panel first shows";

    // The person clicks Stashbay's item; the host runs what the click set going.
    const auto* item = world.windowServer().find(stashbay::AppDelegate::statusItemWindow()->windowNumber());
    const QPointF at = pixelOf({item->bounds.midX(), item->bounds.midY()});
    QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view.get(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view.get(), &release);
    hosted.runUntil([&] { return !state.menuBarItems().empty(); });

    ASSERT_FALSE(state.menuBarItems().empty()) << "the start scanned";
    ASSERT_TRUE(scanningAtFirstPanelPaint.has_value()) << "the panel was painted";
    EXPECT_FALSE(*scanningAtFirstPanelPaint) << "the panel was painted before the start scanned";
}

TEST_F(DesktopViewTest, EachValueOfTheWorldsPictureChangedAloneRepaintsTheDesktop) {
    const auto self = world.processes().selfPid();
    const sim::StatusItem* other = nullptr;
    for (const auto* item : world.statusItems())
        if (item->owner != self && item->window != 0 && !item->spec.menu.empty() && (!other || item->shown))
            other = item;
    ASSERT_NE(other, nullptr);
    const sim::StatusItemID otherID = other->id;
    const sim::ProcessID otherOwner = other->owner;
    auto item = [&] { return world.mutableStatusItem(otherID); };
    sim::WindowNumber opened = 0;
    auto window = [&] { return world.windowServer().find(opened); };
    auto screen = [&] { return world.screens().primary()->spec(); };
    struct Row {
        const char* what;
        std::function<void()> change;
        // What comes first, unchecked.
        std::function<void()> before = [] {};
    };
    // In order, each from where the one before left the world.
    const std::vector<Row> rows = {
        {"a window opens",
         [&] {
             opened = world.openWindow(otherOwner, {"Notes", {100, 200, 300, 200}});
         }},
        {"its bounds", [&] { window()->bounds.origin.x += 5; }},
        {"its name", [&] { window()->name = "Notes 2"; }},
        {"its layer", [&] { window()->layer += 1; }},
        {"its colour", [&] { window()->color = 0x336699FF; }},
        {"its owner", [&] { window()->owner = self; }},
        {"it goes off screen", [&] { window()->onScreen = false; }},
        {"a status item's frame", [&] { item()->frame.origin.y += 1; }},
        {"a status item leaves the bar", [&] { item()->onBar = !item()->onBar; }},
        {"a status item is no longer drawn", [&] { item()->shown = !item()->shown; }},
        {"a status item's image", [&] { item()->image = cg::Image::filled(4, 4, 0xFF0000FFu); }},
        {"a status item's image size", [&] { item()->imageSize.width += 2; }},
        {"a status item's colour", [&] { item()->spec.iconColor ^= 0x00FF0000u; }},
        {"a status item's title", [&] { item()->spec.title = "Renamed"; }},
        {"a status item's text", [&] { item()->spec.text = "12 hPa"; }},
        {"a status item shows the time", [&] { item()->spec.showsTime = !item()->spec.showsTime; }},
        {"a status item's symbol", [&] { item()->spec.symbol = item()->spec.symbol == "mark" ? "bolt" : "mark"; }},
        {"Stashbay's item's image",
         [&] {
             app->scene()->statusItem()->button()->setImage(ns::Image(cg::Image::filled(8, 8, 0x00FF00FFu), {8, 8}));
         }},
        {"a menu opens", [&] { ASSERT_TRUE(world.openMenu(otherID, sim::World::MenuTrigger::showMenu)); }},
        {"an entry of it is highlighted",
         [&] {
             // Down the menu to its first entry that lights up.
             const auto bounds = world.windowServer().find(world.openMenuLevels().at(0).window)->bounds;
             for (double y = bounds.minY(); y < bounds.maxY() && !world.openMenuLevels().at(0).highlighted; y += 2)
                 world.menuPointerMoved({bounds.midX(), y});
             ASSERT_TRUE(world.openMenuLevels().at(0).highlighted);
         }},
        {"the menus close", [&] { world.closeMenus(); }},
        {"a popover opens",
         [&] {
             item()->spec.behaviour.opens = sim::StatusItemBehaviour::Opens::window;
             ASSERT_TRUE(world.pressItem(otherID, sim::World::MenuTrigger::press));
         }},
        {"the popover closes", [&] { world.closePopover(); }},
        {"another application comes to the front",
         [&] { ASSERT_TRUE(world.activate(*world.processes().find(otherOwner), 0)); }},
        {"the pointer moves",
         [&] {
             world.events().injectUserMouse(cg::EventType::mouseMoved, {5, 900});
         }},
        {"the cursor hides", [&] { world.events().hideCursor(); }},
        {"Accessibility is revoked", [&] { world.permissions().accessibility = false; }},
        {"Screen Recording is revoked", [&] { world.permissions().screenRecording = false; }},
        {"a settings pane was opened",
         [&] { world.permissions().openedSettingsURLs.push_back("x-apple.systempreferences:"); }},
        {"a web link was opened", [&] { world.permissions().openedWebURLs.push_back("https://example.com/"); }},
        {"System Settings opens",
         [&] { view->showSystemSettings(desktop::SystemSettingsWindow::Pane::accessibility); }},
        {"on another pane", [&] { view->showSystemSettings(desktop::SystemSettingsWindow::Pane::screenRecording); }},
        {"the login item is registered", [&] { sm::AppService::mainApp().registerService(); },
         [&] { view->showSystemSettings(desktop::SystemSettingsWindow::Pane::loginItems); }},
        {"a tooltip shows", [&] { loop.advance(ns::Application::toolTipDelay); },
         [&] {
             // The pointer rests over a tile of the open panel: only the tooltip comes after it.
             world.permissions().accessibility = world.permissions().screenRecording = true;
             openPanel({1000, 650});
             const auto shown = tiles();
             ASSERT_FALSE(shown.empty());
             move(pixelOf(screenPointOf(*shown[0], QRectF(shown[0]->rect()).center())));
             loop.advance(300ms);
         }},
        {"the screen's frame",
         [&] {
             auto spec = screen();
             spec.frame.size.width += 10;
             spec.visibleFrame.size.width += 10;
             world.replaceScreen(0, spec);
         },
         [&] {
             // An empty bar, whose items would move with the screen.
             loop.advance(1s);
             world.closeMenus();
             for (const auto* each : world.statusItems()) world.removeStatusItem(each->id);
         }},
        {"the menu bar's height",
         [&] {
             auto spec = screen();
             spec.visibleFrame.size.height -= 6;
             world.replaceScreen(0, spec);
         }},
        {"the camera housing's inset",
         [&] {
             auto spec = screen();
             spec.safeAreaInsets.top += 1;
             world.replaceScreen(0, spec);
         }},
        {"an auxiliary area beside the housing",
         [&] {
             auto spec = screen();
             spec.auxiliaryTopRightArea = cg::Rect{spec.frame.maxX() - 300, spec.frame.maxY() - 30, 300, 30};
             world.replaceScreen(0, spec);
         }},
    };
    (void)view->worldMayHaveChanged();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        row.before();
        loop.runUntilIdle();
        (void)view->worldMayHaveChanged();
        ASSERT_FALSE(view->worldMayHaveChanged()) << "nothing changed before";
        row.change();
        loop.runUntilIdle();
        EXPECT_TRUE(view->worldMayHaveChanged());
    }
}

namespace {

// How far an area of one picture is from an area of the same size in another: the mean difference
// of their pixels' channels, over the columns of `at` outside `covered` (what lies over it there).
// None when every column is covered.
std::optional<double> lookDifference(const QImage& was, QRect from, const QImage& is, QRect at, QRect covered = {}) {
    long long sum = 0;
    long long channels = 0;
    for (int dx = 0; dx < from.width(); ++dx) {
        const int x = at.left() + dx;
        if (!covered.isNull() && x >= covered.left() && x <= covered.right()) continue;
        for (int dy = 0; dy < from.height(); ++dy) {
            const QColor a = was.pixelColor(from.left() + dx, from.top() + dy);
            const QColor b = is.pixelColor(x, at.top() + dy);
            sum += std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
            channels += 3;
        }
    }
    if (channels == 0) return std::nullopt;
    return double(sum) / double(channels);
}

// The same for the pixels an item draws itself (those of `from` far from the bar at `bar`'s
// column): the picture of an item is found whatever shows through around it.
double inkDifference(const QImage& was, QRect from, const QImage& is, QRect at, int bar) {
    long long sum = 0;
    long long channels = 0;
    auto apart = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
    };
    for (int dy = 0; dy < from.height(); ++dy)
        for (int dx = 0; dx < from.width(); ++dx) {
            const QColor a = was.pixelColor(from.left() + dx, from.top() + dy);
            if (apart(a, was.pixelColor(bar, from.top() + dy)) < 90) continue;
            sum += apart(a, is.pixelColor(at.left() + dx, at.top() + dy));
            channels += 3;
        }
    return channels ? double(sum) / double(channels) : 255.0;
}

QRect pixelsOf(const cg::Rect& r) {
    return QRect(qRound(r.minX()), qRound(r.minY()), qRound(r.width()), qRound(r.height()));
}

}  // namespace

// A Command-drag of an item: the item follows the pointer along the bar and the items between its
// place and the pointer stand where the drop will leave them; each move repaints; the release
// shows the bar as the world lays it out.
TEST_F(DesktopViewTest, ACommandDragShowsTheItemAtThePointerAndTheOthersMakingRoom) {
    lookedAtThePanel();
    ASSERT_EQ(view->screenTransform(), QTransform()) << "one point is one pixel";
    const auto self = world.processes().selfPid();
    const double spacing = world.menuBar().spec().spacing;
    // A column where the bar shows nothing of its own, between the menus and the camera housing.
    const int emptyBar = 560;
    // Three items side by side on the bar, right to left, the first the one dragged.
    auto threeFrom = [&](auto first) {
        const auto items = world.statusItems();
        for (std::size_t i = 0; i + 2 < items.size(); ++i)
            if (first(*items[i]) && items[i + 1]->shown && items[i + 2]->shown)
                return std::array<sim::StatusItemID, 3>{items[i]->id, items[i + 1]->id, items[i + 2]->id};
        return std::array<sim::StatusItemID, 3>{};
    };
    const struct {
        const char* what;
        std::function<bool(const sim::StatusItem&)> dragged;
        // Released over the third item, else at the bar's left end, over no item.
        bool dropOverThird;
    } rows[] = {
        {"Stashbay's own item, released over no item", [&](const auto& i) { return i.owner == self && i.shown; },
         false},
        {"another application's item, released over the third",
         [&](const auto& i) {
             return i.owner != self && i.shown && i.spec.behaviour.move == sim::StatusItemBehaviour::Move::normal &&
                    i.spec.behaviour.moveLatency == runtime::Duration::zero();
         },
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const auto ids = threeFrom(row.dragged);
        ASSERT_NE(ids[0], 0u);
        auto frameOf = [&](sim::StatusItemID id) { return world.statusItem(id)->frame; };
        const cg::Rect a = frameOf(ids[0]);
        const cg::Rect b = frameOf(ids[1]);
        const cg::Rect c = frameOf(ids[2]);
        const QPoint pressedAt(qRound(a.minX() + a.width() / 2), qRound(a.midY()));
        move(pressedAt);
        const QImage before = shot();
        const double room = a.width() + spacing;
        struct Step {
            const char* what;
            QPoint pointer;
            // Where the other two stand.
            cg::Rect second;
            cg::Rect third;
        };
        std::vector<Step> steps = {
            {"a little aside, still over its place", pressedAt - QPoint(3, 0), b, c},
            {"over the second item, which moves right into its place", QPoint(qRound(b.midX()), pressedAt.y()),
             b.offsetBy(room, 0), c},
            {"over the third item: both have moved", QPoint(qRound(c.midX()), pressedAt.y()), b.offsetBy(room, 0),
             c.offsetBy(room, 0)},
        };
        if (!row.dropOverThird)
            steps.push_back(
                {"at the bar's left end, over no item: back in their places", QPoint(2, pressedAt.y()), b, c});
        QMouseEvent press(QEvent::MouseButtonPress, pressedAt, pressedAt, Qt::LeftButton, Qt::LeftButton,
                          Qt::MetaModifier);
        QCoreApplication::sendEvent(view.get(), &press);
        loop.runUntilIdle();
        ASSERT_TRUE(world.events().itemDrag());
        EXPECT_EQ(shot(), before) << "nothing moves at the press";
        QPoint last = pressedAt;
        for (const auto& step : steps) {
            SCOPED_TRACE(step.what);
            QMouseEvent moved(QEvent::MouseMove, step.pointer, step.pointer, Qt::NoButton, Qt::LeftButton,
                              Qt::MetaModifier);
            QCoreApplication::sendEvent(view.get(), &moved);
            loop.runUntilIdle();
            last = step.pointer;
            EXPECT_TRUE(view->worldMayHaveChanged()) << "a repaint is asked for";
            const QImage image = shot();
            // The dragged item keeps the point it was pressed at under the pointer, on the bar.
            const double x =
                std::clamp(step.pointer.x() - (pressedAt.x() - a.minX()), 0.0, view->sizeHint().width() - a.width());
            const QRect dragged = pixelsOf(a.offsetBy(x - a.minX(), 0));
            const double draggedDifference = inkDifference(before, pixelsOf(a), image, dragged, emptyBar);
            // What shows through its edges moves the figure a little; an item elsewhere, by a hundred.
            EXPECT_LT(draggedDifference, 20.0) << "it is at the pointer";
            const auto second = lookDifference(before, pixelsOf(b), image, pixelsOf(step.second), dragged);
            const auto third = lookDifference(before, pixelsOf(c), image, pixelsOf(step.third), dragged);
            ASSERT_TRUE(second && third);
            EXPECT_LT(*second, 6.0) << "the second item stands where the drop will leave it";
            EXPECT_LT(*third, 6.0) << "the third item stands where the drop will leave it";
        }
        QMouseEvent release(QEvent::MouseButtonRelease, last, last, Qt::LeftButton, Qt::NoButton, Qt::MetaModifier);
        QCoreApplication::sendEvent(view.get(), &release);
        loop.advance(1s);
        EXPECT_FALSE(world.events().itemDrag());
        EXPECT_TRUE(view->worldMayHaveChanged()) << "the release repaints";
        const QImage after = shot();
        EXPECT_EQ(frameOf(ids[1]).minX() == b.minX(), !row.dropOverThird) << "the drop moved the item or not";
        for (std::size_t i = 0; i < ids.size(); ++i) {
            SCOPED_TRACE(i);
            const cg::Rect was = std::array{a, b, c}[i];
            EXPECT_LT(lookDifference(before, pixelsOf(was), after, pixelsOf(frameOf(ids[i]))).value(), 6.0)
                << "where the world lays it out";
        }
    }
}

// Only windows that show are drawn: one wholly under opaque windows, or outside what a paint
// covers, is left out and the picture is the same as without it.
TEST_F(DesktopViewTest, AWindowThatCannotBeSeenIsNotDrawnAndThePictureStaysTheSame) {
    lookedAtThePanel();
    sim::ProcessID finder = 0;
    for (const auto* w : world.windowServer().ordered())
        if (w->name == "Documents") finder = w->owner;
    ASSERT_NE(finder, 0);
    // Clear of the world's own windows.
    const cg::Rect place{950, 200, 400, 300};
    struct Row {
        const char* what;
        // Opened over the window at `place`, front last.
        std::vector<sim::WindowSpec> over;
        bool shows;
        // The part of the window's pixels painted, when not all.
        QRect painted = {};
        // How far the window is from `place`.
        cg::Point shift = {};
    };
    auto window = [](cg::Rect bounds, std::int64_t layer = sim::WindowLevel::normal) {
        sim::WindowSpec spec;
        spec.name = "Over";
        spec.bounds = bounds;
        spec.layer = layer;
        return spec;
    };
    const Row rows[] = {
        {"nothing over it", {}, true},
        {"under a larger window", {window(place.insetBy(-10, -10))}, false},
        {"under two windows that cover it together",
         {window({940, 190, 230, 320}), window({1140, 190, 220, 320})},
         false},
        {"under a window of its own bounds, whose corners are round", {window(place)}, true},
        {"peeking out at the right", {window({940, 190, 380, 320})}, true},
        {"under a translucent window of a higher level", {window(place.insetBy(-10, -10), 3)}, true},
        {"off the screen", {}, false, {}, {3000, 0}},
        {"outside the part painted", {}, false, QRect(0, 700, 200, 200)},
        {"inside the part painted", {}, true, QRect(1000, 250, 20, 20)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        auto picture = [&] {
            QImage image(view->size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::black);
            view->render(&image, QPoint(), row.painted.isNull() ? QRegion(view->rect()) : QRegion(row.painted));
            return image;
        };
        const auto number = world.openWindow(finder, window(place.offsetBy(row.shift.x, row.shift.y)));
        const QImage alone = picture();
        std::vector<sim::WindowNumber> covers;
        QRegion covered;
        for (const auto& spec : row.over) {
            covers.push_back(world.openWindow(finder, spec));
            covered += pixelsOf(spec.bounds).adjusted(-2, -2, 2, 2);
        }
        const QImage with = picture();
        int differing = 0;
        for (int y = 0; y < with.height(); ++y)
            for (int x = 0; x < with.width(); ++x)
                if (with.pixel(x, y) != alone.pixel(x, y) && !covered.contains(QPoint(x, y))) ++differing;
        EXPECT_EQ(differing, 0) << "where it shows, it is drawn as with nothing over it";
        const std::size_t drawnWith = view->windowsDrawn();
        world.closeWindow(number);
        const QImage without = picture();
        const std::size_t drawnWithout = view->windowsDrawn();
        EXPECT_EQ(drawnWith, drawnWithout + (row.shows ? 1 : 0)) << "drawn or not";
        EXPECT_EQ(with == without, !row.shows) << "the picture shows it or is as without it";
        for (auto cover : covers) world.closeWindow(cover);
    }
}
