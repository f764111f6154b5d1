#include "PanelTestSupport.hpp"

#include <QWheelEvent>
#include "Views/StashbayPanel/IconTileView.hpp"
#include "Views/StashbayPanel/PermissionBannerView.hpp"
#include "Views/StashbayPanel/StashbayPanelWidget.hpp"

#include <QAbstractButton>
#include <QDir>
#include <QImage>
#include <QKeyEvent>

using namespace std::chrono_literals;
using stashbay::MenuBarItem;
using stashbay::PanelMode;
using stashbay::StashbayPanelWidget;

namespace {

class PanelWidgetTest : public stashbay::testing::PanelWorldTest {
protected:
    void TearDown() override {
        view.reset();
        PanelWorldTest::TearDown();
    }

    // The panel as the scene sizes it, shown and settled, rendered to `name`.png in the build tree.
    QImage open(const std::string& name) {
        if (!view) view = std::make_unique<StashbayPanelWidget>(context);
        const auto n = static_cast<int>(view->model().allItems().size());
        const int rule = n == 0 ? 200 : std::clamp(36 * n + 102, 200, 600);
        const int width = std::min(std::max(rule, view->lineContentWidth()), 600);
        view->resize(width, 100);
        view->show();
        loop.advance(1s);
        view->render();
        view->resize(width, view->contentHeight());
        view->render();
        QImage image = view->grab().toImage();
        QDir().mkpath(STASHBAY_RENDER_DIR);
        image.save(QString(STASHBAY_RENDER_DIR) + "/" + QString::fromStdString(name) + ".png");
        return image;
    }
    QRect inPanel(const QWidget* widget) const {
        return QRect(widget->mapTo(view.get(), QPoint(0, 0)), widget->size());
    }

    std::unique_ptr<StashbayPanelWidget> view;
};

TEST_F(PanelWidgetTest, LoadingAndEmptyRowsShowTheirLineAndTheControlsWithoutBanners) {
    world->permissions().accessibility = false;
    context->permissions().checkPermissions();
    context->scanning = true;
    context->itemsEmpty = true;
    showItems({});
    open("loading");
    ASSERT_NE(view->loadingView(), nullptr);
    EXPECT_TRUE(view->loadingView()->isVisible());
    EXPECT_TRUE(view->bannerViews().empty());
    EXPECT_EQ(view->contentHeight(), 38);
    for (auto* control : view->controlButtons()) EXPECT_TRUE(view->rect().contains(inPanel(control)));

    context->scanning = false;
    context->itemsEmpty = false;
    open("empty");
    ASSERT_NE(view->emptyView(), nullptr);
    EXPECT_TRUE(view->emptyView()->isVisible());
    EXPECT_FALSE(view->loadingView()->isVisible());
    EXPECT_TRUE(view->bannerViews().empty());
}

TEST_F(PanelWidgetTest, BannersSitAboveTheRowInTheirOrder) {
    world->permissions().accessibility = false;
    world->permissions().screenRecording = false;
    context->permissions().checkPermissions();
    open("tiles-with-banners");
    const auto banners = view->bannerViews();
    ASSERT_EQ(banners.size(), 2u);
    EXPECT_EQ(banners[0]->title(), "Screen Recording needed");
    EXPECT_EQ(inPanel(banners[0]).top(), 4);
    EXPECT_EQ(inPanel(banners[1]).top(), inPanel(banners[0]).bottom() + 1 + 2);
    EXPECT_LT(inPanel(banners[1]).bottom(), inPanel(view->tilesViewport()).top());
    EXPECT_EQ(view->contentHeight(), 4 + 40 + 2 + 40 + 44);
    EXPECT_EQ(inPanel(banners[0]).left(), 8);
    EXPECT_EQ(inPanel(banners[0]).right(), view->width() - 8 - 1);

    // A banner goes as soon as the permission comes.
    world->permissions().screenRecording = true;
    context->permissions().checkPermissions();
    view->render();
    ASSERT_EQ(view->bannerViews().size(), 1u);
    EXPECT_EQ(view->bannerViews()[0]->title(), "Accessibility needed");
    EXPECT_EQ(inPanel(view->bannerViews()[0]).top(), 4);
}

TEST_F(PanelWidgetTest, TwentyTilesScrollBesideControlsThatStayWholeInTheWindow) {
    std::vector<MenuBarItem> items;
    for (int i = 0; i < 20; ++i)
        items.push_back(i < (int)hidden.size() ? hidden[i] : madeItem("T" + std::to_string(i)));
    showItems(items);
    open("twenty-tiles");
    EXPECT_EQ(view->width(), 600);
    const QRect viewport = inPanel(view->tilesViewport());
    for (auto* control : view->controlButtons()) {
        const QRect frame = inPanel(control);
        EXPECT_TRUE(view->rect().contains(frame)) << frame.x();
        EXPECT_GE(frame.left(), viewport.right() + 8);
    }
    // The last tile, highlighted from the keyboard, is scrolled into view.
    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QCoreApplication::sendEvent(view.get(), &left);
    EXPECT_TRUE(left.isAccepted());
    view->render();
    const auto tiles = view->tileViews();
    ASSERT_EQ(tiles.size(), 20u);
    EXPECT_TRUE(viewport.contains(inPanel(tiles.back()))) << inPanel(tiles.back()).x();
    EXPECT_TRUE(tiles.back()->model().isHighlighted());
    view->grab().save(QString(STASHBAY_RENDER_DIR) + "/twenty-tiles-last-focused.png");
}

TEST_F(PanelWidgetTest, ALargeCapturedImageStaysInsideItsTile) {
    auto big = madeItem("Big").withCapturedImage(cg::Image::filled(400, 120, 0xff0000ffu));
    showItems({big, madeItem("Next")});
    const QImage image = open("large-image");
    const auto tiles = view->tileViews();
    ASSERT_EQ(tiles.size(), 2u);
    const QRect first = inPanel(tiles[0]), second = inPanel(tiles[1]);
    const int dpr = static_cast<int>(image.devicePixelRatio());
    auto red = [&](int x, int y) {
        const QColor c = image.pixelColor(x * dpr, y * dpr);
        return c.red() > 200 && c.green() < 80 && c.blue() < 80;
    };
    EXPECT_TRUE(red(first.center().x(), first.center().y()));
    for (int x = second.left(); x <= second.right(); ++x) EXPECT_FALSE(red(x, second.center().y())) << x;
    EXPECT_FALSE(red(first.center().x(), first.top() - 3));
}

TEST_F(PanelWidgetTest, ClickingATileActivatesItsItemWithTheTileAsAnchor) {
    showItems({hiddenNamed("Peek")});
    open("one-tile");
    context->clickResult = false;
    auto* tile = view->tileViews().at(0);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), tile->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(tile, &press);
    loop.runUntilIdle();
    EXPECT_EQ(context->clicks.size(), 1u);
    EXPECT_EQ(world->alertSounds().count(), 1);
    view->render();
    EXPECT_TRUE(view->tileViews().at(0)->model().isFailed());
    EXPECT_EQ(view->tileViews().at(0), tile) << "the tile keeps its identity across renders";
    open("failed-tile");
    loop.advance(1200ms);
    view->render();
    EXPECT_FALSE(view->tileViews().at(0)->model().isFailed());
}

