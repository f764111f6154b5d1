#include "Updates/LocalServer/LoopbackHttpsServer.hpp"
#include "Updates/ManifestFetch.hpp"
#include "Utilities/BundleExtensions.hpp"
#include "Views/Settings/SettingsView.hpp"
#include "Views/Settings/tests/PageFixture.hpp"
#include "Views/StashbayPanel/Palette.hpp"
#include "Views/StashbayPanel/tests/PanelTestSupport.hpp"
#include "macos/Foundation/UserDefaults.hpp"

#include <QImage>

#include <thread>

using namespace stashbay;
using Target = SettingsView::Target;
using namespace std::chrono_literals;

namespace {

class SettingsViewTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        stashbay::testing::ensureQtApplication();
        make();
        state->setPanelMode(AppState::PanelMode::settings);
        view = std::make_unique<SettingsView>(std::make_unique<SettingsModel>(state));
        view->resize(320, 320);
    }
    QPointF centreOf(Target target, std::size_t index = 0) const {
        for (const auto& hit : view->layout().hits)
            if (hit.target == target && hit.index == index) return hit.rect.center();
        ADD_FAILURE() << "no control there";
        return {};
    }
    std::unique_ptr<SettingsView> view;
};

}  // namespace

TEST_F(SettingsViewTest, TheSectionsScrollBetweenAFixedBackButtonAndFooter) {
    auto page = view->layout();
    EXPECT_EQ(page.back.top(), 12);
    EXPECT_EQ(page.footer.bottom(), 308);
    ASSERT_EQ(page.sections.size(), 2u);
    EXPECT_EQ(page.sections[0].rows.size(), 4u);
    EXPECT_EQ(page.sections[1].rows.size(), 2u);
    for (const auto& section : page.sections) {
        EXPECT_EQ(section.rows.front().rect.top(), section.header.bottom() + 6);
        for (std::size_t i = 1; i < section.rows.size(); ++i)
            EXPECT_EQ(section.rows[i].rect.top(), section.rows[i - 1].rect.bottom());
        for (const auto& row : section.rows) EXPECT_GE(row.trailingRect.left() - row.labelRect.right(), 8);
        EXPECT_EQ(section.rect.bottom(), section.rows.back().rect.bottom() + 14);
    }
    // Taller than the room it gets: only the sections move.
    ASSERT_GT(page.contentHeight, page.viewport.height());
    view->scrollBy(1000);
    auto scrolled = view->layout();
    EXPECT_EQ(view->scrollOffset(), page.contentHeight - page.viewport.height());
    EXPECT_EQ(scrolled.back, page.back);
    EXPECT_EQ(scrolled.footer, page.footer);
    EXPECT_LT(scrolled.sections[0].header.top(), page.sections[0].header.top());
}

TEST_F(SettingsViewTest, ClicksReachThePreferencesAndTheBackButtonLeavesThePage) {
    view->clickAt(centreOf(Target::intervalSegment, 2));
    EXPECT_EQ(ns::UserDefaults::standard().object(UserPreferences::Keys::scanInterval), cf::Value(5.0));
    view->clickAt(centreOf(Target::globalHotkey));
    EXPECT_FALSE(state->preferences()->globalHotkeyEnabled());
    view->clickAt(centreOf(Target::back));
    EXPECT_EQ(state->panelMode(), AppState::PanelMode::normal);
}

TEST_F(SettingsViewTest, RendersThePageHeadless) {
    world->permissions().screenRecording = false;
    state->permissions()->checkPermissions();
    QImage image(320, 320, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    view->render(&image);
    std::filesystem::create_directories(STASHBAY_RENDER_DIR);
    EXPECT_TRUE(image.save(QString::fromUtf8(STASHBAY_RENDER_DIR) + "/settings.png"));
    // The back chevron is indigo; the Missing badge red somewhere in the Permissions rows.
    const auto page = view->layout();
    auto shows = [&](const QRectF& area, const QColor& colour) {
        for (int x = static_cast<int>(area.left()); x < static_cast<int>(area.right()); ++x)
            for (int y = static_cast<int>(area.top()); y < static_cast<int>(area.bottom()); ++y)
                if (image.pixelColor(x, y) == colour) return true;
        return false;
    };
    EXPECT_TRUE(shows(page.back, palette::accent()));
    ASSERT_EQ(page.sections.size(), 2u);
    const auto& permissions = page.sections[1].rows;
    ASSERT_EQ(permissions.size(), 2u);
    const QColor red(255, 59, 48);
    const QColor green(52, 199, 89);
    EXPECT_FALSE(shows(permissions[0].trailingRect, red)) << "Accessibility is granted";
    EXPECT_TRUE(shows(permissions[0].trailingRect, green));
    EXPECT_TRUE(shows(permissions[1].trailingRect, red)) << "Screen Recording is missing";
    // The General section's picker shows the stored 2 s segment selected, in white.
    EXPECT_TRUE(shows(page.sections[0].rows[1].trailingRect, Qt::white));
}

TEST_F(SettingsViewTest, AnEndedCheckOffersNoRetryUntilThePageIsBuiltAgain) {
    if (!testing_https::opensslCommandAvailable()) GTEST_SKIP() << "the openssl command makes the server's certificate";
    auto certificate = testing_https::makeTestCertificate(base, "server");
    ASSERT_TRUE(certificate);
    testing_https::LoopbackHttpsServer server(*certificate);
    const auto running = shortVersionString(ns::Bundle::main());
    server.route("/current.json",
                 {200, R"({"version": ")" + running + R"(", "download": "https://stashbay.app/d.dmg"})", {}});
    using Kind = GeneralSettingsModel::UpdateContent::Kind;
    struct Case {
        const char* path;  // unknown paths answer 404
        Kind ended;
    };
    for (const auto& c : {Case{"/current.json", Kind::upToDate}, Case{"/missing.json", Kind::failed}}) {
        SCOPED_TRACE(c.path);
        UpdateCheckerConfiguration updates;
        updates.manifestURL = ns::URL::fromString(server.url(c.path));
        updates.trustAnchorPEM = certificate->certificatePEM;
        SettingsView page(std::make_unique<SettingsModel>(state, updates));
        page.resize(320, 320);
        auto updateButton = [&] {
            for (const auto& hit : page.layout().hits)
                if (hit.target == Target::updateButton) return hit.rect.center();
            ADD_FAILURE() << "no update control";
            return QPointF();
        };
        const auto before = server.requests().size();
        page.clickAt(updateButton());
        loop.runUntilIdle();
        const auto limit = std::chrono::steady_clock::now() + 30s;
        while ((page.model().general().updateContent().kind == Kind::spinner ||
                stashbay::ManifestFetch::workersRunning() > 0) &&
               std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(10ms);
            loop.runUntilIdle();
        }
        ASSERT_EQ(page.model().general().updateContent().kind, c.ended);
        ASSERT_EQ(server.requests().size(), before + 1);
        // Where the button was, a click starts nothing: the end state stays.
        page.clickAt(updateButton());
        loop.runUntilIdle();
        EXPECT_EQ(page.model().general().updateContent().kind, c.ended);
        EXPECT_EQ(server.requests().size(), before + 1);
    }
}
