#include "Views/StashbayPanel/PopUpMenu.hpp"

#include "Views/StashbayPanel/Palette.hpp"
#include "macos/Dispatch/Queue.hpp"

#include <QAction>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

namespace stashbay {

namespace {

QFont menuFont() {
    QFont font;
    font.setPixelSize(13);
    return font;
}

// The rows of a menu's entries, top to bottom, in the menu window (y down).
std::vector<std::pair<QAction*, QRectF>> rowsOf(const QMenu& menu, double width) {
    std::vector<std::pair<QAction*, QRectF>> rows;
    double y = PopUpMenu::verticalPadding;
    for (QAction* action : menu.actions()) {
        const double height = action->isSeparator() ? PopUpMenu::separatorHeight : PopUpMenu::rowHeight;
        rows.emplace_back(action, QRectF(0, y, width, height));
        y += height;
    }
    return rows;
}

cg::Size sizeOf(const QMenu& menu) {
    const QFontMetricsF metrics(menuFont());
    double width = 160;
    double height = 2 * PopUpMenu::verticalPadding;
    for (QAction* action : menu.actions()) {
        height += action->isSeparator() ? PopUpMenu::separatorHeight : PopUpMenu::rowHeight;
        width = std::max(width, metrics.horizontalAdvance(action->text()) + 56);
    }
    return {std::min(width, 400.0), height};
}

}  // namespace

class PopUpMenu::MenuView final : public ns::View {
public:
    MenuView(PopUpMenu& owner, QMenu& menu, std::size_t level) : owner_(owner), menu_(menu), level_(level) {}

    // The top right of an entry's row in screen space, where its submenu opens.
    cg::Point rowTopRight(std::size_t entry) const {
        const auto w = window();
        const cg::Rect frame = w ? w->frame() : cg::Rect{};
        const auto rows = rowsOf(menu_, fittingSize().width);
        if (entry < rows.size()) return {frame.maxX(), frame.maxY() - rows[entry].second.top()};
        return {frame.maxX(), frame.maxY()};
    }

    cg::Size fittingSize() const override { return sizeOf(menu_); }

    void mouseMoved(cg::Point location) override { owner_.pointerOver(level_, entryAt(location)); }
    void mouseExited() override { owner_.pointerLeft(level_); }
    void mouseDown(cg::Point location) override { owner_.click(level_, entryAt(location)); }

    void draw(QPainter& p, cg::Size size) const override {
        const auto* tracking = owner_.tracking();
        const auto lit = tracking ? tracking->highlighted(level_) : std::nullopt;
        p.save();
        p.setFont(menuFont());
        p.setRenderHint(QPainter::Antialiasing);
        const auto rows = rowsOf(menu_, size.width);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const auto& [action, row] = rows[i];
            if (action->isSeparator()) {
                p.setPen(QColor(0, 0, 0, 40));
                p.drawLine(QPointF(row.left() + 8, row.center().y()), QPointF(row.right() - 8, row.center().y()));
                continue;
            }
            const bool isLit = lit == i && action->isEnabled();
            if (isLit) {
                p.setPen(Qt::NoPen);
                p.setBrush(palette::accent());
                p.drawRoundedRect(row.adjusted(5, 0, -5, 0), 4, 4);
            }
            p.setPen(isLit ? QColor(255, 255, 255) : action->isEnabled() ? QColor(20, 20, 20) : QColor(150, 150, 150));
            if (action->isChecked())
                p.drawText(row.adjusted(8, 0, 0, 0), Qt::AlignVCenter, QString::fromUtf8("\u2713"));
            // Shown literally: the title's "&" was doubled only to keep Qt from taking it for a mnemonic.
            QString text = action->text();
            text.replace(QStringLiteral("&&"), QStringLiteral("&"));
            p.drawText(row.adjusted(24, 0, -24, 0), Qt::AlignVCenter | Qt::AlignLeft, text);
            if (action->menu())
                p.drawText(row.adjusted(0, 0, -10, 0), Qt::AlignVCenter | Qt::AlignRight, QString::fromUtf8("\u25B8"));
        }
        p.restore();
    }

private:
    // The entry whose row holds the location (separators and disabled entries too); none in the
    // padding.
    std::optional<std::size_t> entryAt(cg::Point location) const {
        const auto rows = rowsOf(menu_, fittingSize().width);
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].second.contains(location.x, location.y)) return i;
        return std::nullopt;
    }

    PopUpMenu& owner_;
    QMenu& menu_;
    std::size_t level_;
};

namespace {

std::vector<ns::MenuTracking::Entry> entriesOf(const QMenu& menu) {
    std::vector<ns::MenuTracking::Entry> entries;
    for (const QAction* action : menu.actions())
        entries.push_back({action->isEnabled(), action->isSeparator(), action->menu() != nullptr});
    return entries;
}

}  // namespace

