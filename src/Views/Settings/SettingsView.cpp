#include "Views/Settings/SettingsView.hpp"

#include "Views/Settings/PageSymbols.hpp"
#include "Views/StashbayPanel/Animation.hpp"
#include "Views/StashbayPanel/Palette.hpp"
#include "Views/StashbayPanel/PanelFonts.hpp"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>

namespace stashbay {

namespace {

QColor green() { return QColor(52, 199, 89); }

// A row's label at its ideal single-line width: never truncated or wrapped.
double labelWidth(const QString& label) { return QFontMetricsF(systemFont(13)).horizontalAdvance(label); }

void paintSwitch(QPainter& painter, const QRectF& rect, bool on) {
    const QRectF track(rect.right() - SettingsView::switchWidth, rect.center().y() - 9, SettingsView::switchWidth, 18);
    QPainterPath path;
    path.addRoundedRect(track, 9, 9);
    painter.fillPath(path, on ? palette::accent() : QColor(0, 0, 0, 40));
    const double knobX = on ? track.right() - 9 : track.left() + 9;
    QPainterPath knob;
    knob.addEllipse(QPointF(knobX, track.center().y()), 7.5, 7.5);
    painter.fillPath(knob, Qt::white);
}

}  // namespace

SettingsView::SettingsView(std::unique_ptr<SettingsModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      frames_(
          [this](runtime::Instant) {
              return isVisible() &&
                     model_->general().updateContent().kind == GeneralSettingsModel::UpdateContent::Kind::spinner;
          },
          [this] { update(); }) {
    auto redraw = [this](const auto&) {
        update();
        frames_.start();
    };
    auto& preferences = model_->general().preferences();
    tokens_.push_back(preferences.observeLaunchAtLogin(redraw));
    tokens_.push_back(preferences.observeScanInterval(redraw));
    tokens_.push_back(preferences.observeGlobalHotkeyEnabled(redraw));
    tokens_.push_back(model_->general().updateChecker().observeState(redraw));
    tokens_.push_back(model_->permissions().permissionsService().observeAccessibilityGranted(redraw));
    tokens_.push_back(model_->permissions().permissionsService().observeScreenRecordingGranted(redraw));
}

SettingsView::Layout SettingsView::layout() const {
    Layout out;
    const QRectF page = QRectF(rect()).adjusted(pagePadding, pagePadding, -pagePadding, -pagePadding);
    const double backWidth =
        13 + 6 + QFontMetricsF(systemFont(13, QFont::Medium)).horizontalAdvance(SettingsModel::backTitle());
    out.back = QRectF(page.left(), page.top(), backWidth, backHeight);
    out.footer = QRectF(page.left(), page.bottom() - footerHeight, page.width(), footerHeight);
    const double viewportTop = out.back.bottom() + backBottomPadding;
    out.viewport = QRectF(page.left(), viewportTop, page.width(), out.footer.top() - footerTopPadding - viewportTop);
    out.hits.push_back({Target::back, out.back});

    const double rowHeight = rowContentHeight + 2 * rowVerticalPadding;
    double y = out.viewport.top() - scrollOffset_;
    auto addSection = [&](const QString& title, const std::vector<QString>& labels) {
        Section section;
        section.title = title;
        section.header = QRectF(page.left(), y, page.width(), headerHeight);
        y += headerHeight + headerBottomPadding;
        for (const auto& label : labels) {
            Row row;
            row.label = label;
            row.rect = QRectF(page.left(), y, page.width(), rowHeight);
            const QRectF content = row.rect.adjusted(0, rowVerticalPadding, 0, -rowVerticalPadding);
            row.labelRect = QRectF(content.left(), content.top(), labelWidth(label), content.height());
            row.trailingRect = QRectF(row.labelRect.right() + rowMinimumSpacer, content.top(),
                                      content.right() - row.labelRect.right() - rowMinimumSpacer, content.height());
            section.rows.push_back(row);
            y += rowHeight;
        }
        y += sectionBottomPadding;
        section.rect = QRectF(section.header.topLeft(), QPointF(page.right(), y));
        out.sections.push_back(section);
    };
    const auto labels = GeneralSettingsModel::rowLabels();
    addSection(GeneralSettingsModel::title(), {labels.begin(), labels.end()});
    addSection(PermissionsSettingsModel::title(),
               {QStringLiteral("Accessibility"), QStringLiteral("Screen Recording")});
    out.contentHeight = y + scrollOffset_ - out.viewport.top();

    // The controls, only where they show inside the viewport.
    auto visible = [&](const QRectF& r) { return r.intersects(out.viewport); };
    const auto& general = out.sections[0].rows;
    const QRectF& launch = general[0].trailingRect;
    out.hits.push_back(
        {Target::launchAtLogin, QRectF(launch.right() - switchWidth, launch.top(), switchWidth, launch.height())});
    const QRectF& interval = general[1].trailingRect;
    const QRectF picker(interval.right() - pickerWidth, interval.top(), pickerWidth, interval.height());
    for (std::size_t index = 0; index < 4; ++index)
        out.hits.push_back(
            {Target::intervalSegment,
             QRectF(picker.left() + index * pickerWidth / 4, picker.top(), pickerWidth / 4, picker.height()), index});
    const QRectF& hotkey = general[2].trailingRect;
    out.hits.push_back(
        {Target::globalHotkey, QRectF(hotkey.right() - switchWidth, hotkey.top(), switchWidth, hotkey.height())});
    const QRectF& updates = general[3].trailingRect;
    const double buttonWidth = 110;
    out.hits.push_back(
        {Target::updateButton, QRectF(updates.right() - buttonWidth, updates.top(), buttonWidth, updates.height())});
    out.hits.push_back({Target::accessibilityRow, out.sections[1].rows[0].rect});
    out.hits.push_back({Target::screenRecordingRow, out.sections[1].rows[1].rect});
    std::erase_if(out.hits, [&](const Hit& hit) { return hit.target != Target::back && !visible(hit.rect); });
    return out;
}

void SettingsView::scrollBy(double delta) {
    const auto current = layout();
    const double maximum = std::max(0.0, current.contentHeight - current.viewport.height());
    scrollOffset_ = std::clamp(scrollOffset_ + delta, 0.0, maximum);
    update();
}

void SettingsView::clickAt(const QPointF& point) {
    for (const auto& hit : layout().hits) {
        if (!hit.rect.contains(point)) continue;
        auto& general = model_->general();
        switch (hit.target) {
            case Target::back: model_->back(); break;
            case Target::launchAtLogin: general.setLaunchAtLogin(!general.launchAtLogin()); break;
            case Target::intervalSegment: general.chooseIntervalSegment(hit.index); break;
            case Target::globalHotkey: general.setGlobalHotkeyEnabled(!general.globalHotkeyEnabled()); break;
            case Target::updateButton: {
                const auto kind = general.updateContent().kind;
                if (kind == GeneralSettingsModel::UpdateContent::Kind::checkButton) general.checkForUpdates();
                if (kind == GeneralSettingsModel::UpdateContent::Kind::updateAvailable) general.download();
                break;
            }
            case Target::accessibilityRow:
                model_->permissions().click(PermissionsSettingsModel::Row::accessibility);
                break;
            case Target::screenRecordingRow:
                model_->permissions().click(PermissionsSettingsModel::Row::screenRecording);
                break;
        }
        update();
        return;
    }
}

void SettingsView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) clickAt(event->position());
}

