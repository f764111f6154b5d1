#include "Views/StashbayPanel/IconTileModel.hpp"

#include "Views/StashbayPanel/Palette.hpp"
#include "macos/AppKit/Screen.hpp"
#include "macos/AppKit/Workspace.hpp"

#include <QCoreApplication>

#include <algorithm>

namespace stashbay {

IconTileModel::IconTileModel(MenuBarItem item, bool isHighlighted, bool isDragSource, bool isFailed, Callback onTap,
                             Callback onRightClick)
    : item_(std::move(item)),
      isHighlighted_(isHighlighted),
      isDragSource_(isDragSource),
      isFailed_(isFailed),
      onTap_(std::move(onTap)),
      onRightClick_(std::move(onRightClick)),
      failure_(isFailed ? 1.0 : 0.0, Curve::easeInOut, std::chrono::milliseconds(200)) {}

void IconTileModel::update(IconTileModel newer, runtime::Instant now) {
    if (newer.isFailed_ != isFailed_) failure_.animateTo(newer.isFailed_ ? 1.0 : 0.0, now);
    item_ = std::move(newer.item_);
    isHighlighted_ = newer.isHighlighted_;
    isDragSource_ = newer.isDragSource_;
    isFailed_ = newer.isFailed_;
    onTap_ = std::move(newer.onTap_);
    onRightClick_ = std::move(newer.onRightClick_);
}

void IconTileModel::setHovered(bool hovered, runtime::Instant now) {
    if (hovered == isHovered_) return;
    isHovered_ = hovered;
    hover_.animateTo(hovered ? 1.0 : 0.0, now);
}

IconTileLook IconTileModel::look(runtime::Instant now) const {
    const double failure = failure_.value(now);
    const double hover = hover_.value(now);
    IconTileLook look;
    // The orange fill replaces the hover fill while failed.
    look.fill = failure > 0 ? palette::withOpacity(palette::orange(), 0.16 * failure)
                            : palette::withOpacity(QColor(0, 0, 0), 0.08 * hover);
    const QColor accent = palette::accent(), orange = palette::orange();
    QColor stroke = QColor::fromRgbF(accent.redF() + (orange.redF() - accent.redF()) * failure,
                                     accent.greenF() + (orange.greenF() - accent.greenF()) * failure,
                                     accent.blueF() + (orange.blueF() - accent.blueF()) * failure);
    look.stroke = palette::withOpacity(stroke, std::max(isHighlighted_ ? 1.0 : 0.0, failure));
    if (isDragSource_)
        look.opacity = 0.3;
    else if (!item_.isEnabled())
        look.opacity = 0.5;
    else
        look.opacity = item_.isVerified() ? 1.0 : 0.9;
    return look;
}

bool IconTileModel::isAnimating(runtime::Instant now) const {
    return hover_.isAnimating(now) || failure_.isAnimating(now);
}

QString IconTileModel::toolTip() const { return QString::fromStdString(item_.displayName()); }

QString IconTileModel::accessibilityLabel() const {
    QString label = QString::fromStdString(item_.displayName());
    if (isFailed_)
        label += QCoreApplication::translate("IconTileView", ". Could not activate; opening the app instead.");
    return label;
}

QImage toQImage(const cg::Image& image) {
    QImage out(static_cast<int>(image.width()), static_cast<int>(image.height()),
               QImage::Format_RGBA8888_Premultiplied);
    const auto& pixels = image.pixels();
    const std::size_t rowBytes = image.bytesPerRow();
    for (int y = 0; y < out.height(); ++y) {
        const std::size_t offset = static_cast<std::size_t>(y) * rowBytes;
        if (offset + rowBytes > pixels.size()) break;
        std::copy_n(pixels.data() + offset, std::min<std::size_t>(rowBytes, out.bytesPerLine()), out.scanLine(y));
    }
    return out;
}

IconTileContent IconTileModel::content() const {
    if (const auto& captured = item_.capturedImage()) {
        const auto screens = ns::Screen::screens();
        const double scale = screens.empty() ? 2.0 : screens.front().backingScaleFactor();
        QSizeF size(captured->width() / scale, captured->height() / scale);
        // Larger than the tile: scaled down into it, so it never covers the neighbours.
        if (size.width() > tileSize || size.height() > tileSize) size.scale(tileSize, tileSize, Qt::KeepAspectRatio);
        return {IconTileContent::Kind::capturedImage, toQImage(*captured), size};
    }
    if (const auto& bundleID = item_.ownerBundleID()) {
        auto& workspace = ns::Workspace::shared();
        if (auto url = workspace.urlForApplication(*bundleID)) {
            const ns::Image icon = workspace.iconForFile(url->path());
            if (icon.cgImage()) return {IconTileContent::Kind::appIcon, toQImage(*icon.cgImage()), QSizeF(22, 22)};
        }
    }
    return {IconTileContent::Kind::placeholder, QImage(), QSizeF(16, 16)};
}

void IconTileModel::tap(QWidget* anchorView) const {
    if (onTap_) onTap_(anchorView);
}

void IconTileModel::rightClick(QWidget* anchorView) const {
    if (onRightClick_) onRightClick_(anchorView);
}

}  // namespace stashbay