TEST_F(PanelWidgetTest, TheSettingsControlSlidesTheSettingsPageIn) {
    open("before-settings");
    view->controlButtons()[1]->click();
    EXPECT_EQ(context->panelMode(), PanelMode::settings);
    loop.advance(150ms);
    view->render();
    ASSERT_NE(view->modeContent(PanelMode::settings), nullptr);
    EXPECT_TRUE(view->modeContent(PanelMode::settings)->isVisible());
    EXPECT_TRUE(view->modeContent(PanelMode::normal)->isVisible()) << "fading out";
    loop.advance(150ms);
    view->render();
    EXPECT_FALSE(view->modeContent(PanelMode::normal)->isVisible());
}

TEST_F(PanelWidgetTest, AnimationsAskForFramesUntilTheyEndAndOnlyChangesLayTheContentOutAgain) {
    view = std::make_unique<StashbayPanelWidget>(context);
    int layouts = 0;
    int paintRequests = 0;
    view->setDidRender([&] { ++layouts; });
    view->setPaintRequested([&] { ++paintRequests; });
    // Qt's own turns: the requests it gathered, and the paints that follow them. Qt hands them on
    // after a little real time, later on a loaded machine, so its events are taken until none
    // has come for a while.
    auto qtTurns = [&paintRequests] {
        const auto limit = std::chrono::steady_clock::now() + 3s;
        for (auto quietSince = std::chrono::steady_clock::now(); std::chrono::steady_clock::now() < limit;) {
            const int before = paintRequests;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (paintRequests != before)
                quietSince = std::chrono::steady_clock::now();
            else if (std::chrono::steady_clock::now() - quietSince > 150ms)
                break;
        }
    };
    view->resize(300, 50);
    view->show();
    // The appear animation: frames for its 0.2 s, none after, and frames are no change.
    EXPECT_TRUE(view->isRequestingFrames());
    const int layoutsAtShow = layouts;
    loop.advance(150ms);
    EXPECT_TRUE(view->isRequestingFrames());
    loop.advance(100ms);
    EXPECT_FALSE(view->isRequestingFrames());
    EXPECT_EQ(layouts, layoutsAtShow);
    qtTurns();
    EXPECT_GT(paintRequests, 0);

    // The tiles' own short animations end too, and what they asked for arrives.
    loop.advance(1s);
    qtTurns();
    // Still: painting lays nothing out and nothing asks for a paint.
    paintRequests = 0;
    for (int i = 0; i < 3; ++i) {
        view->renderIfPending();
        (void)view->grab();
    }
    loop.advance(5s);
    qtTurns();
    EXPECT_EQ(layouts, layoutsAtShow);
    EXPECT_EQ(paintRequests, 0);
    EXPECT_FALSE(view->isRequestingFrames());

    // A change of what it shows: one layout and a paint; the mode change animates to its end.
    context->mode = PanelMode::settings;
    qtTurns();
    EXPECT_EQ(layouts, layoutsAtShow + 1);
    EXPECT_GT(paintRequests, 0);
    EXPECT_TRUE(view->isRequestingFrames());
    loop.advance(200ms);
    ASSERT_NE(view->modeContent(PanelMode::settings), nullptr);
    EXPECT_TRUE(view->modeContent(PanelMode::normal)->isVisible()) << "fading out";
    loop.advance(150ms);
    EXPECT_FALSE(view->isRequestingFrames());
    EXPECT_FALSE(view->modeContent(PanelMode::normal)->isVisible()) << "the last frame ends the transition";
    // Hidden, it asks for no frames even when its content changes.
    view->hide();
    context->mode = PanelMode::normal;
    qtTurns();
    EXPECT_FALSE(view->isRequestingFrames());
}

}  // namespace

