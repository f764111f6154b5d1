#include "Views/StashbayPanel/StashbayPanelModel.hpp"

#include "Views/StashbayPanel/IconTileModel.hpp"
#include "Views/StashbayPanel/MirroredMenu.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace stashbay {

namespace {

runtime::Instant currentInstant() { return runtime::EventLoop::currentOrNull() ? runtime::now() : runtime::Instant{}; }

}  // namespace

std::shared_ptr<StashbayPanelModel> StashbayPanelModel::make(std::shared_ptr<PanelContext> context) {
    std::shared_ptr<StashbayPanelModel> model(new StashbayPanelModel(std::move(context)));
    model->trackInputs();
    return model;
}

StashbayPanelModel::StashbayPanelModel(std::shared_ptr<PanelContext> context) : context_(std::move(context)) {
    const auto items = allItems();
    itemCount_ = items.size();
    for (std::size_t i = 0; i < items.size(); ++i) {
        itemIDs_.push_back(items[i].id());
        tileSprings_.emplace(items[i].id(), SpringValue(tilePosition(i), tileSpring));
    }
    mode_ = previousMode_ = context_->panelMode();
}

StashbayPanelModel::~StashbayPanelModel() = default;

void StashbayPanelModel::trackInputs() {
    // Reads the inputs whose changes the panel answers by itself; the next change re-runs this.
    observation::withObservationTracking(
        [this] {
            (void)context_->sections();
            (void)context_->panelMode();
        },
        [weakSelf = weak_from_this()] {
            if (auto self = weakSelf.lock()) {
                self->inputsChanged();
                self->trackInputs();
            }
        });
}

void StashbayPanelModel::inputsChanged() {
    const auto now = currentInstant();
    const auto items = allItems();
    // The focus belongs to positions: a new count makes it meaningless.
    if (items.size() != itemCount_) {
        itemCount_ = items.size();
        focusedIndex_ = std::nullopt;
    }
    std::vector<MenuBarItemID> ids;
    ids.reserve(items.size());
    for (const auto& item : items) ids.push_back(item.id());
    if (ids != itemIDs_) {
        std::unordered_map<MenuBarItemID, SpringValue> springs;
        for (std::size_t i = 0; i < ids.size(); ++i) {
            auto old = tileSprings_.find(ids[i]);
            SpringValue spring = old != tileSprings_.end() ? old->second : SpringValue(tilePosition(i), tileSpring);
            spring.animateTo(tilePosition(i), now);
            springs.emplace(ids[i], spring);
        }
        tileSprings_ = std::move(springs);
        itemIDs_ = std::move(ids);
    }
    const PanelMode mode = context_->panelMode();
    if (mode != mode_) {
        previousMode_ = mode_;
        mode_ = mode;
        modeProgress_.set(0.0);
        modeProgress_.animateTo(1.0, now);
    }
}

void StashbayPanelModel::appear() {
    hasAppeared_ = true;
    focusedIndex_ = std::nullopt;
    // A click where the first tile was must find the first tile.
    scrollOffset_ = 0.0;
    appear_.set(0.0);
    appear_.animateTo(1.0, currentInstant());
}

void StashbayPanelModel::disappear() {
    hasAppeared_ = false;
    appear_.set(0.0);
}

StashbayPanelModel::ModeTransition StashbayPanelModel::modeTransition(runtime::Instant now) const {
    return {previousMode_, mode_, modeProgress_.value(now)};
}

bool StashbayPanelModel::isAnimating(runtime::Instant now) const {
    if (appear_.isAnimating(now) || modeProgress_.isAnimating(now)) return true;
    return std::any_of(tileSprings_.begin(), tileSprings_.end(),
                       [now](const auto& entry) { return entry.second.isAnimating(now); });
}

std::vector<MenuBarItem> StashbayPanelModel::allItems() const {
    std::vector<MenuBarItem> items;
    for (const auto& section : context_->sections())
        items.insert(items.end(), section.items().begin(), section.items().end());
    return items;
}

