#pragma once

#include "Models/MenuBarItem.hpp"
#include "Views/StashbayPanel/Animation.hpp"
#include "Views/StashbayPanel/PanelContext.hpp"
#include "macos/Observation/Observation.hpp"

#include <QRectF>

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class QWidget;

namespace stashbay {

// The logic of the panel's root view: the mode it follows, the appear animation, the normal
// content's three states with the permission banners and the tile row, keyboard focus, item
// activation with the failure mark, and the inline controls. Tests drive it in virtual time;
// StashbayPanelView paints it. Main executor only. Owned by one std::shared_ptr: the tasks it
// starts hold it weakly.
class StashbayPanelModel : public std::enable_shared_from_this<StashbayPanelModel> {
public:
    static constexpr double scannerPauseSeconds = 15.0;
    static constexpr runtime::Duration failureMarkLife = std::chrono::milliseconds(1200);
    static constexpr runtime::Duration appearDuration = std::chrono::milliseconds(200);
    static constexpr runtime::Duration modeChangeDuration = std::chrono::milliseconds(300);
    static constexpr Spring tileSpring{0.3, 0.8};

    // Sizes of the normal content, in points.
    static constexpr double rowHorizontalPadding = 8;
    static constexpr double rowVerticalPadding = 6;
    static constexpr double tileSpacing = 4;
    static constexpr double minimumSpacer = 8;
    static constexpr double controlSize = 26;
    static constexpr double controlSpacing = 2;
    static constexpr double controlsWidth = 3 * controlSize + 2 * controlSpacing;
    static constexpr double bannerHorizontalPadding = 8;
    // How far either side of the viewport the row keeps tiles built: the widest panel, so that
    // what the wheel or the focus scrolls in next is at hand, and a window widened by the scene
    // finds its tiles there.
    static constexpr double nearDistance = 600;

    enum class NormalContent { loading, empty, tiles };
    enum class Permission { screenRecording, accessibility };
    struct Banner {
        Permission permission;
        // "Screen Recording" or "Accessibility", as shown.
        QString missingPermission;
        double topPadding;
        friend bool operator==(const Banner&, const Banner&) = default;
    };
    struct Tile {
        MenuBarItem item;
        bool isHighlighted;
        bool isDragSource;
        bool isFailed;
    };
    enum class Key { escape, leftArrow, rightArrow, returnKey, space, other };
    struct Modifiers {
        bool control = false;
        bool shift = false;
        bool option = false;
        bool command = false;
    };
    enum class KeyResult { handled, ignored };
    enum class Control { close, settings, quit };
    struct ControlButton {
        Control control;
        std::string_view symbol;
        int pointSize;
        QString accessibilityLabel;
    };
    // The tile row in a panel of a given width. The controls always keep their place at the
    // trailing end; the tiles scroll inside what is left when they need more.
    struct RowLayout {
        QRectF tilesViewport;
        double contentWidth = 0;
        double scrollOffset = 0;
        // Tiles hidden past the viewport's leading or trailing edge, which the row shows.
        bool moreBefore = false;
        bool moreAfter = false;
        std::array<QRectF, 3> controls;
        // The positions [firstBuilt, endBuilt) whose tiles the row builds: those with any part in
        // the viewport or within `nearDistance` of it. The others cost nothing until they come near.
        std::size_t firstBuilt = 0;
        std::size_t endBuilt = 0;
    };
    // A change of mode in progress: the old content fades out while the new one comes in.
    struct ModeTransition {
        PanelMode from;
        PanelMode to;
        double progress;
    };

    static std::shared_ptr<StashbayPanelModel> make(std::shared_ptr<PanelContext> context);
    ~StashbayPanelModel();

    PanelContext& context() const { return *context_; }
    const std::shared_ptr<PanelContext>& sharedContext() const { return context_; }

    // On screen: the content fades in from 0 and grows from 0.97 with the 0.2 s ease-out curve, the
    // focus is cleared and the row starts at its first tile. Off screen: ready to animate again next time.
    void appear();
    void disappear();
    bool hasAppeared() const { return hasAppeared_.get(); }
    double opacity(runtime::Instant now) const { return appear_.value(now); }
    double scale(runtime::Instant now) const { return 0.97 + 0.03 * appear_.value(now); }
    ModeTransition modeTransition(runtime::Instant now) const;
    bool isAnimating(runtime::Instant now) const;

