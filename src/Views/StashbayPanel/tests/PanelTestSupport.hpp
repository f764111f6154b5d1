#pragma once

#include "Views/StashbayPanel/tests/QtApplication.hpp"

#include "Services/MenuBarScanner.hpp"
#include "Services/PermissionsManager.hpp"
#include "System/AccessibilityBridge.hpp"
#include "Views/StashbayPanel/PanelContext.hpp"
#include "macos/AppKit/RunningApplication.hpp"
#include "macos/AppKit/Sound.hpp"
#include "macos/AppKit/Workspace.hpp"
#include "macos/Observation/Observation.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace stashbay::testing {

// The panel's context over the simulated world, with the parts that the panel's neighbours
// provide played here: the state's observed values, a scanner whose pause is real, the
// accessibility bridge for menus and presses, and a scripted outcome for item clicks.
class WorldPanelContext : public PanelContext {
public:
    explicit WorldPanelContext(std::shared_ptr<MenuBarScanner> scanner)
        : scanner_(std::move(scanner)), permissions_(PermissionsManager::create()) {}

    observation::Observable<PanelMode> mode{PanelMode::normal};
    observation::Observable<bool> scanning{false};
    observation::Observable<bool> itemsEmpty{false};
    observation::Observable<std::vector<MenuBarSection>> sectionList;
    observation::Observable<std::optional<MenuBarItem>> dragging;

    // What the item clicks answer, and the clicks made: (title, right button).
    bool clickResult = false;
    std::vector<std::pair<std::string, bool>> clicks;
    int orderOuts = 0;
    int terminations = 0;
    QWidget* keyContentView = nullptr;
    // Answers each pop-up menu for the user: returns the entry chosen, or null to dismiss it.
    std::function<QAction*(QMenu&, const QPoint&)> answerMenu = [](QMenu&, const QPoint&) { return nullptr; };
    std::vector<QPoint> menuLocations;

    PanelMode panelMode() const override { return mode.get(); }
    void setPanelMode(PanelMode m) override { mode = m; }
    bool isScanning() const override { return scanning.get(); }
    bool menuBarItemsEmpty() const override { return itemsEmpty.get(); }
    std::vector<MenuBarSection> sections() const override { return sectionList.get(); }
    std::optional<MenuBarItem> draggingItem() const override { return dragging.get(); }
    PermissionsManager& permissions() override { return *permissions_; }

    runtime::Task<void> pauseScanning(double seconds) override {
        auto pausing = scanner_->pauseFor(seconds);
        co_await pausing;
    }
    runtime::Task<bool> clickItem(MenuBarItem item) override {
        clicks.emplace_back(item.displayName(), false);
        co_return clickResult;
    }
    runtime::Task<bool> rightClickItem(MenuBarItem item) override {
        clicks.emplace_back(item.displayName(), true);
        co_return clickResult;
    }
    std::optional<std::vector<AccessibilityBridge::AXMenuSnapshot>> menuSnapshot(const MenuBarItem& item) override {
        auto process = sim::World::current().processes().find(item.ownerPID());
        if (!process) return std::nullopt;
        for (const auto& axItem : AccessibilityBridge::menuBarItems(ns::RunningApplication(process)))
            if (axItem.title == item.title()) return AccessibilityBridge::menuSnapshot(axItem.axElement.element);
        return std::nullopt;
    }
    bool pressMenuItem(const ax::UIElementRef& element) override { return AccessibilityBridge::performPress(element); }
    QWidget* keyWindowContentView() override { return keyContentView; }
    void orderOutKeyWindow() override { ++orderOuts; }
    void terminate() override { ++terminations; }
    void popUpMenu(std::unique_ptr<QMenu> menu, const QPoint& location) override {
        menuLocations.push_back(location);
        QAction* chosen = answerMenu(*menu, location);
        if (chosen) chosen->trigger();
    }
    void beep() override { ns::Sound::beep(); }

private:
    std::shared_ptr<MenuBarScanner> scanner_;
    std::shared_ptr<PermissionsManager> permissions_;
};

// The default world, scanned once: its hidden items make the panel's row.
class PanelWorldTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureQtApplication();
        os::LogStore::shared().setEchoToStderr(false);
        world = std::make_unique<sim::World>();
        capture = std::make_unique<os::LogCapture>();
        scanner = MenuBarScanner::create();
        context = std::make_shared<WorldPanelContext>(scanner);
        loop.runUntilIdle();
        const auto items = loop.run(scanner->scanOnce());
        for (const auto& item : items) {
            scanned.push_back(item);
            if (!item.isOnScreen()) hidden.push_back(item);
        }
        showItems(hidden);
    }
    void TearDown() override {
        context.reset();
        scanner.reset();
        loop.runUntilIdle();
    }

    void showItems(std::vector<MenuBarItem> items) {
        context->sectionList =
            std::vector<MenuBarSection>{MenuBarSection(MenuBarSection::SectionType::hiddenByNotch, std::move(items))};
    }
    const MenuBarItem& scannedNamed(const std::string& name) const {
        for (const auto& item : scanned)
            if (item.displayName() == name) return item;
        throw std::runtime_error("no item " + name);
    }
    const MenuBarItem& hiddenNamed(const std::string& name) const {
        for (const auto& item : hidden)
            if (item.displayName() == name) return item;
        std::string names;
        for (const auto& item : hidden) names += " '" + item.displayName() + "'";
        throw std::runtime_error("no hidden item " + name + "; hidden:" + names);
    }
    // An item made for the test, with the given title, on screen or not.
    static MenuBarItem madeItem(const std::string& title, bool onScreen = false, std::int64_t index = 0) {
        return MenuBarItem(MenuBarItemID("com.example." + title, index), 999, "com.example." + title, title, title,
                           cg::Point{0, 0}, cg::Size{24, 24}, 0, true, true, onScreen, nullptr, runtime::Date{});
    }

    runtime::ManualLoop loop;
    std::unique_ptr<sim::World> world;
    std::unique_ptr<os::LogCapture> capture;
    std::shared_ptr<MenuBarScanner> scanner;
    std::shared_ptr<WorldPanelContext> context;
    std::vector<MenuBarItem> scanned;
    std::vector<MenuBarItem> hidden;
};

}  // namespace stashbay::testing
