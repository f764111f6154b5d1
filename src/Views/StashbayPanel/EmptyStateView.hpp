#pragma once

#include "Services/PermissionsManager.hpp"
#include "macos/Observation/Observation.hpp"

#include <QString>
#include <QWidget>

#include <string_view>

class QTimer;

namespace stashbay {

// The one line shown when no item is hidden: that permissions are needed, or that every icon is
// visible. Follows the permissions service while shown.
class EmptyStateView : public QWidget {
public:
    struct Label {
        QString text;
        std::string_view symbol;
    };
    // "Permissions needed" with "lock.shield" unless both permissions are granted, then "All icons
    // visible" with "checkmark.circle".
    static Label label(bool allPermissionsGranted);
    // The width the whole line needs, symbol and text.
    static int lineWidth(const Label& label);

    EmptyStateView(PermissionsManager& permissions, QWidget* parent = nullptr);

    Label currentLabel() const { return label(permissions_.allPermissionsGranted()); }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PermissionsManager& permissions_;
    observation::ObservationToken accessibilityToken_;
    observation::ObservationToken screenRecordingToken_;
};

// The line shown while the first scan runs: a small spinner and "Scanning...".
class SkeletonLoadingView : public QWidget {
public:
    explicit SkeletonLoadingView(QWidget* parent = nullptr);

    static QString text();
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* spinTimer_;
};

}  // namespace stashbay
