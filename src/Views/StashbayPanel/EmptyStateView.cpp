#include "Views/StashbayPanel/EmptyStateView.hpp"

#include "Views/StashbayPanel/Palette.hpp"
#include "Views/StashbayPanel/PanelFonts.hpp"
#include "Views/StashbayPanel/Symbols.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>
#include <numbers>

namespace stashbay {

EmptyStateView::Label EmptyStateView::label(bool allPermissionsGranted) {
    if (!allPermissionsGranted)
        return {QCoreApplication::translate("EmptyStateView", "Permissions needed"), "lock.shield"};
    return {QCoreApplication::translate("EmptyStateView", "All icons visible"), "checkmark.circle"};
}

EmptyStateView::EmptyStateView(PermissionsManager& permissions, QWidget* parent)
    : QWidget(parent), permissions_(permissions) {
    accessibilityToken_ = permissions_.observeAccessibilityGranted([this](const bool&) { update(); });
    screenRecordingToken_ = permissions_.observeScreenRecordingGranted([this](const bool&) { update(); });
    setAccessibleName(currentLabel().text);
}

int EmptyStateView::lineWidth(const Label& label) {
    return 16 + 6 + static_cast<int>(std::ceil(QFontMetricsF(systemFont(12)).horizontalAdvance(label.text)));
}

QSize EmptyStateView::sizeHint() const { return QSize(lineWidth(currentLabel()), 16); }

void EmptyStateView::paintEvent(QPaintEvent*) {
    const Label current = currentLabel();
    setAccessibleName(current.text);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawSymbol(painter, current.symbol, QRectF(0, 0, 16, height()), 13, palette::secondary());
    painter.setFont(systemFont(12));
    painter.setPen(palette::secondary());
    const QRectF textRect(22, 0, width() - 22, height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(painter.font()).elidedText(current.text, Qt::ElideRight, textRect.width()));
}

SkeletonLoadingView::SkeletonLoadingView(QWidget* parent)
    : QWidget(parent), frames_([this](runtime::Instant) { return isVisible(); }, [this] { update(); }, spinnerStep) {
    setAccessibleName(text());
}

void SkeletonLoadingView::showEvent(QShowEvent*) { frames_.start(); }

void SkeletonLoadingView::hideEvent(QHideEvent*) { frames_.stop(); }

QString SkeletonLoadingView::text() { return QCoreApplication::translate("SkeletonLoadingView", "Scanning..."); }

QSize SkeletonLoadingView::sizeHint() const {
    return QSize(16 + 6 + QFontMetrics(systemFont(12)).horizontalAdvance(text()), 16);
}

void SkeletonLoadingView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The small spinner: twelve spokes, the brightest turning once a second on the runtime's clock.
    const double turn =
        runtime::EventLoop::currentOrNull() ? std::fmod(runtime::seconds(runtime::now().sinceEpoch), 1.0) : 0.0;
    const int lead = static_cast<int>(turn * 12);
    const QPointF centre(8, height() / 2.0);
    for (int i = 0; i < 12; ++i) {
        const double angle = i * std::numbers::pi / 6;
        const double fade = ((lead - i + 12) % 12) / 12.0;
        painter.setPen(
            QPen(palette::withOpacity(QColor(0, 0, 0), 0.7 * (1 - fade) + 0.1), 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(centre + QPointF(3.2 * std::sin(angle), -3.2 * std::cos(angle)),
                         centre + QPointF(6.5 * std::sin(angle), -6.5 * std::cos(angle)));
    }
    painter.setFont(systemFont(12));
    painter.setPen(palette::secondary());
    painter.drawText(QRectF(22, 0, width() - 22, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}

}  // namespace stashbay
