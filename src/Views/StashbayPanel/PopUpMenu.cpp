#include "Views/StashbayPanel/PopUpMenu.hpp"

#include <QAction>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

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

    cg::Size fittingSize() const override { return sizeOf(menu_); }

    void mouseDown(cg::Point location) override {
        for (const auto& [action, row] : rowsOf(menu_, fittingSize().width)) {
            if (!row.contains(location.x, location.y)) continue;
            if (action->isSeparator() || !action->isEnabled()) return;
            const auto w = window();
            const cg::Rect frame = w ? w->frame() : cg::Rect{};
            owner_.clicked(action, {frame.maxX(), frame.maxY() - row.top()});
            return;
        }
    }

    void draw(QPainter& p, cg::Size size) const override {
        p.save();
        p.setFont(menuFont());
        for (const auto& [action, row] : rowsOf(menu_, size.width)) {
            if (action->isSeparator()) {
                p.setPen(QColor(0, 0, 0, 40));
                p.drawLine(QPointF(row.left() + 8, row.center().y()), QPointF(row.right() - 8, row.center().y()));
                continue;
            }
            p.setPen(action->isEnabled() ? QColor(20, 20, 20) : QColor(150, 150, 150));
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
};

PopUpMenu::PopUpMenu(std::unique_ptr<QMenu> menu, cg::Point topLeft, std::function<void(QAction*)> chosen)
    : menu_(std::move(menu)), chosen_(std::move(chosen)) {
    window_ = open(*menu_, topLeft);
}

PopUpMenu::~PopUpMenu() { close(); }

std::shared_ptr<ns::Window> PopUpMenu::open(QMenu& menu, cg::Point topLeft) {
    auto view = std::make_shared<MenuView>(*this, menu);
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

void PopUpMenu::clicked(QAction* action, cg::Point entryTopRight) {
    if (QMenu* submenu = action->menu()) {
        if (submenuWindow_) submenuWindow_->orderOut();
        submenuWindow_ = open(*submenu, {entryTopRight.x, entryTopRight.y + verticalPadding});
        return;
    }
    close();
    if (auto chosen = std::exchange(chosen_, nullptr)) chosen(action);
}

}  // namespace stashbay
