#include "Views/StashbayPanel/PermissionBannerView.hpp"

#include "Views/StashbayPanel/Palette.hpp"
#include "Views/StashbayPanel/PanelFonts.hpp"
#include "Views/StashbayPanel/Symbols.hpp"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace stashbay {

PermissionBannerView::PermissionBannerView(QString missingPermission, std::function<void()> onTap, QWidget* parent)
    : QAbstractButton(parent), missingPermission_(std::move(missingPermission)), onTap_(std::move(onTap)) {
    setAccessibleName(accessibilityLabel());
    setCursor(Qt::PointingHandCursor);
    QObject::connect(this, &QAbstractButton::clicked, this, [this] {
        if (onTap_) onTap_();
    });
}

QString PermissionBannerView::title() const {
    return QCoreApplication::translate("PermissionBannerView", "%1 needed").arg(missingPermission_);
}

QString PermissionBannerView::subtitle() {
    return QCoreApplication::translate("PermissionBannerView", "Needed to detect menu bar icons");
}

QString PermissionBannerView::actionText() {
    return QCoreApplication::translate("PermissionBannerView", "Open Settings");
}

QString PermissionBannerView::accessibilityLabel() const {
    return QCoreApplication::translate("PermissionBannerView", "%1 permission missing. Activate to open Settings.")
        .arg(missingPermission_);
}

QSize PermissionBannerView::sizeHint() const { return QSize(200, bannerHeight); }

void PermissionBannerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    // The glass surface of the button.
    QPainterPath surface;
    surface.addRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), bounds.height() / 2, bounds.height() / 2);
    painter.fillPath(surface, isDown() ? palette::withOpacity(palette::glass(), 0.6) : palette::glass());
    painter.strokePath(surface, QPen(QColor(255, 255, 255, 200), 1));

    const QRectF content = bounds.adjusted(10, 6, -10, -6);
    drawSymbol(painter, "exclamationmark.triangle.fill", QRectF(content.left(), content.top(), 16, content.height()),
               14, palette::yellow());
    const double textLeft = content.left() + 16 + 8;
    painter.setFont(systemFont(10, QFont::Medium));
    const QString action = actionText();
    const double actionWidth = QFontMetricsF(painter.font()).horizontalAdvance(action);
    painter.setPen(palette::secondary());
    painter.drawText(QRectF(content.right() - actionWidth, content.top(), actionWidth, content.height()),
                     Qt::AlignVCenter | Qt::AlignRight, action);
    const double textWidth = content.right() - actionWidth - 8 - textLeft;
    painter.setFont(systemFont(11, QFont::Medium));
    painter.setPen(palette::primary());
    painter.drawText(QRectF(textLeft, content.top(), textWidth, 14), Qt::AlignLeft | Qt::AlignVCenter, title());
    painter.setFont(systemFont(10));
    painter.setPen(palette::secondary());
    painter.drawText(QRectF(textLeft, content.top() + 15, textWidth, 13), Qt::AlignLeft | Qt::AlignVCenter, subtitle());
}

}  // namespace stashbay
