#pragma once

#include <QAbstractButton>
#include <QString>

#include <functional>

namespace stashbay {

// A banner button telling that one permission is missing; pressing it runs the panel's action.
class PermissionBannerView : public QAbstractButton {
public:
    static constexpr int bannerHeight = 40;

    PermissionBannerView(QString missingPermission, std::function<void()> onTap, QWidget* parent = nullptr);

    const QString& missingPermission() const { return missingPermission_; }
    // "<permission> needed".
    QString title() const;
    // The same line for both permissions.
    static QString subtitle();
    static QString actionText();
    // One sentence that replaces the three texts for a screen reader.
    QString accessibilityLabel() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString missingPermission_;
    std::function<void()> onTap_;
};

}  // namespace stashbay