StashbayPanelModel::NormalContent StashbayPanelModel::normalContent() const {
    // The loading test looks at the raw scan, the empty test at what the sections show.
    if (context_->isScanning() && context_->menuBarItemsEmpty()) return NormalContent::loading;
    if (allItems().empty()) return NormalContent::empty;
    return NormalContent::tiles;
}

std::vector<StashbayPanelModel::Banner> StashbayPanelModel::permissionBanners() const {
    std::vector<Banner> banners;
    auto& permissions = context_->permissions();
    if (!permissions.screenRecordingGranted())
        banners.push_back(
            {Permission::screenRecording, QCoreApplication::translate("StashbayPanelView", "Screen Recording"), 4});
    if (!permissions.accessibilityGranted())
        banners.push_back({Permission::accessibility, QCoreApplication::translate("StashbayPanelView", "Accessibility"),
                           banners.empty() ? 4.0 : 2.0});
    return banners;
}

std::vector<StashbayPanelModel::Tile> StashbayPanelModel::tiles() const {
    std::vector<std::size_t> positions(itemCount_);
    for (std::size_t i = 0; i < positions.size(); ++i) positions[i] = i;
    return tiles(positions);
}

std::vector<StashbayPanelModel::Tile> StashbayPanelModel::tiles(const std::vector<std::size_t>& positions) const {
    const auto items = allItems();
    const auto dragging = context_->draggingItem();
    const auto focused = focusedIndex_.get();
    const auto failed = failedItemID_.get();
    std::vector<Tile> tiles;
    tiles.reserve(positions.size());
    for (const std::size_t i : positions) {
        if (i >= items.size()) continue;
        const auto& item = items[i];
        tiles.push_back(Tile{item, focused && *focused == static_cast<std::ptrdiff_t>(i),
                             dragging && dragging->id() == item.id(), failed && *failed == item.id()});
    }
    return tiles;
}

std::vector<std::size_t> StashbayPanelModel::builtTilePositions(const RowLayout& layout, runtime::Instant now) const {
    std::vector<std::size_t> positions;
    for (std::size_t i = layout.firstBuilt; i < layout.endBuilt; ++i) positions.push_back(i);
    const double low = tilePosition(layout.firstBuilt);
    const double high = tilePosition(layout.endBuilt);
    bool added = false;
    for (const auto& [id, spring] : tileSprings_) {
        if (!spring.isAnimating(now)) continue;
        const auto position = static_cast<std::size_t>(std::lround(spring.target() / tilePosition(1)));
        if (position >= itemCount_ || (position >= layout.firstBuilt && position < layout.endBuilt)) continue;
        const double x = spring.value(now);
        if (x + tileSize > low && x < high) {
            positions.push_back(position);
            added = true;
        }
    }
    if (added) std::sort(positions.begin(), positions.end());
    return positions;
}

double StashbayPanelModel::tileOffset(const MenuBarItemID& id, runtime::Instant now) const {
    auto it = tileSprings_.find(id);
    if (it == tileSprings_.end()) return 0;
    return it->second.value(now) - it->second.target();
}

std::vector<StashbayPanelModel::ControlButton> StashbayPanelModel::controls() {
    return {
        {Control::close, "xmark", 11, QCoreApplication::translate("StashbayPanelView", "Close Panel")},
        {Control::settings, "gearshape", 12, QCoreApplication::translate("StashbayPanelView", "Settings")},
        {Control::quit, "power", 11, QCoreApplication::translate("StashbayPanelView", "Quit Stashbay")},
    };
}

void StashbayPanelModel::perform(Control control) {
    switch (control) {
        case Control::close: dismissPanel(); break;
        case Control::settings: context_->setPanelMode(PanelMode::settings); break;
        case Control::quit: context_->terminate(); break;
    }
}

void StashbayPanelModel::openBannerSettings(Permission permission) {
    if (permission == Permission::screenRecording)
        context_->permissions().openScreenRecordingSettings();
    else
        context_->permissions().openAccessibilitySettings();
}

