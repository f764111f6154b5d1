#include "Views/StashbayPanel/IconTileView.hpp"

#include "Views/StashbayPanel/Palette.hpp"
#include "Views/StashbayPanel/Symbols.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace stashbay {

namespace {

class IconTileAccessible : public QAccessibleWidget {
public:
    explicit IconTileAccessible(IconTileView* tile) : QAccessibleWidget(tile, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return tile()->model().accessibilityLabel();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.selectable = true;
        s.selected = tile()->model().isHighlighted();
        return s;
    }
    int childCount() const override { return 0; }
    QStringList actionNames() const override {
        return {QAccessibleActionInterface::pressAction(), IconTileView::showContextMenuActionName()};
    }
    void doAction(const QString& name) override {
        if (name == QAccessibleActionInterface::pressAction())
            tile()->model().tap(nullptr);
        else if (name == IconTileView::showContextMenuActionName())
            tile()->model().rightClick(nullptr);
    }

private:
    IconTileView* tile() const { return static_cast<IconTileView*>(widget()); }
};

QAccessibleInterface* tileAccessibleFactory(const QString&, QObject* object) {
    if (auto* tile = dynamic_cast<IconTileView*>(object)) return new IconTileAccessible(tile);
    return nullptr;
}

runtime::Instant currentInstant() { return runtime::EventLoop::currentOrNull() ? runtime::now() : runtime::Instant{}; }

}  // namespace

IconTileView::IconTileView(IconTileModel model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      frames_([this](runtime::Instant now) { return model_.isAnimating(now); }, [this] { QWidget::update(); }) {
    static const bool installed = [] {
        QAccessible::installFactory(tileAccessibleFactory);
        return true;
    }();
    (void)installed;
    setFixedSize(static_cast<int>(tileSize), static_cast<int>(tileSize));
    setAttribute(Qt::WA_Hover);
    refresh();
}

QString IconTileView::showContextMenuActionName() {
    return QCoreApplication::translate("IconTileView", "Show Context Menu");
}

void IconTileView::update(IconTileModel newer) {
    model_.update(std::move(newer), currentInstant());
    refresh();
}

void IconTileView::refresh() {
    setToolTip(model_.toolTip());
    setAccessibleName(model_.accessibilityLabel());
    animate();
}

void IconTileView::animate() {
    frames_.start();
    QWidget::update();
}

void IconTileView::paintEvent(QPaintEvent*) {
    const IconTileLook look = model_.look(currentInstant());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(look.opacity);
    const QRectF box(0, 0, tileSize, tileSize);
    QPainterPath shape;
    shape.addRoundedRect(box.adjusted(1, 1, -1, -1), 6, 6);
    painter.fillPath(shape, look.fill);

    const IconTileContent content = model_.content();
    const QRectF iconRect(box.center().x() - content.size.width() / 2, box.center().y() - content.size.height() / 2,
                          content.size.width(), content.size.height());
    switch (content.kind) {
        case IconTileContent::Kind::capturedImage: painter.drawImage(iconRect, content.image); break;
        case IconTileContent::Kind::appIcon: {
            painter.save();
            QPainterPath clip;
            clip.addRoundedRect(iconRect, 5, 5);
            painter.setClipPath(clip);
            painter.drawImage(iconRect, content.image);
            painter.restore();
            break;
        }
        case IconTileContent::Kind::placeholder:
            drawSymbol(painter, "app.dashed", box, 16, palette::secondary(), SymbolWeight::light);
            break;
    }
    if (look.stroke.alpha() > 0) painter.strokePath(shape, QPen(look.stroke, 2));
}

void IconTileView::mousePressEvent(QMouseEvent* event) {
    // The model may be replaced by what the callback starts; call through a copy.
    const IconTileModel model = model_;
    if (event->button() == Qt::LeftButton)
        model.tap(this);
    else if (event->button() == Qt::RightButton)
        model.rightClick(this);
}

void IconTileView::enterEvent(QEnterEvent*) {
    model_.setHovered(true, currentInstant());
    animate();
}

void IconTileView::leaveEvent(QEvent*) {
    model_.setHovered(false, currentInstant());
    animate();
}

}  // namespace stashbay
