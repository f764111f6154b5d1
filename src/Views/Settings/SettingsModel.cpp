#include "Views/Settings/SettingsModel.hpp"

#include "Utilities/BundleExtensions.hpp"

#include <QCoreApplication>

namespace stashbay {

SettingsModel::SettingsModel(std::shared_ptr<AppState> state, UpdateCheckerConfiguration updates)
    : state_(std::move(state)),
      general_(state_->preferences(), std::move(updates)),
      permissions_(state_->permissions()) {}

QString SettingsModel::backTitle() { return QCoreApplication::translate("SettingsView", "Back"); }

QString SettingsModel::versionFooter() {
    const auto& bundle = ns::Bundle::main();
    return QCoreApplication::translate("SettingsView", "Stashbay v%1 (%2)")
        .arg(QString::fromStdString(shortVersionString(bundle)), QString::fromStdString(buildNumber(bundle)));
}

void SettingsModel::back() { state_->setPanelMode(AppState::PanelMode::normal); }

}  // namespace stashbay
