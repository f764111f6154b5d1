#pragma once

#include "Views/StashbayPanel/Animation.hpp"
#include "Views/StashbayPanel/IconTileModel.hpp"

#include <QWidget>

namespace stashbay {

// Paints one tile and reports its clicks: every left mouse-down calls the tap callback and every
// right mouse-down the right-click callback, with this widget as the anchor, whatever the
// modifiers. It is one accessible button with the actions "Press" and "Show Context Menu".
class IconTileView : public QWidget {
public:
    IconTileView(IconTileModel model, QWidget* parent = nullptr);

    const IconTileModel& model() const { return model_; }
    // Takes the panel's newer flags and callbacks; the hover state stays.
    void update(IconTileModel newer);

    // The accessibility action that shows the context menu.
    static QString showContextMenuActionName();
    // Frames come while the hover or the failure mark fades, and only then.
    bool isRequestingFrames() const { return frames_.isRequesting(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void refresh();
    void animate();

    IconTileModel model_;
    FrameRequester frames_;
};

}  // namespace stashbay