    // The items of every section, in order; rebuilt at each call.
    std::vector<MenuBarItem> allItems() const;
    NormalContent normalContent() const;
    std::vector<Banner> permissionBanners() const;
    std::vector<Tile> tiles() const;
    // The tiles at the given positions of the items, in that order; positions past the end are left out.
    std::vector<Tile> tiles(const std::vector<std::size_t>& positions) const;
    // The positions, in order, whose tiles the row shows at `now`: the layout's built range and any
    // tile that the row's spring moves through it from elsewhere.
    std::vector<std::size_t> builtTilePositions(const RowLayout& layout, runtime::Instant now) const;
    // The tile's offset from its place in the row while the row's spring moves it; 0 at rest.
    double tileOffset(const MenuBarItemID& id, runtime::Instant now) const;
    static std::vector<ControlButton> controls();
    void perform(Control control);
    void openBannerSettings(Permission permission);

    // The panel's width, so that the focused tile can be scrolled into view.
    void setPanelWidth(double width);
    RowLayout rowLayout(double width) const;
    // Scrolls the tiles by `delta` points (the wheel), within their bounds.
    void scrollTiles(double delta);

    // Keyboard. A menu opened by a key hangs under the focused tile, found through `anchor`.
    void setTileAnchor(std::function<QWidget*(const MenuBarItemID&)> anchor) { tileAnchor_ = std::move(anchor); }
    KeyResult handleKey(Key key, Modifiers modifiers);
    void moveFocus(std::ptrdiff_t delta);
    std::optional<MenuBarItem> focusedItem() const;
    std::optional<std::ptrdiff_t> focusedIndex() const { return focusedIndex_.get(); }

    // Activation: pauses scanning, then acts on the item. Returns at once.
    void handleItemInteraction(const MenuBarItem& item, bool isRightClick, QWidget* anchorView);
    void flashActivationFailure(const MenuBarItemID& id);
    std::optional<MenuBarItemID> failedItemID() const { return failedItemID_.get(); }

    // Orders out the key window; nothing else changes.
    void dismissPanel();

private:
    explicit StashbayPanelModel(std::shared_ptr<PanelContext> context);
    void trackInputs();
    void inputsChanged();
    void scrollFocusIntoView();
    QWidget* focusedAnchor(const MenuBarItem& item) const;

    static runtime::Task<void> pause(std::shared_ptr<PanelContext> context);
    static runtime::Task<void> activateOnScreen(std::shared_ptr<PanelContext> context, MenuBarItem item,
                                                bool isRightClick);
    static runtime::Task<void> activateHidden(std::weak_ptr<StashbayPanelModel> weakSelf,
                                              std::shared_ptr<PanelContext> context, MenuBarItem item,
                                              bool isRightClick, QWidget* anchorView);
    static runtime::Task<void> clearFailure(std::weak_ptr<StashbayPanelModel> weakSelf, MenuBarItemID id);

    std::shared_ptr<PanelContext> context_;
    observation::Observable<bool> hasAppeared_{false};
    observation::Observable<std::optional<std::ptrdiff_t>> focusedIndex_;
    observation::Observable<std::optional<MenuBarItemID>> failedItemID_;
    observation::Observable<double> scrollOffset_{0.0};
    TimedValue appear_{0.0, Curve::easeOut, appearDuration};

    // What the inputs were when last seen, to tell the changes the panel answers.
    std::size_t itemCount_ = 0;
    std::vector<MenuBarItemID> itemIDs_;
    PanelMode mode_ = PanelMode::normal;
    PanelMode previousMode_ = PanelMode::normal;
    TimedValue modeProgress_{1.0, Curve::easeInOut, modeChangeDuration};
    std::unordered_map<MenuBarItemID, SpringValue> tileSprings_;
    double panelWidth_ = 0;
    std::function<QWidget*(const MenuBarItemID&)> tileAnchor_;
};

// The x of the tile at `index` in the row's content.
inline double tilePosition(std::size_t index) { return static_cast<double>(index) * 36.0; }

}  // namespace stashbay
