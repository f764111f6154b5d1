#pragma once

#include "Models/MenuBarItem.hpp"
#include "Views/StashbayPanel/Animation.hpp"

#include <QColor>
#include <QImage>
#include <QSizeF>
#include <QString>

#include <functional>

class QWidget;

namespace stashbay {

// The tile's side, in points.
inline constexpr double tileSize = 32.0;

// What the tile shows as its icon.
struct IconTileContent {
    enum class Kind { capturedImage, appIcon, placeholder };
    Kind kind = Kind::placeholder;
    // The captured image or the application's icon; null for the placeholder.
    QImage image;
    // The size it is drawn at, in points.
    QSizeF size;
};

// How the tile looks at one instant.
struct IconTileLook {
    QColor fill;
    QColor stroke;
    double opacity = 1.0;
};

// The logic of one tile: its look from the panel's flags and its own hover state, its texts, its
// icon, and the two callbacks it reports clicks through. The callbacks receive the clicked view,
// or null for the accessibility actions.
class IconTileModel {
public:
    using Callback = std::function<void(QWidget* anchorView)>;

    IconTileModel(MenuBarItem item, bool isHighlighted, bool isDragSource, bool isFailed, Callback onTap,
                  Callback onRightClick);

    const MenuBarItem& item() const { return item_; }
    bool isHighlighted() const { return isHighlighted_; }
    bool isDragSource() const { return isDragSource_; }
    bool isFailed() const { return isFailed_; }
    bool isHovered() const { return isHovered_; }

    // Takes the newer value's item, flags and callbacks, keeping the hover state; a change of the
    // failure flag fades over 0.2 s.
    void update(IconTileModel newer, runtime::Instant now);
    // The pointer entered or left; fades over 0.12 s.
    void setHovered(bool hovered, runtime::Instant now);

    IconTileLook look(runtime::Instant now) const;
    bool isAnimating(runtime::Instant now) const;

    // The display name alone.
    QString toolTip() const;
    // The display name, and while failed the sentence saying the app is opened instead.
    QString accessibilityLabel() const;
    // The captured image at its natural size (pixels over the primary screen's scale, 2 without a
    // screen), scaled down to fit inside the tile when larger; else the owner's application icon at
    // 22 points; else the placeholder symbol.
    IconTileContent content() const;

    void tap(QWidget* anchorView) const;
    void rightClick(QWidget* anchorView) const;

private:
    MenuBarItem item_;
    bool isHighlighted_;
    bool isDragSource_;
    bool isFailed_;
    Callback onTap_;
    Callback onRightClick_;
    bool isHovered_ = false;
    TimedValue hover_{0.0, Curve::easeInOut, std::chrono::milliseconds(120)};
    TimedValue failure_;
};

// A platform image as a Qt image (shared pixels are copied once).
QImage toQImage(const cg::Image& image);

}  // namespace stashbay
