#pragma once

#include "Views/StashbayPanel/IconTileModel.hpp"

#include <QTimer>
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

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void refresh();
    void animate();

    IconTileModel model_;
    QTimer frameTimer_;
};

}  // namespace stashbay
