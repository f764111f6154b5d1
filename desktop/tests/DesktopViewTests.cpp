#include "DesktopView.hpp"
#include "StashbayLaunch.hpp"

#include "App/AppDelegate.hpp"
#include "App/Entry/StashbayApp.hpp"
#include "Views/Settings/SettingsView.hpp"
#include "Views/StashbayPanel/IconTileView.hpp"
#include "Views/StashbayPanel/PopUpMenu.hpp"
#include "Views/StashbayPanel/StashbayPanelView.hpp"
#include "macos/AppKit/Application.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/sim/Scenario.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QWheelEvent>

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

using namespace std::chrono_literals;
using stashbay::IconTileView;

namespace {

void ensureQtApplication() {
    if (QApplication::instance()) return;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "stashbay_desktop_tests";
    static char* argv[] = {name, nullptr};
    // Kept for the life of the process: destroying it among the static destructors crashes Qt.
    static QApplication* application = new QApplication(argc, argv);
    (void)application;
}

// The default world with `extra` more status items of one application, which push that many
// more items off the bar.
sim::Scenario scenarioWithMoreItems(int extra) {
    auto scenario = sim::defaultScenario();
    for (auto& application : scenario.applications) {
        if (application.bundleIdentifier.value_or("") != "com.apple.finder") continue;
        for (int i = 0; i < extra; ++i) {
            sim::StatusItemSpec item;
            item.title = "Extra " + std::to_string(i);
            item.iconColor = 0x30A050FFu + static_cast<std::uint32_t>(i) * 0x10000000u;
            application.statusItems.push_back(item);
        }
    }
    return scenario;
}

// Stashbay launched in a world as after a login, its panel opened with a click on its item, and
// the desktop's window over it at a chosen size.
class DesktopViewTest : public ::testing::Test {
protected:
    explicit DesktopViewTest(sim::Scenario scenario = sim::defaultScenario()) : world(std::move(scenario)) {}

    void SetUp() override {
        ensureQtApplication();
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

INSTANTIATE_TEST_SUITE_P(WindowSizes, DesktopViewAtSizeTest,
                         ::testing::Values(QSize(1512, 982), QSize(1000, 650), QSize(1900, 1200)),
                         [](const auto& info) {
                             return std::to_string(info.param.width()) + "x" + std::to_string(info.param.height());
                         });

namespace {

// A row longer than the widest panel.
class DesktopViewLongRowTest : public DesktopViewTest {
protected:
    DesktopViewLongRowTest() : DesktopViewTest(scenarioWithMoreItems(8)) {}
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
