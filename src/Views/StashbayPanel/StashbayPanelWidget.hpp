#pragma once

#include "Views/StashbayPanel/Animation.hpp"
#include "Views/StashbayPanel/StashbayPanelModel.hpp"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <unordered_map>

class QAbstractButton;

namespace stashbay {

class EmptyStateView;
class IconTileView;
class PermissionBannerView;
class SkeletonLoadingView;

// The panel's root view: paints StashbayPanelModel and forwards the mouse and the keys to it. It
// re-renders whenever something it read changes, and animates on the runtime's clock, asking for
// frames only while an animation runs.
class StashbayPanelWidget : public QWidget {
public:
    // Builds the content of the onboarding and settings modes, which other views provide; without
    // one those modes show an empty page.
    using ModeContentFactory = std::function<QWidget*(PanelMode mode, QWidget* parent)>;

    explicit StashbayPanelWidget(std::shared_ptr<PanelContext> context, QWidget* parent = nullptr);
    ~StashbayPanelWidget() override;

    StashbayPanelModel& model() const { return *model_; }
    void setModeContentFactory(ModeContentFactory factory);
    // Told after every layout of the content that followed a change of what it shows (the window
    // that shows it may need to move); animation frames are not such a change.
    void setDidRender(std::function<void()> handler) { didRender_ = std::move(handler); }
    // Told when the widget or anything in it asked to be painted again, once for any number of
    // requests made in one turn of the event loop.
    void setPaintRequested(std::function<void()> handler) { paintRequested_ = std::move(handler); }

    // Lays the content out from the model now (changes are otherwise applied on the next turn of
    // the event loop).
    void render();
    // Applies a change not laid out yet; nothing when the layout is current.
    void renderIfPending();
    bool isRequestingFrames() const { return frames_.isRequesting(); }
    // The height the content needs at the current width.
    int contentHeight() const;
    // The least width at which the loading or empty line shows whole beside the controls; 0 for
    // the tiles and the other modes, whose width the scene's rule gives.
    int lineContentWidth() const;
    QSize sizeHint() const override;

    // The widgets of the normal content, for the panel's own tests and the window positioner. The
    // row builds the tiles in view and near it only: these, in the row's order.
    std::vector<IconTileView*> tileViews() const;
    QWidget* tilesViewport() const { return tilesViewport_; }
    std::vector<QAbstractButton*> controlButtons() const;
    // The mark at the row's leading or trailing edge that shows more tiles behind it.
    QWidget* edgeMark(bool leading) const;
    std::vector<PermissionBannerView*> bannerViews() const;
    QWidget* loadingView() const;
    QWidget* emptyView() const;
    QWidget* modeContent(PanelMode mode) const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    class ContentEffect;

    void scheduleRender();
    void renderTracked(bool changed);
    void layoutNormal(runtime::Instant now);
    void layoutModes(runtime::Instant now);
    // Builds the mode's page when missing (also when only its height is asked), hidden until laid out.
    QWidget* ensureModeContent(PanelMode mode) const;

    std::shared_ptr<StashbayPanelModel> model_;
    ModeContentFactory modeContentFactory_;
    QWidget* surface_;
    ContentEffect* surfaceEffect_;
    QWidget* normal_;
    QWidget* tilesViewport_;
    QWidget* tilesStrip_;
    SkeletonLoadingView* loading_ = nullptr;
    EmptyStateView* empty_ = nullptr;
    std::vector<PermissionBannerView*> banners_;
    std::vector<QAbstractButton*> controls_;
    std::array<QWidget*, 2> edgeMarks_{};
    std::unordered_map<MenuBarItemID, IconTileView*> tiles_;
    mutable std::unordered_map<int, QWidget*> modeContents_;
    bool renderPending_ = false;
    std::function<void()> didRender_;
    std::function<void()> paintRequested_;
    FrameRequester frames_;
};

}  // namespace stashbay