TEST_F(PanelWidgetTest, TheEmptyLineShowsItsWholeTextInBothStates) {
    for (bool granted : {false, true}) {
        SCOPED_TRACE(granted);
        world->permissions().accessibility = granted;
        world->permissions().screenRecording = granted;
        context->permissions().checkPermissions();
        showItems({});
        open(granted ? "empty-granted" : "empty-permissions");
        ASSERT_NE(view->emptyView(), nullptr);
        EXPECT_GE(view->emptyView()->width(), view->emptyView()->sizeHint().width());
        for (auto* control : view->controlButtons()) {
            EXPECT_TRUE(view->rect().contains(inPanel(control)));
            EXPECT_GT(inPanel(control).left(), inPanel(view->emptyView()).right());
        }
    }
}

TEST_F(PanelWidgetTest, EveryTileFitsUpToThirteenAndPastThatTheRowMarksItsHiddenEndAndStartsAtTheFirstTile) {
    for (int n : {3, 13, 14, 20}) {
        SCOPED_TRACE(n);
        std::vector<MenuBarItem> items;
        for (int i = 0; i < n; ++i) items.push_back(madeItem("T" + std::to_string(i), false, i));
        showItems(items);
        open("row-" + std::to_string(n));
        const QRect viewport = inPanel(view->tilesViewport());
        const auto tiles = view->tileViews();
        ASSERT_EQ(tiles.size(), static_cast<std::size_t>(n));
        const bool fits = n <= 13;
        EXPECT_EQ(viewport.contains(inPanel(tiles.back())), fits) << inPanel(tiles.back()).x();
        EXPECT_FALSE(view->edgeMark(true)->isVisible());
        EXPECT_EQ(view->edgeMark(false)->isVisible(), !fits);
        if (fits) {
            // The last tile takes a click at its centre.
            const QPoint centre = inPanel(tiles.back()).center();
            EXPECT_EQ(view->childAt(centre), tiles.back());
            continue;
        }
        // Scrolled to the end by the wheel: the mark moves to the leading edge.
        QWheelEvent wheel(QPointF(50, 20), QPointF(50, 20), QPoint(), QPoint(0, -120 * 20), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view.get(), &wheel);
        view->render();
        EXPECT_TRUE(viewport.contains(inPanel(tiles.back())));
        EXPECT_TRUE(view->edgeMark(true)->isVisible());
        EXPECT_FALSE(view->edgeMark(false)->isVisible());
        EXPECT_EQ(view->childAt(inPanel(tiles.back()).center()), tiles.back()) << "the mark lets clicks through";
        // Reopened, the row starts at its first tile again.
        view->hide();
        view->show();
        view->render();
        EXPECT_TRUE(viewport.contains(inPanel(view->tileViews().front())));
        EXPECT_FALSE(view->edgeMark(true)->isVisible());
    }
}

