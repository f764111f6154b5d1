#include "Views/Onboarding/OnboardingView.hpp"

#include "Views/Settings/PageSymbols.hpp"
#include "Views/StashbayPanel/Animation.hpp"
#include "Views/StashbayPanel/Palette.hpp"
#include "Views/StashbayPanel/PanelFonts.hpp"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace stashbay {

namespace {

constexpr double stepPadding = 24;
constexpr double stepSpacing = 10;

double wrappedHeight(const QString& text, double width, double pointSize = 13) {
    return QFontMetricsF(systemFont(pointSize))
        .boundingRect(QRectF(0, 0, width, 1000), Qt::AlignHCenter | Qt::TextWordWrap, text)
        .height();
}

// A status row's symbol and the gap after it.
constexpr double statusSymbolWidth = 14 + 6;

}  // namespace

OnboardingView::OnboardingView(std::shared_ptr<OnboardingModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      frames_([this](runtime::Instant now) { return isVisible() && isAnimating(now); }, [this] { update(); }) {
    setMinimumHeight(static_cast<int>(OnboardingModel::minimumHeight));
    // A new step, and the permission flags that its status rows show.
    auto redraw = [this](const auto&) {
        updateGeometry();
        update();
        frames_.start();
    };
    tokens_.push_back(model_->observeStep(redraw));
    tokens_.push_back(model_->permissions().observeAccessibilityGranted(redraw));
    tokens_.push_back(model_->permissions().observeScreenRecordingGranted(redraw));
}

bool OnboardingView::isAnimating(runtime::Instant now) const {
    // The waiting indicator spins for as long as its step is shown.
    return model_->content().showsWaiting || now - model_->stepChangedAt() < OnboardingModel::stepAnimationDuration;
}

OnboardingView::~OnboardingView() {
    if (onScreen_) model_->disappear();
}

void OnboardingView::showEvent(QShowEvent*) {
    onScreen_ = true;
    model_->appear();
    frames_.start();
}

void OnboardingView::hideEvent(QHideEvent*) {
    frames_.stop();
    if (!onScreen_) return;
    onScreen_ = false;
    model_->disappear();
}

OnboardingView::Layout OnboardingView::layout() const {
    Layout out;
    const double columnWidth = OnboardingModel::width;
    const double left = (width() - columnWidth) / 2;
    const double centre = left + columnWidth / 2;
    // The dots: 16 points above, 8 below.
    const double dotsWidth = 4 * OnboardingModel::dotSize + 3 * OnboardingModel::dotSpacing;
    for (std::size_t index = 0; index < 4; ++index)
        out.dots[index] =
            QRectF(centre - dotsWidth / 2 + index * (OnboardingModel::dotSize + OnboardingModel::dotSpacing), 16,
                   OnboardingModel::dotSize, OnboardingModel::dotSize);
    double y = 16 + OnboardingModel::dotSize + 8 + stepPadding;
    const auto content = model_->content();
    const double rowWidth = columnWidth - 2 * stepPadding;
    for (std::size_t index = 0; index < content.statusRows.size(); ++index) {
        // A long row wraps under its text's own column rather than losing its end.
        const double rowHeight =
            std::max(16.0, wrappedHeight(content.statusRows[index].text, rowWidth - statusSymbolWidth, 12));
        out.statusRows.push_back(QRectF(left + stepPadding, y, rowWidth, rowHeight));
        y += rowHeight + (index + 1 < content.statusRows.size() ? 4 : 0);
    }
    if (!content.statusRows.empty()) y += 4 + stepSpacing;
    out.symbol = QRectF(centre - 22, y, 44, 44);
    y += 44 + 4 + stepSpacing;
    out.title = QRectF(left, y, columnWidth, 22);
    y += 22 + stepSpacing;
    const double bodyHeight = wrappedHeight(content.body, OnboardingModel::textWidth);
    out.body = QRectF(centre - OnboardingModel::textWidth / 2, y, OnboardingModel::textWidth, bodyHeight);
    y += bodyHeight + stepSpacing + 8;
    const double buttonWidth = QFontMetricsF(systemFont(13)).horizontalAdvance(content.primaryButton) + 28;
    out.primaryButton = QRectF(centre - buttonWidth / 2, y, buttonWidth, 28);
    y += 28;
    if (content.showsWaiting) {
        y += stepSpacing + 4;
        out.waitingIndicator = QRectF(left, y, columnWidth, 16);
        y += 16 + stepSpacing + 4;
        const double secondaryWidth = QFontMetricsF(systemFont(11)).horizontalAdvance(content.secondaryButton) + 20;
        out.secondaryButton = QRectF(centre - secondaryWidth / 2, y, secondaryWidth, 22);
        y += 22;
    }
    out.height = std::max(OnboardingModel::minimumHeight, y + stepPadding);
    return out;
}

QSize OnboardingView::sizeHint() const { return QSize(320, static_cast<int>(std::ceil(layout().height))); }

void OnboardingView::clickAt(const QPointF& point) {
    const auto places = layout();
    if (places.primaryButton.contains(point))
        model_->pressPrimary();
    else if (places.secondaryButton && places.secondaryButton->contains(point))
        model_->pressAlreadyGranted();
    update();
}

void OnboardingView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) clickAt(event->position());
}

