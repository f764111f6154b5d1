#include "Views/StashbayPanel/StashbayPanelWidget.hpp"

#include "Views/StashbayPanel/EmptyStateView.hpp"
#include "Views/StashbayPanel/IconTileView.hpp"
#include "Views/StashbayPanel/Palette.hpp"
#include "Views/StashbayPanel/PermissionBannerView.hpp"
#include "Views/StashbayPanel/Symbols.hpp"

#include <QAbstractButton>
#include <QEvent>
#include <QGraphicsEffect>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>
#include <QWheelEvent>

namespace stashbay {

namespace {

// Between the loading or empty line and the controls.
constexpr double lineSpacing = 6;

// One of the three inline controls: a symbol in a 26-point square, all of it clickable, no text
// and no tooltip.
class ControlButton : public QAbstractButton {
public:
    ControlButton(StashbayPanelModel::ControlButton control, QWidget* parent)
        : QAbstractButton(parent), control_(std::move(control)) {
        setFixedSize(static_cast<int>(StashbayPanelModel::controlSize),
                     static_cast<int>(StashbayPanelModel::controlSize));
        setAccessibleName(control_.accessibilityLabel);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        drawSymbol(painter, control_.symbol, rect(), control_.pointSize + 2,
                   isDown() ? palette::secondary() : palette::primary(), SymbolWeight::medium);
    }

private:
    StashbayPanelModel::ControlButton control_;
};

// The mark at an edge of the tile row behind which more tiles wait: the tiles fade into the
// panel's background under a small chevron pointing the way they are. Clicks go through it to the
// tile beneath.
class EdgeMark : public QWidget {
public:
    static constexpr int width = 18;

    EdgeMark(bool leading, QWidget* parent) : QWidget(parent), leading_(leading) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }
    bool isLeading() const { return leading_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QLinearGradient fade(leading_ ? QPointF(width, 0) : QPointF(0, 0),
                             leading_ ? QPointF(0, 0) : QPointF(width, 0));
        fade.setColorAt(0, palette::withOpacity(palette::panelBackground(), 0));
        fade.setColorAt(0.6, palette::panelBackground());
        fade.setColorAt(1, palette::panelBackground());
        painter.fillRect(rect(), fade);
        const double x = leading_ ? 6.0 : width - 6.0;
        const double dx = leading_ ? 3.5 : -3.5;
        const double y = height() / 2.0;
        QPainterPath chevron;
        chevron.moveTo(x - dx, y - 5);
        chevron.lineTo(x, y);
        chevron.lineTo(x - dx, y + 5);
        painter.setPen(QPen(palette::secondary(), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(chevron);
    }

private:
    bool leading_;
};

}  // namespace

// Draws its widget faded and scaled about its centre, or moved sideways: the appear animation and
// the mode transitions.
class StashbayPanelWidget::ContentEffect : public QGraphicsEffect {
public:
    explicit ContentEffect(QObject* parent) : QGraphicsEffect(parent) {}

    void set(double opacity, double scale, double shift) {
        if (opacity == opacity_ && scale == scale_ && shift == shift_) return;
        opacity_ = opacity;
        scale_ = scale;
        shift_ = shift;
        // Only while it changes something, so that the content is drawn crisply at rest.
        setEnabled(opacity < 1.0 || scale != 1.0 || shift != 0.0);
        update();
    }

protected:
    void draw(QPainter* painter) override {
        QPoint offset;
        const QPixmap pixmap = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
        painter->save();
        painter->setOpacity(opacity_);
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF area(offset, pixmap.deviceIndependentSize());
        painter->translate(area.center() + QPointF(shift_, 0));
        painter->scale(scale_, scale_);
        painter->translate(-area.center());
        painter->drawPixmap(offset, pixmap);
        painter->restore();
    }

private:
    double opacity_ = 1.0;
    double scale_ = 1.0;
    double shift_ = 0.0;
};

StashbayPanelWidget::StashbayPanelWidget(std::shared_ptr<PanelContext> context, QWidget* parent)
    : QWidget(parent),
      model_(StashbayPanelModel::make(std::move(context))),
      frames_([this](runtime::Instant now) { return isVisible() && model_->isAnimating(now); },
              [this] { renderTracked(false); }) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    surface_ = new QWidget(this);
    surfaceEffect_ = new ContentEffect(surface_);
    surface_->setGraphicsEffect(surfaceEffect_);
    normal_ = new QWidget(surface_);
    normal_->setGraphicsEffect(new ContentEffect(normal_));
    tilesViewport_ = new QWidget(normal_);
    tilesStrip_ = new QWidget(tilesViewport_);
    edgeMarks_ = {new EdgeMark(true, normal_), new EdgeMark(false, normal_)};
    for (const auto& control : StashbayPanelModel::controls()) {
        auto* button = new ControlButton(control, normal_);
        const auto which = control.control;
        QObject::connect(button, &QAbstractButton::clicked, this, [this, which] { model_->perform(which); });
        controls_.push_back(button);
    }
    model_->setTileAnchor([this](const MenuBarItemID& id) -> QWidget* {
        // The focus may have just scrolled a tile in that the row has not built yet.
        renderIfPending();
        auto it = tiles_.find(id);
        return it == tiles_.end() ? nullptr : it->second;
    });
    render();
}

StashbayPanelWidget::~StashbayPanelWidget() = default;

void StashbayPanelWidget::setModeContentFactory(ModeContentFactory factory) {
    modeContentFactory_ = std::move(factory);
    for (auto& [mode, content] : modeContents_) delete content;
    modeContents_.clear();
    render();
}

void StashbayPanelWidget::scheduleRender() {
    if (renderPending_) return;
    renderPending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (renderPending_) render();
    });
}