namespace {

// The positions in the row of the tiles built now, from the made items' titles "T<position>".
std::vector<int> builtPositions(StashbayPanelWidget& view) {
    view.render();
    std::vector<int> positions;
    for (auto* tile : view.tileViews()) positions.push_back(std::stoi(tile->model().item().displayName().substr(1)));
    return positions;
}

}  // namespace

TEST_F(PanelWidgetTest, AThousandItemsBuildTheTilesInViewAndNearItAndTheWheelBringsTheNextOnes) {
    std::vector<MenuBarItem> items;
    for (int i = 0; i < 1000; ++i) items.push_back(madeItem("T" + std::to_string(i), false, i));
    showItems(items);
    open("thousand-tiles");
    const QRect viewport = inPanel(view->tilesViewport());
    // The tiles cover the viewport, each lies within 600 points of it, and they follow one
    // another in the row's order.
    auto expectBuiltAroundTheView = [&] {
        const auto positions = builtPositions(*view);
        ASSERT_FALSE(positions.empty());
        for (std::size_t k = 1; k < positions.size(); ++k) EXPECT_EQ(positions[k], positions[k - 1] + 1);
        const auto tiles = view->tileViews();
        EXPECT_LE(inPanel(tiles.front()).left(), viewport.left());
        EXPECT_GE(inPanel(tiles.back()).right(), viewport.right());
        EXPECT_GE(inPanel(tiles.front()).right(), viewport.left() - 600);
        EXPECT_LE(inPanel(tiles.back()).left(), viewport.right() + 600);
        EXPECT_LE(tiles.size(), static_cast<std::size_t>((viewport.width() + 1200) / 36 + 2));
    };
    expectBuiltAroundTheView();
    EXPECT_EQ(builtPositions(*view).front(), 0);
    const int lastAtOpening = builtPositions(*view).back();
    EXPECT_LT(lastAtOpening, 40);

    // Forty notches of the wheel: 1200 points along.
    QWheelEvent wheel(QPointF(50, 20), QPointF(50, 20), QPoint(), QPoint(0, -120 * 40), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view.get(), &wheel);
    expectBuiltAroundTheView();
    EXPECT_GT(builtPositions(*view).front(), 0) << "the tiles left far behind are gone";
    EXPECT_GT(builtPositions(*view).back(), lastAtOpening);
    const auto* inView = view->childAt(viewport.center());
    ASSERT_NE(dynamic_cast<const stashbay::IconTileView*>(inView), nullptr) << "a tile takes clicks in the middle";
    EXPECT_FALSE(inView->toolTip().isEmpty());
}

TEST_F(PanelWidgetTest, FocusMovingPastTheViewScrollsAndBuildsTheNextTilesAndTheKeysReachTheLast) {
    std::vector<MenuBarItem> items;
    for (int i = 0; i < 40; ++i) items.push_back(madeItem("T" + std::to_string(i), false, i));
    // Last, an item with a menu: a key shows it under its tile.
    items.push_back(hiddenNamed("Stopwatch"));
    showItems(items);
    open("focus-past-the-view");
    const QRect viewport = inPanel(view->tilesViewport());
    auto press = [&](Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &event);
        EXPECT_TRUE(event.isAccepted());
    };
    auto tileNamed = [&](const std::string& name) -> stashbay::IconTileView* {
        for (auto* tile : view->tileViews())
            if (tile->model().item().displayName() == name) return tile;
        return nullptr;
    };
    view->render();
    ASSERT_EQ(tileNamed("T35"), nullptr) << "beyond what the opening builds";
    for (int i = 0; i <= 35; ++i) press(Qt::Key_Right);
    view->render();
    auto* focused = tileNamed("T35");
    ASSERT_NE(focused, nullptr);
    EXPECT_TRUE(focused->model().isHighlighted());
    EXPECT_TRUE(viewport.contains(inPanel(focused))) << inPanel(focused).x();

    // Reopened: Left goes to the last tile, and Return at once, before the row is laid out again,
    // hangs its menu under that tile.
    view->hide();
    view->show();
    view->render();
    press(Qt::Key_Left);
    press(Qt::Key_Return);
    loop.runUntilIdle();
    view->render();
    auto* last = tileNamed("Stopwatch");
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(last->model().isHighlighted());
    EXPECT_TRUE(viewport.contains(inPanel(last))) << inPanel(last).x();
    ASSERT_EQ(context->menuLocations.size(), 1u);
    EXPECT_EQ(context->menuLocations[0], last->mapToGlobal(QPoint(0, 32)));
    EXPECT_TRUE(context->clicks.empty());
}