void OnboardingView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette::panelBackground());
    const auto places = layout();
    const auto content = model_->content();

    // The dots change size and colour with a spring of 0.3 s without bounce: an ease-out here.
    const auto dots = model_->dots();
    const auto before = OnboardingModel::dots(model_->previousStep());
    const auto now = animationNow();
    const double elapsed =
        runtime::seconds(now - model_->stepChangedAt()) / runtime::seconds(OnboardingModel::stepAnimationDuration);
    const double dotProgress = curveProgress(Curve::easeOut, elapsed);
    const QColor faint = palette::withOpacity(QColor(0, 0, 0), 0.15);
    auto mix = [&](const QColor& from, const QColor& to) {
        auto channel = [&](double a, double b) { return static_cast<int>(std::lround(a + (b - a) * dotProgress)); };
        return QColor(channel(from.red(), to.red()), channel(from.green(), to.green()), channel(from.blue(), to.blue()),
                      channel(from.alpha(), to.alpha()));
    };
    for (std::size_t index = 0; index < 4; ++index) {
        const auto& box = places.dots[index];
        const double scale = before[index].scale + (dots[index].scale - before[index].scale) * dotProgress;
        const double radius = OnboardingModel::dotSize / 2 * scale;
        QPainterPath dot;
        dot.addEllipse(box.center(), radius, radius);
        painter.fillPath(dot, mix(before[index].reached ? palette::accent() : faint,
                                  dots[index].reached ? palette::accent() : faint));
    }

    // The step comes in from the trailing edge while fading in.
    const double progress = curveProgress(Curve::easeInOut, elapsed);
    painter.setOpacity(progress);
    painter.translate((1 - progress) * width(), 0);

    for (std::size_t index = 0; index < content.statusRows.size(); ++index) {
        const auto& row = content.statusRows[index];
        const auto& box = places.statusRows[index];
        painter.setFont(systemFont(12));
        const QFontMetricsF metrics(painter.font());
        const double textWidth = std::min(
            box.width() - statusSymbolWidth,
            metrics.boundingRect(QRectF(0, 0, box.width() - statusSymbolWidth, 1000), Qt::TextWordWrap, row.text)
                .width());
        const double start = box.center().x() - (statusSymbolWidth + textWidth) / 2;
        drawPageSymbol(painter, row.symbol, QRectF(start, box.top(), 14, std::min(box.height(), 16.0)), 14,
                       row.symbolColor);
        painter.setPen(palette::secondary());
        painter.drawText(QRectF(start + statusSymbolWidth, box.top(), textWidth, box.height()),
                         Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap, row.text);
    }
    drawPageSymbol(painter, content.symbol, places.symbol, 44, content.symbolColor);
    painter.setFont(systemFont(17, QFont::DemiBold));
    painter.setPen(palette::primary());
    painter.drawText(places.title, Qt::AlignCenter, content.title);
    painter.setFont(systemFont(13));
    painter.setPen(palette::secondary());
    painter.drawText(places.body, Qt::AlignHCenter | Qt::TextWordWrap, content.body);

    QPainterPath button;
    button.addRoundedRect(places.primaryButton, 14, 14);
    painter.fillPath(button, palette::accent());
    painter.setPen(Qt::white);
    painter.drawText(places.primaryButton, Qt::AlignCenter, content.primaryButton);
    if (places.waitingIndicator) {
        painter.setFont(systemFont(12));
        const QString waiting = OnboardingModel::waitingText();
        const double textWidth = QFontMetricsF(painter.font()).horizontalAdvance(waiting);
        const double start = places.waitingIndicator->center().x() - (12 + 6 + textWidth) / 2;
        drawSpinner(painter, QRectF(start, places.waitingIndicator->top() + 2, 12, 12), palette::secondary(), 1.6, now);
        painter.setPen(palette::tertiary());
        painter.drawText(QRectF(start + 18, places.waitingIndicator->top(), textWidth, 16), Qt::AlignVCenter, waiting);
    }
    if (places.secondaryButton) {
        QPainterPath glass;
        glass.addRoundedRect(*places.secondaryButton, 11, 11);
        painter.fillPath(glass, palette::glass());
        painter.setFont(systemFont(11));
        painter.setPen(palette::primary());
        painter.drawText(*places.secondaryButton, Qt::AlignCenter, content.secondaryButton);
    }
}

}  // namespace stashbay
