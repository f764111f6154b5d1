#pragma once

#include "Services/PermissionsManager.hpp"

#include <QColor>
#include <QString>

#include <array>
#include <memory>
#include <string_view>

namespace stashbay {

// The Permissions section of the settings page: one row per permission with its badge; a click
// on a row only opens that permission's privacy pane. Main executor only.
class PermissionsSettingsModel {
public:
    enum class Row { accessibility, screenRecording };
    struct Badge {
        std::string_view symbol;
        QColor symbolColor;
        // "Granted" or "Missing".
        QString text;
        QColor textColor;
    };
    struct RowContent {
        Row row;
        QString label;
        Badge badge;
    };

    explicit PermissionsSettingsModel(std::shared_ptr<PermissionsManager> permissions)
        : permissions_(std::move(permissions)) {}

    static QString title();
    static Badge permissionBadge(bool granted);
    // The two rows as the permissions service reads now.
    std::array<RowContent, 2> rows() const;
    // Opens the row's pane; neither requests nor re-checks the permission.
    void click(Row row);
    const PermissionsManager& permissionsService() const { return *permissions_; }

private:
    std::shared_ptr<PermissionsManager> permissions_;
};

}  // namespace stashbay
