#include "PanelTestSupport.hpp"
#include "Views/StashbayPanel/AppPanelContext.hpp"
#include "Views/StashbayPanel/StashbayPanelModel.hpp"
#include "macos/Foundation/FileManager.hpp"

#include <unistd.h>

#include <filesystem>

using namespace std::chrono_literals;
using stashbay::AppPanelContext;
using stashbay::AppState;
using stashbay::MenuBarItem;
using stashbay::StashbayPanelModel;

namespace {

// The started application state over the default world, and the panel over it as the app makes
// it.
class PanelStoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        stashbay::testing::ensureQtApplication();
        os::LogStore::shared().setEchoToStderr(false);
        base =
            std::filesystem::temp_directory_path() / ("stashbay-views-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(base);
        ns::FileManager::defaultManager().setApplicationSupportOverride(base);
        state = AppState::create();
        loop.run(state->startAfterOnboarding());
        loop.advance(10ms);
        AppPanelContext::Windows windows;
        windows.popUpMenu = [this](std::unique_ptr<QMenu> menu, const QPoint&) {
            QAction* chosen = answerMenu ? answerMenu(*menu) : nullptr;
            if (chosen) chosen->trigger();
        };
        keyContent = std::make_unique<QWidget>();
        windows.keyWindowContentView = [this] { return keyContent.get(); };
        context = std::make_shared<AppPanelContext>(state, state->permissions(), std::move(windows));
        model = StashbayPanelModel::make(context);
    }
    void TearDown() override {
        model.reset();
        context.reset();
        state->stop();
        loop.advance(1s);
        state.reset();
        loop.runUntilIdle();
        ns::FileManager::defaultManager().reset();
        std::filesystem::remove_all(base);
    }
    MenuBarItem tileNamed(const std::string& name) const {
        for (const auto& item : model->allItems())
            if (item.displayName() == name) return item;
        throw std::runtime_error("no tile " + name);
    }

    runtime::ManualLoop loop;
    sim::World world;
    os::LogCapture capture;
    std::filesystem::path base;
    std::shared_ptr<AppState> state;
    std::shared_ptr<AppPanelContext> context;
    std::shared_ptr<StashbayPanelModel> model;
    std::function<QAction*(QMenu&)> answerMenu;
    std::unique_ptr<QWidget> keyContent;
};

TEST_F(PanelStoryTest, ThePanelShowsTheWorldsHiddenItemsAndTheBannerOfARevokedPermission) {
    EXPECT_EQ(model->normalContent(), StashbayPanelModel::NormalContent::tiles);
    for (const auto& tile : model->tiles()) EXPECT_FALSE(tile.item.isOnScreen()) << tile.item.displayName();
    EXPECT_NO_THROW(tileNamed("Stopwatch"));
    EXPECT_TRUE(model->permissionBanners().empty());
    world.permissions().accessibility = false;
    loop.advance(30s);  // the next poll
    ASSERT_EQ(model->permissionBanners().size(), 1u);
    EXPECT_EQ(model->permissionBanners()[0].missingPermission, "Accessibility");
}

TEST_F(PanelStoryTest, ChoosingAnEntryOfAHiddenItemsMirroredMenuReachesTheApplication) {
    const MenuBarItem stopwatch = tileNamed("Stopwatch");
    QStringList shown;
    answerMenu = [&](QMenu& menu) {
        for (auto* action : menu.actions()) shown << action->text();
        return menu.actions().at(1);  // "Reset"
    };
    model->moveFocus(1);
    while (model->focusedItem()->id() != stopwatch.id()) model->moveFocus(1);
    EXPECT_EQ(model->handleKey(StashbayPanelModel::Key::space, {}), StashbayPanelModel::KeyResult::handled);
    loop.runUntilIdle();
    EXPECT_EQ(shown, (QStringList{"Start", "Reset"}));
    ASSERT_EQ(world.menuChoices().size(), 1u);
    EXPECT_EQ(world.menuChoices()[0].path, (std::vector<std::size_t>{1}));
    EXPECT_TRUE(world.menuHistory().empty()) << "the real item was neither pressed nor clicked";
    EXPECT_EQ(world.alertSounds().count(), 0);
    EXPECT_TRUE(loop.run(state->scanner()->isPaused())) << "scanning paused by the activation";
}

TEST_F(PanelStoryTest, ATileWhoseItemHasNoReadableMenuRunsTheActivationChainAndTheItemsMenuOpens) {
    // Tally's menu is not in its accessibility tree; a right click on it in the bar opens it.
    const MenuBarItem tally = tileNamed("Tally");
    int menusShown = 0;
    answerMenu = [&](QMenu&) {
        ++menusShown;
        return nullptr;
    };
    model->handleItemInteraction(tally, true, nullptr);
    loop.advance(5s);
    EXPECT_EQ(menusShown, 0) << "nothing to mirror";
    ASSERT_TRUE(world.openMenuItem().has_value());
    EXPECT_EQ(world.statusItem(*world.openMenuItem())->spec.title, "Tally");
    EXPECT_EQ(world.menuHistory().back().trigger, sim::World::MenuTrigger::click);
    EXPECT_EQ(world.alertSounds().count(), 0);
    EXPECT_EQ(model->failedItemID(), std::nullopt);
    loop.advance(40s);  // the item goes back out of view once its menu has closed
}

TEST_F(PanelStoryTest, AFailedActivationBeepsAndMarksTheTileForAMoment) {
    const MenuBarItem whisper = tileNamed("Whisper");
    model->handleItemInteraction(whisper, false, nullptr);
    const auto started = loop.now();
    while (world.alertSounds().count() == 0 && loop.now() - started < 10s) loop.advance(100ms);
    EXPECT_EQ(capture.count("interaction",
                            "All AX activation strategies failed for hidden item Whisper; opened its "
                            "app as a last resort (tried axPress, activate+axPress, axShowMenu, openApp)"),
              1u);
    EXPECT_EQ(world.alertSounds().count(), 1);
    EXPECT_EQ(world.processes().frontmost(), 453) << "its application was opened as the last resort";
    EXPECT_EQ(model->failedItemID(), whisper.id());
    for (const auto& tile : model->tiles()) EXPECT_EQ(tile.isFailed, tile.item.id() == whisper.id());
    loop.advance(1200ms);
    EXPECT_EQ(model->failedItemID(), std::nullopt);
}

}  // namespace