void SettingsView::wheelEvent(QWheelEvent* event) { scrollBy(-event->angleDelta().y() / 8.0); }

void SettingsView::paintRowTrailing(QPainter& painter, std::size_t section, std::size_t row, const QRectF& rect) const {
    auto& general = model_->general();
    if (section == 1) {
        const auto content = model_->permissions().rows()[row];
        painter.setFont(systemFont(12));
        const double textWidth = QFontMetricsF(painter.font()).horizontalAdvance(content.badge.text);
        const QRectF text(rect.right() - textWidth, rect.top(), textWidth, rect.height());
        drawPageSymbol(painter, content.badge.symbol, QRectF(text.left() - 4 - 14, rect.top(), 14, rect.height()), 14,
                       content.badge.symbolColor);
        painter.setPen(content.badge.textColor);
        painter.drawText(text, Qt::AlignVCenter | Qt::AlignRight, content.badge.text);
        return;
    }
    switch (row) {
        case 0: paintSwitch(painter, rect, general.launchAtLogin()); break;
        case 1: {
            const QRectF picker(rect.right() - pickerWidth, rect.top(), pickerWidth, rect.height());
            QPainterPath track;
            track.addRoundedRect(picker, 5, 5);
            painter.fillPath(track, QColor(0, 0, 0, 20));
            const auto selected = general.selectedIntervalSegment();
            const auto& segments = GeneralSettingsModel::intervalSegments();
            painter.setFont(systemFont(12));
            for (std::size_t index = 0; index < segments.size(); ++index) {
                const QRectF segment(picker.left() + index * pickerWidth / 4, picker.top(), pickerWidth / 4,
                                     picker.height());
                if (selected == index) {
                    QPainterPath chosen;
                    chosen.addRoundedRect(segment.adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
                    painter.fillPath(chosen, Qt::white);
                }
                painter.setPen(palette::primary());
                painter.drawText(segment, Qt::AlignCenter, segments[index].title);
            }
            break;
        }
        case 2: {
            paintSwitch(painter, rect, general.globalHotkeyEnabled());
            QFont mono = systemFont(11);
            mono.setStyleHint(QFont::Monospace);
            mono.setFamily(QStringLiteral("monospace"));
            painter.setFont(mono);
            const auto badge = GeneralSettingsModel::shortcutBadge();
            const double width = QFontMetricsF(mono).horizontalAdvance(badge) + 12;
            const QRectF box(rect.right() - switchWidth - 8 - width, rect.center().y() - 8, width, 16);
            QPainterPath background;
            background.addRoundedRect(box, 4, 4);
            painter.fillPath(background, palette::withOpacity(palette::primary(), 0.05));
            painter.setPen(palette::secondary());
            painter.drawText(box, Qt::AlignCenter, badge);
            break;
        }
        case 3: {
            const auto content = general.updateContent();
            using Kind = GeneralSettingsModel::UpdateContent::Kind;
            painter.setFont(systemFont(12));
            double right = rect.right();
            auto drawRightText = [&](const QString& text, const QColor& color, const QFont& font) {
                painter.setFont(font);
                const double width = QFontMetricsF(font).horizontalAdvance(text);
                painter.setPen(color);
                painter.drawText(QRectF(right - width, rect.top(), width, rect.height()), Qt::AlignVCenter, text);
                right -= width;
            };
            switch (content.kind) {
                case Kind::checkButton: drawRightText(content.text, palette::accent(), systemFont(12)); break;
                case Kind::spinner:
                    drawSpinner(painter, QRectF(right - 14, rect.center().y() - 7, 14, 14), palette::secondary(), 2,
                                animationNow());
                    right -= 14;
                    break;
                case Kind::upToDate:
                    drawRightText(content.text, palette::secondary(), systemFont(12));
                    right -= 4;
                    drawPageSymbol(painter, "checkmark.circle.fill", QRectF(right - 12, rect.top(), 12, rect.height()),
                                   12, green());
                    right -= 12;
                    break;
                case Kind::updateAvailable:
                    drawRightText(content.buttonTitle, palette::accent(), systemFont(12, QFont::Medium));
                    right -= 6;
                    drawRightText(content.text, palette::accent(), systemFont(12));
                    break;
                case Kind::failed: drawRightText(content.text, palette::tertiary(), systemFont(12)); break;
            }
            right -= 8;
            QFont mono = systemFont(11);
            mono.setFamily(QStringLiteral("monospace"));
            drawRightText(GeneralSettingsModel::versionText(), palette::secondary(), mono);
            break;
        }
        default: break;
    }
}

void SettingsView::showEvent(QShowEvent*) { frames_.start(); }

void SettingsView::hideEvent(QHideEvent*) { frames_.stop(); }

void SettingsView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette::panelBackground());
    const auto page = layout();

    drawPageSymbol(painter, "chevron.left", QRectF(page.back.left(), page.back.top(), 13, page.back.height()), 13,
                   palette::accent());
    painter.setFont(systemFont(13, QFont::Medium));
    painter.setPen(palette::accent());
    painter.drawText(page.back.adjusted(19, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, SettingsModel::backTitle());

    painter.save();
    painter.setClipRect(page.viewport);
    for (std::size_t s = 0; s < page.sections.size(); ++s) {
        const auto& section = page.sections[s];
        QFont header = systemFont(11, QFont::DemiBold);
        header.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
        painter.setFont(header);
        painter.setPen(palette::tertiary());
        painter.drawText(section.header, Qt::AlignVCenter | Qt::AlignLeft, section.title.toUpper());
        for (std::size_t r = 0; r < section.rows.size(); ++r) {
            const auto& row = section.rows[r];
            painter.setFont(systemFont(13));
            painter.setPen(palette::primary());
            painter.drawText(row.labelRect, Qt::AlignVCenter | Qt::AlignLeft, row.label);
            paintRowTrailing(painter, s, r, row.trailingRect);
        }
    }
    painter.restore();

    painter.setFont(systemFont(11));
    painter.setPen(palette::tertiary());
    painter.drawText(page.footer, Qt::AlignCenter, SettingsModel::versionFooter());
}

}  // namespace stashbay