void StashbayPanelModel::dismissPanel() { context_->orderOutKeyWindow(); }

void StashbayPanelModel::setPanelWidth(double width) {
    panelWidth_ = width;
    scrollFocusIntoView();
}

StashbayPanelModel::RowLayout StashbayPanelModel::rowLayout(double width) const {
    RowLayout layout;
    const std::size_t count = itemCount_;
    layout.contentWidth = count == 0 ? 0 : static_cast<double>(count) * (tileSize + tileSpacing) - tileSpacing;
    const double room = std::max(0.0, width - 2 * rowHorizontalPadding - minimumSpacer - controlsWidth);
    const double viewportWidth = std::min(layout.contentWidth, room);
    layout.tilesViewport = QRectF(rowHorizontalPadding, rowVerticalPadding, viewportWidth, tileSize);
    const double maximum = std::max(0.0, layout.contentWidth - viewportWidth);
    layout.scrollOffset = std::clamp(scrollOffset_.get(), 0.0, maximum);
    // Half a point of slack, so that rounding never shows a mark with nothing behind it.
    layout.moreBefore = layout.scrollOffset > 0.5;
    layout.moreAfter = layout.scrollOffset < maximum - 0.5;
    const double controlsLeft =
        std::max(rowHorizontalPadding + viewportWidth + minimumSpacer, width - rowHorizontalPadding - controlsWidth);
    for (std::size_t i = 0; i < layout.controls.size(); ++i)
        layout.controls[i] = QRectF(controlsLeft + static_cast<double>(i) * (controlSize + controlSpacing),
                                    rowVerticalPadding + (tileSize - controlSize) / 2, controlSize, controlSize);
    const double pitch = tilePosition(1);
    const double nearLeft = layout.scrollOffset - nearDistance;
    const double nearRight = layout.scrollOffset + viewportWidth + nearDistance;
    layout.firstBuilt =
        nearLeft < tileSize ? 0 : static_cast<std::size_t>(std::floor((nearLeft - tileSize) / pitch)) + 1;
    layout.endBuilt = std::min(count, static_cast<std::size_t>(std::max(0.0, std::ceil(nearRight / pitch))));
    layout.firstBuilt = std::min(layout.firstBuilt, layout.endBuilt);
    return layout;
}

void StashbayPanelModel::scrollTiles(double delta) {
    if (panelWidth_ <= 0) return;
    const RowLayout layout = rowLayout(panelWidth_);
    const double maximum = std::max(0.0, layout.contentWidth - layout.tilesViewport.width());
    scrollOffset_ = std::clamp(layout.scrollOffset + delta, 0.0, maximum);
}

void StashbayPanelModel::scrollFocusIntoView() {
    const auto focused = focusedIndex_.get();
    if (!focused || panelWidth_ <= 0 || *focused < 0 || static_cast<std::size_t>(*focused) >= itemCount_) return;
    const RowLayout layout = rowLayout(panelWidth_);
    const double left = tilePosition(static_cast<std::size_t>(*focused));
    double offset = layout.scrollOffset;
    if (left < offset) offset = left;
    if (left + tileSize > offset + layout.tilesViewport.width())
        offset = left + tileSize - layout.tilesViewport.width();
    scrollOffset_ = std::max(0.0, offset);
}

StashbayPanelModel::KeyResult StashbayPanelModel::handleKey(Key key, Modifiers modifiers) {
    switch (key) {
        case Key::escape: dismissPanel(); return KeyResult::handled;
        case Key::leftArrow: moveFocus(-1); return KeyResult::handled;
        case Key::rightArrow: moveFocus(1); return KeyResult::handled;
        case Key::returnKey:
            if (auto item = focusedItem()) {
                handleItemInteraction(*item, modifiers.control || modifiers.shift, focusedAnchor(*item));
                return KeyResult::handled;
            }
            return KeyResult::ignored;
        case Key::space:
            if (auto item = focusedItem()) {
                handleItemInteraction(*item, false, focusedAnchor(*item));
                return KeyResult::handled;
            }
            return KeyResult::ignored;
        case Key::other: return KeyResult::ignored;
    }
    return KeyResult::ignored;
}

