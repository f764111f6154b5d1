#include "PanelTestSupport.hpp"
#include "Views/StashbayPanel/IconTileView.hpp"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QMouseEvent>

using namespace std::chrono_literals;
using stashbay::IconTileContent;
using stashbay::IconTileModel;
using stashbay::IconTileView;
using stashbay::MenuBarItem;
using stashbay::MenuBarItemID;

namespace {

class IconTileTest : public stashbay::testing::PanelWorldTest {
protected:
    static MenuBarItem item(bool enabled = true, bool verified = true, cg::ImageRef image = nullptr,
                            std::optional<std::string> bundle = "com.example.none",
                            std::optional<std::string> title = "Weather") {
        return MenuBarItem(MenuBarItemID(bundle, 0), 999, bundle, "Owner", std::move(title), cg::Point{}, cg::Size{}, 0,
                           enabled, verified, false, std::move(image), runtime::Date{});
    }
    IconTileModel tile(MenuBarItem it, bool highlighted = false, bool dragSource = false, bool failed = false) {
        return IconTileModel(
            std::move(it), highlighted, dragSource, failed, [this](QWidget* view) { taps.push_back(view); },
            [this](QWidget* view) { rightClicks.push_back(view); });
    }

    std::vector<QWidget*> taps;
    std::vector<QWidget*> rightClicks;
};

TEST_F(IconTileTest, LookFollowsTheFlagsWithTheFailureWinningTheColour) {
    struct Case {
        bool enabled, verified, highlighted, dragSource, failed, hovered;
        QColor fill;
        QColor stroke;
        double opacity;
    };
    const QColor orangeFill(255, 149, 0, 41), hoverFill(0, 0, 0, 20), clear(0, 0, 0, 0);
    const QColor accent(88, 86, 214), orange(255, 149, 0);
    const QColor hiddenAccent(88, 86, 214, 0);
    const Case cases[] = {
        {true, true, false, false, false, false, clear, hiddenAccent, 1.0},
        {true, true, false, false, false, true, hoverFill, hiddenAccent, 1.0},
        {true, true, true, false, false, false, clear, accent, 1.0},
        {true, true, true, false, true, false, orangeFill, orange, 1.0},  // failed and highlighted
        {true, true, false, false, true, true, orangeFill, orange, 1.0},  // failed under the pointer
        {false, true, false, false, false, false, clear, hiddenAccent, 0.5},
        {true, false, false, false, false, false, clear, hiddenAccent, 0.9},
        {false, true, false, true, false, false, clear, hiddenAccent, 0.3},
        {true, false, false, true, false, false, clear, hiddenAccent, 0.3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.enabled << c.verified << c.highlighted << c.dragSource << c.failed << c.hovered);
        auto model = tile(item(c.enabled, c.verified), c.highlighted, c.dragSource, c.failed);
        model.setHovered(c.hovered, loop.now());
        loop.advance(1s);
        const auto look = model.look(loop.now());
        EXPECT_EQ(look.fill.rgba(), c.fill.rgba());
        EXPECT_EQ(look.stroke.rgba(), c.stroke.rgba());
        EXPECT_DOUBLE_EQ(look.opacity, c.opacity);
    }
}

TEST_F(IconTileTest, TheFailureFlashFadesInAndOutOverTwoTenths) {
    auto model = tile(item());
    model.update(tile(item(), false, false, true), loop.now());
    EXPECT_EQ(model.look(loop.now()).stroke.alpha(), 0);
    loop.advance(100ms);
    const int half = model.look(loop.now()).stroke.alpha();
    EXPECT_GT(half, 0);
    EXPECT_LT(half, 255);
    loop.advance(100ms);
    EXPECT_EQ(model.look(loop.now()).stroke.alpha(), 255);
    model.update(tile(item()), loop.now());
    loop.advance(200ms);
    EXPECT_EQ(model.look(loop.now()).stroke.alpha(), 0);
    model.setHovered(true, loop.now());
    model.update(tile(item(), true), loop.now());
    EXPECT_TRUE(model.isHovered()) << "an update keeps the hover state";
}

TEST_F(IconTileTest, TextsAreTheDisplayNameAndTheFailureSentence) {
    EXPECT_EQ(tile(item()).toolTip(), "Weather");
    EXPECT_EQ(tile(item(true, true, nullptr, "b", std::nullopt)).toolTip(), "Owner");
    EXPECT_EQ(tile(item(), false, false, true).toolTip(), "Weather");
    EXPECT_EQ(tile(item(), false, false, true).accessibilityLabel(),
              "Weather. Could not activate; opening the app instead.");
}

TEST_F(IconTileTest, IconIsTheCapturedImageTheApplicationIconOrThePlaceholder) {
    auto image = [](std::size_t w, std::size_t h) { return cg::Image::filled(w, h, 0xff0000ffu); };
    struct Case {
        cg::ImageRef image;
        std::optional<std::string> bundle;
        IconTileContent::Kind kind;
        QSizeF size;
    };
    const Case cases[] = {
        {image(48, 36), "com.example.none", IconTileContent::Kind::capturedImage, {24, 18}},
        // Larger than the tile: scaled into it, never over the neighbours.
        {image(200, 36), std::nullopt, IconTileContent::Kind::capturedImage, {32, 5.76}},
        {nullptr, "net.tidewater.Barometer", IconTileContent::Kind::appIcon, {22, 22}},
        {nullptr, "com.example.none", IconTileContent::Kind::placeholder, {16, 16}},
        {nullptr, std::nullopt, IconTileContent::Kind::placeholder, {16, 16}},
    };
    for (const auto& c : cases) {
        const auto content = tile(item(true, true, c.image, c.bundle)).content();
        EXPECT_EQ(content.kind, c.kind);
        EXPECT_NEAR(content.size.width(), c.size.width(), 1e-9);
        EXPECT_NEAR(content.size.height(), c.size.height(), 1e-9);
    }
    // Without a screen the scale is 2.
    while (world->screens().size() > 0) world->removeScreen(0);
    EXPECT_EQ(tile(item(true, true, image(48, 36))).content().size, QSizeF(24, 18));
}

TEST_F(IconTileTest, MouseDownsAndAccessibilityActionsReachTheCallbacks) {
    IconTileView view(tile(item()));
    for (auto button : {Qt::LeftButton, Qt::RightButton, Qt::LeftButton}) {
        for (auto modifiers : {Qt::NoModifier, Qt::ControlModifier}) {
            QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), view.mapToGlobal(QPointF(5, 5)), button, button,
                              modifiers);
            QCoreApplication::sendEvent(&view, &press);
        }
    }
    EXPECT_EQ(taps, (std::vector<QWidget*>(4, &view))) << "modifiers make no difference";
    EXPECT_EQ(rightClicks, (std::vector<QWidget*>(2, &view)));

    auto* accessible = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::Button);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Weather");
    auto* actions = accessible->actionInterface();
    ASSERT_NE(actions, nullptr);
    EXPECT_TRUE(actions->actionNames().contains("Show Context Menu"));
    actions->doAction("Show Context Menu");
    actions->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(rightClicks.back(), nullptr);
    EXPECT_EQ(taps.back(), nullptr);
    EXPECT_FALSE(accessible->state().selected);
    view.update(tile(item(), true));
    EXPECT_TRUE(accessible->state().selected);
    EXPECT_EQ(view.toolTip(), "Weather");
}

}  // namespace
