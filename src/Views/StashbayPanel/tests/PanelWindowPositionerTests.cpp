#include "Views/StashbayPanel/PanelWindowPositioner.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using stashbay::PanelWindowPositioner;
using stashbay::PositionedWindow;

namespace {

// A window that keeps its frame, counts its moves and delivers its notifications when told.
class TestWindow : public PositionedWindow {
public:
    explicit TestWindow(cg::Rect frame) : frame_(frame) {}
    cg::Rect frame() const override { return frame_; }
    void setFrameOrigin(cg::Point origin) override {
        frame_.origin = origin;
        ++moves;
    }
    std::vector<std::any> observeResizeAndBecomeKey(std::function<void()> handler) override {
        auto shared = std::make_shared<std::function<void()>>(std::move(handler));
        handlers.push_back(shared);
        handlers.push_back(shared);
        return {std::any(shared), std::any(shared)};
    }
    // The window grew: its resize notification.
    void resize(double width) {
        frame_.size.width = width;
        for (auto& weak : handlers)
            if (auto h = weak.lock()) {
                (*h)();
                break;
            }
    }
    long liveRegistrations() const {
        long n = 0;
        for (auto& weak : handlers) n += weak.expired() ? 0 : 1;
        return n;
    }

    int moves = 0;
    std::vector<std::weak_ptr<std::function<void()>>> handlers;

private:
    cg::Rect frame_;
};

TEST(PanelWindowPositionerTest, TheRightEdgesMeetUnlessWithinAPoint) {
    const cg::Rect status{{1176, 875}, {24, 25}};  // right edge at 1200
    struct Case {
        double x;
        std::optional<double> expected;
    };
    const Case cases[] = {
        {850, 900}, {900.5, std::nullopt}, {901.0, std::nullopt}, {899.0, std::nullopt}, {901.01, 900}, {-50, 900}};
    for (const auto& c : cases) {
        auto origin = PanelWindowPositioner::targetOrigin(status, cg::Rect{{c.x, 600}, {300, 275}});
        ASSERT_EQ(origin.has_value(), c.expected.has_value()) << c.x;
        if (origin) {
            EXPECT_DOUBLE_EQ(origin->x, *c.expected);
            EXPECT_DOUBLE_EQ(origin->y, 600) << "y never changes";
        }
    }
    // Wider than the room left of the status item: partly beyond the screen's left edge.
    EXPECT_DOUBLE_EQ(PanelWindowPositioner::targetOrigin({{76, 875}, {24, 25}}, {{0, 600}, {300, 275}})->x, -200);
}

TEST(PanelWindowPositionerTest, PassesFollowTheViewAndTheWindowsNotifications) {
    runtime::ManualLoop loop;
    std::shared_ptr<PositionedWindow> statusWindow;
    auto panel = std::make_shared<TestWindow>(cg::Rect{{850, 600}, {300, 275}});
    auto positioner = std::make_unique<PanelWindowPositioner>([&] { return statusWindow; });

    positioner->viewCreated([&]() -> std::shared_ptr<PositionedWindow> { return panel; });
    loop.advance(1s);
    EXPECT_EQ(panel->moves, 0) << "no status item window yet";
    EXPECT_EQ(positioner->registrationCount(), 2u);

    statusWindow = std::make_shared<TestWindow>(cg::Rect{{1176, 875}, {24, 25}});
    positioner->viewUpdated(panel);
    EXPECT_EQ(positioner->registrationCount(), 2u) << "the same window keeps its two registrations";
    EXPECT_EQ(panel->liveRegistrations(), 2);
    EXPECT_EQ(panel->moves, 0) << "an update does not move at once";
    loop.advance(20ms);
    EXPECT_EQ(panel->moves, 1);
    EXPECT_DOUBLE_EQ(panel->frame().origin.x, 900);
    loop.advance(200ms);
    EXPECT_EQ(panel->moves, 1) << "later passes find it in place";

    // More tiles: the window grows, and its resize puts the right edge back at once.
    panel->resize(372);
    EXPECT_EQ(panel->moves, 2);
    EXPECT_DOUBLE_EQ(panel->frame().maxX(), 1200);
    loop.advance(50ms);
    EXPECT_EQ(panel->moves, 2);

    // Another window: the old registrations go before the new ones come.
    auto other = std::make_shared<TestWindow>(cg::Rect{{0, 0}, {300, 200}});
    positioner->viewUpdated(other);
    EXPECT_EQ(panel->liveRegistrations(), 0);
    EXPECT_EQ(other->liveRegistrations(), 2);
    loop.advance(1s);
    EXPECT_DOUBLE_EQ(other->frame().origin.x, 900);
    positioner.reset();
    EXPECT_EQ(other->liveRegistrations(), 0) << "the registrations end with the positioner";
}

}  // namespace
