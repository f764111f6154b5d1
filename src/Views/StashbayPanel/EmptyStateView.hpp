#pragma once

#include "Services/PermissionsManager.hpp"
#include "Views/StashbayPanel/Animation.hpp"
#include "macos/Observation/Observation.hpp"

#include <QString>
#include <QWidget>

#include <string_view>

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

// The line shown while the first scan runs: a small spinner and "Scanning...". The spinner asks
// for a frame at each of its steps while the line is shown, and for none otherwise.
class SkeletonLoadingView : public QWidget {
public:
    // Its twelve spokes move on once a twelfth of a second.
    static constexpr runtime::Duration spinnerStep = std::chrono::microseconds(83334);

    explicit SkeletonLoadingView(QWidget* parent = nullptr);

    static QString text();
    QSize sizeHint() const override;
    bool isRequestingFrames() const { return frames_.isRequesting(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    FrameRequester frames_;
};

}  // namespace stashbay
