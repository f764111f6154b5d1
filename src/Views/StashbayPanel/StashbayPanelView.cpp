#include "Views/StashbayPanel/StashbayPanelView.hpp"

#include <QCoreApplication>
#include <QPainter>

#include <string>

namespace stashbay {

std::vector<std::string> StashbayPanelView::lines() const {
    auto state = environment_.object<AppState>();
    auto permissions = environment_.object<PermissionsManager>();
    auto preferences = environment_.object<UserPreferences>();
    (void)permissions;
    (void)preferences;
    std::size_t hidden = 0;
    for (const auto& section : state->sections()) hidden += section.items().size();
    std::vector<std::string> out{"Stashbay"};
    switch (state->panelMode()) {
        case AppState::PanelMode::onboarding:
            out.push_back(QCoreApplication::translate("StashbayPanelView", "Welcome").toStdString());
            break;
        case AppState::PanelMode::settings:
            out.push_back(QCoreApplication::translate("StashbayPanelView", "Settings").toStdString());
            break;
        case AppState::PanelMode::normal:
            if (state->isScanning() && state->menuBarItems().empty())
                out.push_back(QCoreApplication::translate("StashbayPanelView", "Scanning menu bar…").toStdString());
            else
                out.push_back(QCoreApplication::translate("StashbayPanelView", "%n hidden item(s)", nullptr,
                                                          static_cast<int>(hidden))
                                  .toStdString());
            break;
    }
    return out;
}

cg::Size StashbayPanelView::fittingSize() const { return {200, 72}; }

void StashbayPanelView::draw(QPainter& p, cg::Size size) const {
    auto text = lines();
    QFont font = p.font();
    font.setPixelSize(15);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(30, 30, 30));
    p.drawText(QRectF(0, 10, size.width, 24), Qt::AlignCenter, QString::fromStdString(text[0]));
    font.setBold(false);
    font.setPixelSize(13);
    p.setFont(font);
    p.setPen(QColor(90, 90, 90));
    p.drawText(QRectF(0, 36, size.width, 24), Qt::AlignCenter, QString::fromStdString(text[1]));
}

}  // namespace stashbay
