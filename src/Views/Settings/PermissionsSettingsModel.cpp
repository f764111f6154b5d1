#include "Views/Settings/PermissionsSettingsModel.hpp"

#include "Views/StashbayPanel/Palette.hpp"

#include <QCoreApplication>

namespace stashbay {

QString PermissionsSettingsModel::title() { return QStringLiteral("Permissions"); }

PermissionsSettingsModel::Badge PermissionsSettingsModel::permissionBadge(bool granted) {
    const QColor green(52, 199, 89);
    const QColor red(255, 59, 48);
    if (granted)
        return {"checkmark.circle.fill", green, QCoreApplication::translate("PermissionsSettingsView", "Granted"),
                palette::secondary()};
    return {"xmark.circle.fill", red, QCoreApplication::translate("PermissionsSettingsView", "Missing"), red};
}

std::array<PermissionsSettingsModel::RowContent, 2> PermissionsSettingsModel::rows() const {
    return {{
        {Row::accessibility, QStringLiteral("Accessibility"), permissionBadge(permissions_->accessibilityGranted())},
        {Row::screenRecording, QStringLiteral("Screen Recording"),
         permissionBadge(permissions_->screenRecordingGranted())},
    }};
}

void PermissionsSettingsModel::click(Row row) {
    if (row == Row::accessibility)
        permissions_->openAccessibilitySettings();
    else
        permissions_->openScreenRecordingSettings();
}

}  // namespace stashbay
