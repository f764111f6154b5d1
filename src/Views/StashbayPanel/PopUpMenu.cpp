#include "Views/StashbayPanel/PopUpMenu.hpp"

#include "Views/StashbayPanel/Palette.hpp"

#include <QAction>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cstddef>
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
    MenuView(PopUpMenu& owner, QMenu& menu) : owner_(owner), menu_(menu) {}

    QMenu& menu() const { return menu_; }
    QAction* highlighted() const { return highlighted_; }
    void setHighlighted(QAction* action) { highlighted_ = action; }

    // The enabled entry `step` places after (or before) the highlighted one, wrapping; the first
    // or the last when none is highlighted.
    void moveHighlight(int step) {
        std::vector<QAction*> choosable;
        for (QAction* action : menu_.actions())
            if (!action->isSeparator() && action->isEnabled()) choosable.push_back(action);
        if (choosable.empty()) return;
        auto at = std::find(choosable.begin(), choosable.end(), highlighted_);
        const auto n = static_cast<std::ptrdiff_t>(choosable.size());
        std::ptrdiff_t index =
            at == choosable.end() ? (step > 0 ? 0 : n - 1) : ((at - choosable.begin()) + step + n) % n;
        highlighted_ = choosable[static_cast<std::size_t>(index)];
    }

    // The top right of the highlighted entry's row in screen space, where its submenu opens.
    cg::Point rowTopRight(QAction* action) const {
        const auto w = window();
        const cg::Rect frame = w ? w->frame() : cg::Rect{};
        for (const auto& [entry, row] : rowsOf(menu_, fittingSize().width))
            if (entry == action) return {frame.maxX(), frame.maxY() - row.top()};
        return {frame.maxX(), frame.maxY()};
    }

    cg::Size fittingSize() const override { return sizeOf(menu_); }

    void mouseMoved(cg::Point location) override {
        highlighted_ = nullptr;
        for (const auto& [action, row] : rowsOf(menu_, fittingSize().width))
            if (row.contains(location.x, location.y) && !action->isSeparator() && action->isEnabled())
                highlighted_ = action;
    }

    void mouseDown(cg::Point location) override {
        for (const auto& [action, row] : rowsOf(menu_, fittingSize().width)) {
            if (!row.contains(location.x, location.y)) continue;
            if (action->isSeparator() || !action->isEnabled()) return;
            highlighted_ = action;
            owner_.clicked(action, rowTopRight(action));
            return;
        }
    }

    void draw(QPainter& p, cg::Size size) const override {
        p.save();
        p.setFont(menuFont());
        p.setRenderHint(QPainter::Antialiasing);
        for (const auto& [action, row] : rowsOf(menu_, size.width)) {
            if (action->isSeparator()) {
                p.setPen(QColor(0, 0, 0, 40));
                p.drawLine(QPointF(row.left() + 8, row.center().y()), QPointF(row.right() - 8, row.center().y()));
                continue;
            }
            const bool lit = action == highlighted_ && action->isEnabled();
            if (lit) {
                p.setPen(Qt::NoPen);
                p.setBrush(palette::accent());
                p.drawRoundedRect(row.adjusted(5, 0, -5, 0), 4, 4);
            }
            p.setPen(lit ? QColor(255, 255, 255) : action->isEnabled() ? QColor(20, 20, 20) : QColor(150, 150, 150));
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
    PopUpMenu& owner_;
    QMenu& menu_;
    QAction* highlighted_ = nullptr;
};

PopUpMenu::PopUpMenu(std::unique_ptr<QMenu> menu, cg::Point topLeft, std::function<void(QAction*)> chosen)
    : menu_(std::move(menu)), chosen_(std::move(chosen)) {
    window_ = open(*menu_, topLeft, view_);
    window_->setSessionMouseDown([this](cg::Point location) { sessionMouseDown(location); });
}

PopUpMenu::~PopUpMenu() {
    if (window_) window_->setSessionMouseDown(nullptr);
    close();
}

std::shared_ptr<ns::Window> PopUpMenu::open(QMenu& menu, cg::Point topLeft, std::shared_ptr<MenuView>& view) {
    view = std::make_shared<MenuView>(*this, menu);
    const cg::Size size = view->fittingSize();
    auto window = ns::Window::create(cg::Rect{topLeft.x, topLeft.y - size.height, size.width, size.height},
                                     ns::WindowLevel::popUpMenu);
    window->setCanBecomeKey(false);
    window->setContentView(view);
    window->orderFront();
    return window;
}

void PopUpMenu::close() {
    if (submenuWindow_) submenuWindow_->orderOut();
    if (window_) window_->orderOut();
}

bool PopUpMenu::isOpen() const { return window_ && window_->isVisible(); }

QAction* PopUpMenu::highlighted(bool inSubmenu) const {
    if (inSubmenu)
        return submenuView_ && submenuWindow_ && submenuWindow_->isVisible() ? submenuView_->highlighted() : nullptr;
    return view_ ? view_->highlighted() : nullptr;
}

void PopUpMenu::sessionMouseDown(cg::Point location) {
    auto inside = [&](const std::shared_ptr<ns::Window>& window) {
        if (!window || !window->isVisible()) return false;
        const cg::Rect f = window->frame();
        return location.x >= f.minX() && location.x < f.maxX() && location.y >= f.minY() && location.y < f.maxY();
    };
    if (!inside(window_) && !inside(submenuWindow_)) close();
}

void PopUpMenu::keyDown(std::uint16_t keyCode) {
    if (!isOpen()) return;
    const bool inSubmenu = submenuWindow_ && submenuWindow_->isVisible();
    MenuView& active = inSubmenu ? *submenuView_ : *view_;
    switch (keyCode) {
        case 126: active.moveHighlight(-1); return;  // Up
        case 125: active.moveHighlight(1); return;   // Down
        case 123:                                    // Left
            if (inSubmenu) closeSubmenu();
            return;
        case 124:  // Right
            if (QAction* action = active.highlighted(); action && action->menu())
                openSubmenu(action, active.rowTopRight(action));
            return;
        case 36:
        case 76:  // Return and Enter
            if (QAction* action = active.highlighted()) clicked(action, active.rowTopRight(action));
            return;
        case 53: close(); return;  // Escape
        default: return;
    }
}

void PopUpMenu::openSubmenu(QAction* action, cg::Point entryTopRight) {
    closeSubmenu();
    submenuWindow_ = open(*action->menu(), {entryTopRight.x, entryTopRight.y + verticalPadding}, submenuView_);
    submenuView_->moveHighlight(1);
}

void PopUpMenu::closeSubmenu() {
    if (submenuWindow_) submenuWindow_->orderOut();
}

void PopUpMenu::clicked(QAction* action, cg::Point entryTopRight) {
    if (action->menu()) {
        openSubmenu(action, entryTopRight);
        return;
    }
    close();
    if (auto chosen = std::exchange(chosen_, nullptr)) chosen(action);
}

}  // namespace stashbay
