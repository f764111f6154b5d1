#include "Views/StashbayPanel/MirroredMenu.hpp"

#include <QAction>
#include <QMenu>
#include <QVariant>
#include <QWidget>

namespace stashbay {

MirroredMenuHandler& MirroredMenuHandler::shared() {
    static MirroredMenuHandler handler;
    return handler;
}

void MirroredMenuHandler::selectItem(const QAction& sender, PanelContext& context) const {
    const QVariant object = sender.data();
    if (object.metaType() != QMetaType::fromType<AccessibilityBridge::AXUIElementSendable>()) return;
    const auto sendable = object.value<AccessibilityBridge::AXUIElementSendable>();
    if (!sendable.element) return;
    context.pressMenuItem(sendable.element);
}

QString mirroredMenuTitle(const std::string& title) {
    QString text = QString::fromStdString(title);
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return text;
}

QAction* makeMenuItem(const AccessibilityBridge::AXMenuSnapshot& entry, QMenu& owner, PanelContext& context) {
    auto* action = new QAction(&owner);
    if (entry.isSeparator) {
        action->setSeparator(true);
        return action;
    }
    action->setText(mirroredMenuTitle(entry.title));
    action->setShortcut(QKeySequence());
    action->setEnabled(entry.isEnabled);
    action->setData(QVariant::fromValue(entry.element));
    if (entry.markChar && !entry.markChar->empty()) {
        action->setCheckable(true);
        action->setChecked(true);
    }
    // The menu lives only while it is shown, and the context outlives it.
    PanelContext* target = &context;
    QObject::connect(action, &QAction::triggered, action,
                     [action, target] { MirroredMenuHandler::shared().selectItem(*action, *target); });
    if (!entry.children.empty()) {
        auto* submenu = new QMenu(&owner);
        for (const auto& child : entry.children) submenu->addAction(makeMenuItem(child, *submenu, context));
        action->setMenu(submenu);
    }
    return action;
}

std::unique_ptr<QMenu> makeMirroredMenu(const std::vector<AccessibilityBridge::AXMenuSnapshot>& entries,
                                        PanelContext& context) {
    auto menu = std::make_unique<QMenu>();
    for (const auto& entry : entries) menu->addAction(makeMenuItem(entry, *menu, context));
    return menu;
}

void presentMirroredMenu(PanelContext& context, const std::vector<AccessibilityBridge::AXMenuSnapshot>& entries,
                         QWidget* anchorView) {
    auto menu = makeMirroredMenu(entries, context);
    QWidget* view = anchorView ? anchorView : context.keyWindowContentView();
    if (!view) return;
    const QPoint location = anchorView ? view->mapToGlobal(QPoint(0, view->height())) : view->mapToGlobal(QPoint(0, 0));
    context.popUpMenu(std::move(menu), location);
}

}  // namespace stashbay