PopUpMenu::PopUpMenu(std::unique_ptr<QMenu> menu, cg::Point topLeft, std::function<void(QAction*)> chosen)
    : menu_(std::move(menu)), chosen_(std::move(chosen)) {
    levels_.push_back(open(*menu_, 0, topLeft));
    window_ = levels_.front().window;
    window_->setSessionMouseDown([this](cg::Point location) { sessionMouseDown(location); });
    ns::MenuTracking::Owner owner;
    owner.openSubmenu = [this](std::size_t level, std::size_t entry) { return openSubmenu(level, entry); };
    owner.closeSubmenus = [this](std::size_t keep) { closeSubmenus(keep); };
    owner.choose = [this](const std::vector<std::size_t>& path) { choose(path); };
    owner.dismiss = [this] { close(); };
    owner.changed = [this](std::size_t level) {
        if (level < levels_.size()) levels_[level].view->setNeedsDisplay();
    };
    owner.schedule = [](runtime::Duration delay, std::function<void()> action) {
        dispatch::Queue::main().asyncAfter(delay, std::move(action));
    };
    tracking_ = std::make_unique<ns::MenuTracking>(entriesOf(*menu_), std::move(owner));
}

PopUpMenu::~PopUpMenu() {
    if (window_) window_->setSessionMouseDown(nullptr);
    close();
}

PopUpMenu::Level PopUpMenu::open(QMenu& menu, std::size_t level, cg::Point topLeft) {
    auto view = std::make_shared<MenuView>(*this, menu, level);
    const cg::Size size = view->fittingSize();
    auto window = ns::Window::create(cg::Rect{topLeft.x, topLeft.y - size.height, size.width, size.height},
                                     ns::WindowLevel::popUpMenu);
    window->setCanBecomeKey(false);
    window->setContentView(view);
    window->orderFront();
    return Level{&menu, std::move(view), std::move(window)};
}

std::optional<std::vector<ns::MenuTracking::Entry>> PopUpMenu::openSubmenu(std::size_t level, std::size_t entry) {
    if (level >= levels_.size()) return std::nullopt;
    const auto actions = levels_[level].menu->actions();
    if (entry >= static_cast<std::size_t>(actions.size())) return std::nullopt;
    QMenu* submenu = actions[static_cast<qsizetype>(entry)]->menu();
    if (!submenu) return std::nullopt;
    // Beside its entry, its first row level with the entry's.
    const cg::Point entryTopRight = levels_[level].view->rowTopRight(entry);
    levels_.push_back(open(*submenu, level + 1, {entryTopRight.x, entryTopRight.y + verticalPadding}));
    return entriesOf(*submenu);
}

void PopUpMenu::closeSubmenus(std::size_t keep) {
    if (levels_.size() <= keep) return;
    // Out of the list first: a window going off screen tells its view the pointer left it.
    std::vector<Level> gone(std::make_move_iterator(levels_.begin() + static_cast<std::ptrdiff_t>(keep)),
                            std::make_move_iterator(levels_.end()));
    levels_.resize(keep);
    for (auto it = gone.rbegin(); it != gone.rend(); ++it) it->window->orderOut();
}

std::shared_ptr<ns::Window> PopUpMenu::submenuWindow(std::size_t level) const {
    if (level == 0 || level >= levels_.size() || !levels_[level].window->isVisible()) return nullptr;
    return levels_[level].window;
}

void PopUpMenu::close() {
    for (auto it = levels_.rbegin(); it != levels_.rend(); ++it) it->window->orderOut();
}

bool PopUpMenu::isOpen() const { return window_ && window_->isVisible(); }

QAction* PopUpMenu::highlighted(std::size_t level) const {
    if (!tracking_ || level >= levels_.size() || !levels_[level].window->isVisible()) return nullptr;
    const auto lit = tracking_->highlighted(level);
    const auto actions = levels_[level].menu->actions();
    return lit && *lit < static_cast<std::size_t>(actions.size()) ? actions[static_cast<qsizetype>(*lit)] : nullptr;
}

void PopUpMenu::sessionMouseDown(cg::Point location) {
    for (const auto& level : levels_) {
        if (!level.window->isVisible()) continue;
        const cg::Rect f = level.window->frame();
        if (location.x >= f.minX() && location.x < f.maxX() && location.y >= f.minY() && location.y < f.maxY()) return;
    }
    close();
}

void PopUpMenu::keyDown(std::uint16_t keyCode) {
    if (isOpen()) tracking_->keyDown(keyCode);
}

void PopUpMenu::pointerOver(std::size_t level, std::optional<std::size_t> entry) {
    if (level < levels_.size()) tracking_->pointerOver(level, entry);
}

void PopUpMenu::pointerLeft(std::size_t level) {
    if (level < levels_.size()) tracking_->pointerLeft();
}

void PopUpMenu::click(std::size_t level, std::optional<std::size_t> entry) {
    if (level < levels_.size() && entry) tracking_->click(level, *entry);
}

void PopUpMenu::choose(const std::vector<std::size_t>& path) {
    QMenu* menu = menu_.get();
    QAction* action = nullptr;
    for (std::size_t index : path) {
        const auto actions = menu ? menu->actions() : QList<QAction*>();
        if (index >= static_cast<std::size_t>(actions.size())) return;
        action = actions[static_cast<qsizetype>(index)];
        menu = action->menu();
    }
    if (!action) return;
    close();
    if (auto chosen = std::exchange(chosen_, nullptr)) chosen(action);
}

}  // namespace stashbay
