#include "PanelTestSupport.hpp"
#include "Views/StashbayPanel/EmptyStateView.hpp"
#include "Views/StashbayPanel/PermissionBannerView.hpp"

#include <QAccessible>

using stashbay::EmptyStateView;
using stashbay::PermissionBannerView;

namespace {

using BannerAndStatesTest = stashbay::testing::PanelWorldTest;

TEST_F(BannerAndStatesTest, ABannerReadsItsPermissionAndRunsItsAction) {
    int taps = 0;
    PermissionBannerView banner("Screen Recording", [&] { ++taps; });
    EXPECT_EQ(banner.title(), "Screen Recording needed");
    EXPECT_EQ(PermissionBannerView::subtitle(), "Needed to detect menu bar icons");
    EXPECT_EQ(PermissionBannerView::actionText(), "Open Settings");
    // A screen reader hears one sentence instead of the three texts.
    auto* accessible = QAccessible::queryAccessibleInterface(&banner);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Screen Recording permission missing. Activate to open Settings.");
    EXPECT_EQ(accessible->role(), QAccessible::Button);
    banner.click();
    EXPECT_EQ(taps, 1);
}

TEST_F(BannerAndStatesTest, TheEmptyStateSaysAllIconsVisibleOnlyWithBothPermissions) {
    struct Case {
        bool accessibility, screenRecording;
        std::string text, symbol;
    };
    const Case cases[] = {
        {true, true, "All icons visible", "checkmark.circle"},
        {false, true, "Permissions needed", "lock.shield"},
        {true, false, "Permissions needed", "lock.shield"},
        {false, false, "Permissions needed", "lock.shield"},
    };
    EmptyStateView view(context->permissions());
    for (const auto& c : cases) {
        world->permissions().accessibility = c.accessibility;
        world->permissions().screenRecording = c.screenRecording;
        context->permissions().checkPermissions();
        EXPECT_EQ(view.currentLabel().text.toStdString(), c.text);
        EXPECT_EQ(view.currentLabel().symbol, c.symbol);
    }
    EXPECT_EQ(stashbay::SkeletonLoadingView::text(), "Scanning...");
}

}  // namespace