void StashbayPanelWidget::render() {
    renderPending_ = false;
    // Whatever the layout reads, a change of it lays the panel out again.
    observation::withObservationTracking([this] { renderTracked(true); },
                                         [self = QPointer<StashbayPanelWidget>(this)] {
                                             if (self) self->scheduleRender();
                                         });
}

void StashbayPanelWidget::renderIfPending() {
    if (renderPending_) render();
}

void StashbayPanelWidget::renderTracked(bool changed) {
    const auto now = animationNow();
    model_->setPanelWidth(width());
    surface_->setGeometry(rect());
    surfaceEffect_->set(model_->opacity(now), model_->scale(now), 0);
    layoutModes(now);
    layoutNormal(now);
    frames_.start();
    update();
    if (changed && didRender_) didRender_();
}

QWidget* StashbayPanelWidget::ensureModeContent(PanelMode mode) const {
    if (mode == PanelMode::normal) return normal_;
    auto& content = modeContents_[static_cast<int>(mode)];
    if (!content) {
        content = modeContentFactory_ ? modeContentFactory_(mode, surface_) : nullptr;
        if (!content) content = new QWidget(surface_);
        content->setParent(surface_);
        content->setGraphicsEffect(new ContentEffect(content));
    }
    return content;
}

QWidget* StashbayPanelWidget::modeContent(PanelMode mode) const {
    if (mode == PanelMode::normal) return normal_;
    auto it = modeContents_.find(static_cast<int>(mode));
    return it == modeContents_.end() ? nullptr : it->second;
}

void StashbayPanelWidget::layoutModes(runtime::Instant now) {
    const auto transition = model_->modeTransition(now);
    const PanelMode current = model_->context().panelMode();
    const bool moving = transition.progress < 1.0 && transition.from != transition.to;
    auto placeMode = [&](PanelMode mode, double visibility) {
        QWidget* content = ensureModeContent(mode);
        content->setGeometry(rect());
        // The settings page moves in from the trailing edge; the others only fade.
        const double shift = mode == PanelMode::settings ? (1.0 - visibility) * width() : 0.0;
        if (auto* effect = dynamic_cast<ContentEffect*>(content->graphicsEffect())) effect->set(visibility, 1.0, shift);
        content->setVisible(visibility > 0.0);
        content->raise();
    };
    for (PanelMode mode : {PanelMode::normal, PanelMode::onboarding, PanelMode::settings}) {
        if (mode == current || (moving && mode == transition.from)) continue;
        if (mode == PanelMode::normal) {
            normal_->hide();
            continue;
        }
        // A page that has left is dropped with its state, so the next visit builds it anew.
        auto it = modeContents_.find(static_cast<int>(mode));
        if (it == modeContents_.end()) continue;
        it->second->hide();
        it->second->deleteLater();
        modeContents_.erase(it);
    }
    if (moving) placeMode(transition.from, 1.0 - transition.progress);
    placeMode(current, moving ? transition.progress : 1.0);
}

