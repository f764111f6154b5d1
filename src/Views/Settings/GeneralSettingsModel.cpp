#include "Views/Settings/GeneralSettingsModel.hpp"

#include "Utilities/BundleExtensions.hpp"
#include "macos/AppKit/Workspace.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <QCoreApplication>

namespace stashbay {

namespace {
QString tr(const char* text) { return QCoreApplication::translate("GeneralSettingsView", text); }
}  // namespace

GeneralSettingsModel::GeneralSettingsModel(std::shared_ptr<UserPreferences> preferences,
                                           UpdateCheckerConfiguration updates)
    : preferences_(std::move(preferences)), updateChecker_(std::make_shared<UpdateChecker>(std::move(updates))) {}

QString GeneralSettingsModel::title() { return QStringLiteral("General"); }

std::array<QString, 4> GeneralSettingsModel::rowLabels() {
    return {QStringLiteral("Launch at Login"), QStringLiteral("Scan Interval"), QStringLiteral("Global Hotkey"),
            QStringLiteral("Updates")};
}

const std::array<GeneralSettingsModel::IntervalSegment, 4>& GeneralSettingsModel::intervalSegments() {
    static const std::array<IntervalSegment, 4> segments{{
        {tr("1s"), 1.0},
        {tr("2s"), 2.0},
        {tr("5s"), 5.0},
        {tr("10s"), 10.0},
    }};
    return segments;
}

QString GeneralSettingsModel::shortcutBadge() { return tr("Ctrl+Opt+M"); }

QString GeneralSettingsModel::versionText() {
    return QStringLiteral("v") + QString::fromStdString(shortVersionString(ns::Bundle::main()));
}

GeneralSettingsModel::UpdateContent GeneralSettingsModel::updateContent(const UpdateChecker::State& state) {
    using Kind = UpdateContent::Kind;
    switch (state.kind()) {
        case UpdateChecker::State::Kind::idle: return {Kind::checkButton, tr("Check for Updates"), {}};
        case UpdateChecker::State::Kind::checking: return {Kind::spinner, {}, {}};
        case UpdateChecker::State::Kind::upToDate: return {Kind::upToDate, tr("Up to date"), {}};
        case UpdateChecker::State::Kind::updateAvailable:
            return {Kind::updateAvailable, tr("v%1 available").arg(QString::fromStdString(state.version())),
                    tr("Download")};
        case UpdateChecker::State::Kind::failed: return {Kind::failed, QString::fromStdString(state.message()), {}};
    }
    return {Kind::checkButton, tr("Check for Updates"), {}};
}

std::optional<std::size_t> GeneralSettingsModel::selectedIntervalSegment() const {
    const double stored = preferences_->scanInterval();
    const auto& segments = intervalSegments();
    for (std::size_t index = 0; index < segments.size(); ++index)
        if (segments[index].seconds == stored) return index;
    return std::nullopt;
}

void GeneralSettingsModel::chooseIntervalSegment(std::size_t index) {
    if (index >= intervalSegments().size()) return;
    preferences_->setScanInterval(intervalSegments()[index].seconds);
}

void GeneralSettingsModel::checkForUpdates() {
    (void)runtime::spawn(runtime::mainExecutor(), runCheck(updateChecker_));
}

// Holds the checker for the check's length, like the task the section starts and forgets.
runtime::Task<void> GeneralSettingsModel::runCheck(std::shared_ptr<UpdateChecker> checker) {
    auto checking = checker->check();
    co_await checking;
}

void GeneralSettingsModel::download() {
    const auto& state = updateChecker_->state();
    if (state.kind() != UpdateChecker::State::Kind::updateAvailable || !state.url()) return;
    ns::Workspace::shared().open(*state.url(), {}, nullptr);
}

}  // namespace stashbay
