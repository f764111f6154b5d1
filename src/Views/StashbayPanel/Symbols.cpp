#include "Views/StashbayPanel/Symbols.hpp"

#include <QPainter>
#include <QPen>

#include <cmath>
#include <numbers>

namespace stashbay {

namespace {

QPainterPath xmark() {
    QPainterPath p;
    p.moveTo(6, 6);
    p.lineTo(18, 18);
    p.moveTo(18, 6);
    p.lineTo(6, 18);
    return p;
}

QPainterPath gearshape() {
    // Eight teeth around a ring with a hole.
    QPainterPath p;
    constexpr int teeth = 8;
    constexpr double outer = 10.5, inner = 8.0;
    for (int i = 0; i < teeth * 4; ++i) {
        const double angle = (i - 0.5) * std::numbers::pi / (teeth * 2);
        const double radius = (i % 4 == 0 || i % 4 == 1) ? outer : inner;
        const QPointF point(12 + radius * std::cos(angle), 12 + radius * std::sin(angle));
        if (i == 0)
            p.moveTo(point);
        else
            p.lineTo(point);
    }
    p.closeSubpath();
    p.addEllipse(QPointF(12, 12), 3.5, 3.5);
    return p;
}

QPainterPath power() {
    QPainterPath p;
    p.arcMoveTo(QRectF(4, 4.5, 16, 16), 120);
    p.arcTo(QRectF(4, 4.5, 16, 16), 120, 300);
    p.moveTo(12, 3);
    p.lineTo(12, 12);
    return p;
}

QPainterPath triangle() {
    QPainterPath p;
    p.moveTo(12, 2.5);
    p.lineTo(22.5, 21);
    p.lineTo(1.5, 21);
    p.closeSubpath();
    return p;
}

QPainterPath exclamation() {
    QPainterPath p;
    p.addRoundedRect(QRectF(10.75, 8, 2.5, 7.5), 1.2, 1.2);
    p.addEllipse(QPointF(12, 18), 1.4, 1.4);
    return p;
}

QPainterPath appDashed() {
    // A rounded square drawn in dashes: three dashes along each side, rounded corners whole.
    QPainterPath p;
    const QRectF r(3, 3, 18, 18);
    constexpr double corner = 5;
    p.arcMoveTo(QRectF(r.left(), r.top(), 2 * corner, 2 * corner), 180);
    p.arcTo(QRectF(r.left(), r.top(), 2 * corner, 2 * corner), 180, -90);
    p.arcMoveTo(QRectF(r.right() - 2 * corner, r.top(), 2 * corner, 2 * corner), 90);
    p.arcTo(QRectF(r.right() - 2 * corner, r.top(), 2 * corner, 2 * corner), 90, -90);
    p.arcMoveTo(QRectF(r.right() - 2 * corner, r.bottom() - 2 * corner, 2 * corner, 2 * corner), 0);
    p.arcTo(QRectF(r.right() - 2 * corner, r.bottom() - 2 * corner, 2 * corner, 2 * corner), 0, -90);
    p.arcMoveTo(QRectF(r.left(), r.bottom() - 2 * corner, 2 * corner, 2 * corner), 270);
    p.arcTo(QRectF(r.left(), r.bottom() - 2 * corner, 2 * corner, 2 * corner), 270, -90);
    const double mid = 12, half = 1.6;
    p.moveTo(mid - half, r.top());
    p.lineTo(mid + half, r.top());
    p.moveTo(mid - half, r.bottom());
    p.lineTo(mid + half, r.bottom());
    p.moveTo(r.left(), mid - half);
    p.lineTo(r.left(), mid + half);
    p.moveTo(r.right(), mid - half);
    p.lineTo(r.right(), mid + half);
    return p;
}

QPainterPath shield() {
    QPainterPath p;
    p.moveTo(12, 2.5);
    p.cubicTo(15, 4.5, 18, 5, 20.5, 5);
    p.cubicTo(20.5, 14, 17.5, 19, 12, 21.5);
    p.cubicTo(6.5, 19, 3.5, 14, 3.5, 5);
    p.cubicTo(6, 5, 9, 4.5, 12, 2.5);
    p.closeSubpath();
    return p;
}

QPainterPath lockInShield() {
    QPainterPath p;
    p.addRoundedRect(QRectF(8.5, 11, 7, 5.5), 1, 1);
    p.moveTo(10, 11);
    p.arcTo(QRectF(10, 7.5, 4, 5), 180, -180);
    p.lineTo(14, 11);
    return p;
}

QPainterPath checkmarkCircle() {
    QPainterPath p;
    p.addEllipse(QPointF(12, 12), 9.5, 9.5);
    p.moveTo(7.5, 12.5);
    p.lineTo(10.5, 15.5);
    p.lineTo(16.5, 8.5);
    return p;
}

double strokeWidth(SymbolWeight weight) {
    switch (weight) {
        case SymbolWeight::light: return 1.3;
        case SymbolWeight::regular: return 1.8;
        case SymbolWeight::medium: return 2.2;
    }
    return 1.8;
}

}  // namespace

std::optional<Symbol> symbolNamed(std::string_view name) {
    if (name == "xmark") return Symbol{xmark(), {}, {}};
    if (name == "gearshape") return Symbol{gearshape(), {}, {}};
    if (name == "power") return Symbol{power(), {}, {}};
    if (name == "exclamationmark.triangle.fill") return Symbol{{}, triangle(), exclamation()};
    if (name == "app.dashed") return Symbol{appDashed(), {}, {}};
    if (name == "lock.shield") {
        QPainterPath path = shield();
        path.addPath(lockInShield());
        return Symbol{path, {}, {}};
    }
    if (name == "checkmark.circle") return Symbol{checkmarkCircle(), {}, {}};
    return std::nullopt;
}

void drawSymbol(QPainter& painter, std::string_view name, const QRectF& box, double pointSize, const QColor& color,
                SymbolWeight weight) {
    auto symbol = symbolNamed(name);
    if (!symbol) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double scale = pointSize / symbolBoxSize;
    painter.translate(box.center().x() - pointSize / 2, box.center().y() - pointSize / 2);
    painter.scale(scale, scale);
    if (!symbol->fill.isEmpty()) painter.fillPath(symbol->fill.subtracted(symbol->cutout), color);
    if (!symbol->stroke.isEmpty()) {
        QPen pen(color, strokeWidth(weight), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.strokePath(symbol->stroke, pen);
    }
    painter.restore();
}

}  // namespace stashbay