void StashbayPanelWidget::layoutNormal(runtime::Instant now) {
    using Model = StashbayPanelModel;
    const double w = width();
    const auto content = model_->normalContent();
    const auto layout = model_->rowLayout(w);

    // Loading and empty rows: the line and the controls, 8 and 6 of padding.
    const bool tilesShown = content == Model::NormalContent::tiles;
    if (content == Model::NormalContent::loading && !loading_) loading_ = new SkeletonLoadingView(normal_);
    if (content == Model::NormalContent::empty && !empty_)
        empty_ = new EmptyStateView(model_->context().permissions(), normal_);
    if (loading_) loading_->setVisible(content == Model::NormalContent::loading);
    if (empty_) empty_->setVisible(content == Model::NormalContent::empty);

    double rowTop = 0;
    // Banners: only with the tiles.
    const auto banners = tilesShown ? model_->permissionBanners() : std::vector<Model::Banner>{};
    while (banners_.size() > banners.size()) {
        delete banners_.back();
        banners_.pop_back();
    }
    for (std::size_t i = 0; i < banners.size(); ++i) {
        if (i < banners_.size() && banners_[i]->missingPermission() != banners[i].missingPermission) {
            delete banners_[i];
            banners_[i] = nullptr;
        }
        if (i >= banners_.size()) banners_.push_back(nullptr);
        if (!banners_[i]) {
            const auto permission = banners[i].permission;
            banners_[i] = new PermissionBannerView(
                banners[i].missingPermission, [this, permission] { model_->openBannerSettings(permission); }, normal_);
            banners_[i]->setFocusPolicy(Qt::NoFocus);
        }
        rowTop += banners[i].topPadding;
        banners_[i]->setGeometry(QRectF(Model::bannerHorizontalPadding, rowTop, w - 2 * Model::bannerHorizontalPadding,
                                        PermissionBannerView::bannerHeight)
                                     .toRect());
        banners_[i]->show();
        rowTop += PermissionBannerView::bannerHeight;
    }

    const double rowHeight = tilesShown ? tileSize : Model::controlSize;
    const double controlsTop = rowTop + Model::rowVerticalPadding + (rowHeight - Model::controlSize) / 2;
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        QRectF frame = layout.controls[i];
        frame.moveTop(controlsTop);
        if (!tilesShown)
            frame.moveLeft(w - Model::rowHorizontalPadding - Model::controlsWidth +
                           static_cast<double>(i) * (Model::controlSize + Model::controlSpacing));
        controls_[i]->setGeometry(frame.toRect());
        controls_[i]->raise();
    }
    const QRectF line(Model::rowHorizontalPadding, rowTop + Model::rowVerticalPadding,
                      std::max(0.0, w - 2 * Model::rowHorizontalPadding - Model::controlsWidth - lineSpacing),
                      rowHeight);
    if (loading_ && loading_->isVisible()) loading_->setGeometry(line.toRect());
    if (empty_ && empty_->isVisible()) empty_->setGeometry(line.toRect());

    // The tile row: tiles keyed by their item, so a rescan keeps each tile's own state. Only the
    // tiles in view or near it exist; one that goes far out of view goes, and comes back new.
    tilesViewport_->setVisible(tilesShown);
    const auto positions = tilesShown ? model_->builtTilePositions(layout, now) : std::vector<std::size_t>{};
    const auto tiles = model_->tiles(positions);
    std::unordered_map<MenuBarItemID, IconTileView*> kept;
    for (std::size_t k = 0; k < tiles.size(); ++k) {
        const auto& tile = tiles[k];
        const std::size_t i = positions[k];
        const MenuBarItem item = tile.item;
        IconTileModel tileModel(
            item, tile.isHighlighted, tile.isDragSource, tile.isFailed,
            [this, item](QWidget* anchor) { model_->handleItemInteraction(item, false, anchor); },
            [this, item](QWidget* anchor) { model_->handleItemInteraction(item, true, anchor); });
        IconTileView* view;
        if (auto it = tiles_.find(item.id()); it != tiles_.end()) {
            view = it->second;
            tiles_.erase(it);
            view->update(std::move(tileModel));
        } else {
            view = new IconTileView(std::move(tileModel), tilesStrip_);
        }
        const double x = tilePosition(i) + model_->tileOffset(item.id(), now);
        view->move(static_cast<int>(std::lround(x)), 0);
        view->show();
        kept.emplace(item.id(), view);
    }
    for (auto& [id, view] : tiles_) delete view;
    tiles_ = std::move(kept);
    QRectF viewport = layout.tilesViewport;
    viewport.moveTop(rowTop + Model::rowVerticalPadding);
    tilesViewport_->setGeometry(viewport.toRect());
    tilesStrip_->setGeometry(static_cast<int>(-std::lround(layout.scrollOffset)), 0,
                             static_cast<int>(std::ceil(layout.contentWidth)), static_cast<int>(tileSize));
    const QRect shown = viewport.toRect();
    edgeMarks_[0]->setGeometry(shown.left(), shown.top(), EdgeMark::width, shown.height());
    edgeMarks_[0]->setVisible(tilesShown && layout.moreBefore);
    edgeMarks_[1]->setGeometry(shown.right() + 1 - EdgeMark::width, shown.top(), EdgeMark::width, shown.height());
    edgeMarks_[1]->setVisible(tilesShown && layout.moreAfter);
    for (auto* mark : edgeMarks_) mark->raise();
    normal_->setGeometry(rect());
}