QWidget* StashbayPanelModel::focusedAnchor(const MenuBarItem& item) const {
    // Under the focused tile rather than over the row's first tiles.
    return tileAnchor_ ? tileAnchor_(item.id()) : nullptr;
}

void StashbayPanelModel::moveFocus(std::ptrdiff_t delta) {
    const auto n = static_cast<std::ptrdiff_t>(allItems().size());
    if (n == 0) {
        focusedIndex_ = std::nullopt;
        return;
    }
    const auto current = focusedIndex_.get();
    if (current && *current >= 0 && *current < n) {
        // Reducing the step first keeps the sum within (-n, 2n): exact for any step, never overflowing.
        const auto sum = *current + delta % n;
        focusedIndex_ = (sum % n + n) % n;
    } else {
        focusedIndex_ = delta < 0 ? n - 1 : 0;
    }
    scrollFocusIntoView();
}

std::optional<MenuBarItem> StashbayPanelModel::focusedItem() const {
    const auto focused = focusedIndex_.get();
    const auto items = allItems();
    if (!focused || *focused < 0 || *focused >= static_cast<std::ptrdiff_t>(items.size())) return std::nullopt;
    return items[static_cast<std::size_t>(*focused)];
}

void StashbayPanelModel::handleItemInteraction(const MenuBarItem& item, bool isRightClick, QWidget* anchorView) {
    auto& main = runtime::mainExecutor();
    (void)runtime::spawn(main, pause(context_));
    if (item.isOnScreen())
        (void)runtime::spawn(main, activateOnScreen(context_, item, isRightClick));
    else
        (void)runtime::spawn(main, activateHidden(weak_from_this(), context_, item, isRightClick, anchorView));
}

runtime::Task<void> StashbayPanelModel::pause(std::shared_ptr<PanelContext> context) {
    auto pausing = context->pauseScanning(scannerPauseSeconds);
    co_await pausing;
}

runtime::Task<void> StashbayPanelModel::activateOnScreen(std::shared_ptr<PanelContext> context, MenuBarItem item,
                                                         bool isRightClick) {
    // Nobody looks at the outcome on this road: the interaction layer logs its own failures.
    auto activation = isRightClick ? context->rightClickItem(item) : context->clickItem(item);
    (void)co_await activation;
}

runtime::Task<void> StashbayPanelModel::activateHidden(std::weak_ptr<StashbayPanelModel> weakSelf,
                                                       std::shared_ptr<PanelContext> context, MenuBarItem item,
                                                       bool isRightClick, QWidget* anchorView) {
    // The tile may have left the row before this task runs.
    QPointer<QWidget> anchor(anchorView);
    const bool hadAnchor = anchorView != nullptr;
    auto snapshot = context->menuSnapshot(item);
    if (snapshot && !snapshot->empty()) {
        if (hadAnchor && !anchor) co_return;
        presentMirroredMenu(*context, *snapshot, anchor.data());
        co_return;
    }
    auto activation = isRightClick ? context->rightClickItem(item) : context->clickItem(item);
    const bool activated = co_await activation;
    if (activated) co_return;
    if (auto self = weakSelf.lock()) self->flashActivationFailure(item.id());
}

void StashbayPanelModel::flashActivationFailure(const MenuBarItemID& id) {
    context_->beep();
    failedItemID_ = id;
    (void)runtime::spawn(runtime::mainExecutor(), clearFailure(weak_from_this(), id));
}

runtime::Task<void> StashbayPanelModel::clearFailure(std::weak_ptr<StashbayPanelModel> weakSelf, MenuBarItemID id) {
    auto sleep = runtime::sleepFor(failureMarkLife);
    co_await sleep;
    auto self = weakSelf.lock();
    if (self && self->failedItemID_.get() == id) self->failedItemID_ = std::nullopt;
}

}  // namespace stashbay