int StashbayPanelWidget::contentHeight() const {
    using Model = StashbayPanelModel;
    const PanelMode mode = model_->context().panelMode();
    if (mode != PanelMode::normal) {
        // The page is built here if the panel has not laid it out yet, so that the panel takes
        // its height from the start and follows it (its size reads observed values).
        return std::max(ensureModeContent(mode)->sizeHint().height(), 200);
    }
    if (model_->normalContent() != Model::NormalContent::tiles)
        return static_cast<int>(Model::controlSize + 2 * Model::rowVerticalPadding);
    double height = tileSize + 2 * Model::rowVerticalPadding;
    for (const auto& banner : model_->permissionBanners())
        height += banner.topPadding + PermissionBannerView::bannerHeight;
    return static_cast<int>(height);
}

int StashbayPanelWidget::lineContentWidth() const {
    using Model = StashbayPanelModel;
    if (model_->context().panelMode() != PanelMode::normal) return 0;
    int line = 0;
    switch (model_->normalContent()) {
        case Model::NormalContent::tiles: return 0;
        case Model::NormalContent::loading: line = EmptyStateView::lineWidth({SkeletonLoadingView::text(), {}}); break;
        case Model::NormalContent::empty:
            line = EmptyStateView::lineWidth(
                EmptyStateView::label(model_->context().permissions().allPermissionsGranted()));
            break;
    }
    return static_cast<int>(std::ceil(2 * Model::rowHorizontalPadding + line + lineSpacing + Model::controlsWidth));
}

QSize StashbayPanelWidget::sizeHint() const { return QSize(width() > 0 ? width() : 200, contentHeight()); }

std::vector<IconTileView*> StashbayPanelWidget::tileViews() const {
    std::vector<IconTileView*> views;
    for (const auto& item : model_->allItems())
        if (auto it = tiles_.find(item.id()); it != tiles_.end()) views.push_back(it->second);
    return views;
}

std::vector<QAbstractButton*> StashbayPanelWidget::controlButtons() const { return controls_; }
QWidget* StashbayPanelWidget::edgeMark(bool leading) const { return edgeMarks_[leading ? 0 : 1]; }
std::vector<PermissionBannerView*> StashbayPanelWidget::bannerViews() const { return banners_; }
QWidget* StashbayPanelWidget::loadingView() const { return loading_; }
QWidget* StashbayPanelWidget::emptyView() const { return empty_; }

void StashbayPanelWidget::showEvent(QShowEvent*) {
    model_->appear();
    render();
}

void StashbayPanelWidget::hideEvent(QHideEvent*) {
    model_->disappear();
    frames_.stop();
}

void StashbayPanelWidget::resizeEvent(QResizeEvent*) { render(); }

void StashbayPanelWidget::keyPressEvent(QKeyEvent* event) {
    using Key = StashbayPanelModel::Key;
    Key key = Key::other;
    switch (event->key()) {
        case Qt::Key_Escape: key = Key::escape; break;
        case Qt::Key_Left: key = Key::leftArrow; break;
        case Qt::Key_Right: key = Key::rightArrow; break;
        case Qt::Key_Return:
        case Qt::Key_Enter: key = Key::returnKey; break;
        case Qt::Key_Space: key = Key::space; break;
        default: break;
    }
    const auto flags = event->modifiers();
    // Qt names the Command key Control and the Control key Meta on the Mac; here they are what
    // the keyboard says.
    const StashbayPanelModel::Modifiers modifiers{flags.testFlag(Qt::ControlModifier),
                                                  flags.testFlag(Qt::ShiftModifier), flags.testFlag(Qt::AltModifier),
                                                  flags.testFlag(Qt::MetaModifier)};
    if (model_->handleKey(key, modifiers) == StashbayPanelModel::KeyResult::handled)
        event->accept();
    else
        event->ignore();
}

void StashbayPanelWidget::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->pixelDelta().isNull() ? event->angleDelta() / 4 : event->pixelDelta();
    model_->scrollTiles(-(delta.x() != 0 ? delta.x() : delta.y()));
    event->accept();
}

bool StashbayPanelWidget::event(QEvent* event) {
    // Qt gathers every update() of the widget and its children into one such request per turn.
    if (event->type() == QEvent::UpdateRequest && paintRequested_) paintRequested_();
    return QWidget::event(event);
}

void StashbayPanelWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette::panelBackground());
}

}  // namespace stashbay
