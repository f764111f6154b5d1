#include "Views/Settings/PageSymbols.hpp"

#include "Views/StashbayPanel/Animation.hpp"
#include "Views/StashbayPanel/Symbols.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <cmath>

namespace stashbay {

namespace {

// Paths in a 24-unit box.
QPainterPath circle() {
    QPainterPath p;
    p.addEllipse(QPointF(12, 12), 10, 10);
    return p;
}

}  // namespace

bool drawPageSymbol(QPainter& painter, std::string_view name, const QRectF& box, double pointSize,
                    const QColor& color) {
    if (symbolNamed(name)) {
        drawSymbol(painter, name, box, pointSize, color);
        return true;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double scale = pointSize / symbolBoxSize;
    painter.translate(box.center().x() - pointSize / 2, box.center().y() - pointSize / 2);
    painter.scale(scale, scale);
    QPen pen(color, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    bool known = true;
    if (name == "chevron.left") {
        QPainterPath p;
        p.moveTo(15, 5);
        p.lineTo(8, 12);
        p.lineTo(15, 19);
        painter.strokePath(p, pen);
    } else if (name == "checkmark.circle.fill" || name == "xmark.circle.fill") {
        painter.fillPath(circle(), color);
        QPainterPath mark;
        if (name == "checkmark.circle.fill") {
            mark.moveTo(7.5, 12.5);
            mark.lineTo(10.8, 15.8);
            mark.lineTo(16.5, 8.5);
        } else {
            mark.moveTo(8.5, 8.5);
            mark.lineTo(15.5, 15.5);
            mark.moveTo(15.5, 8.5);
            mark.lineTo(8.5, 15.5);
        }
        painter.strokePath(mark, QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    } else if (name == "hand.raised.fill") {
        QPainterPath p;
        for (int finger = 0; finger < 4; ++finger)
            p.addRoundedRect(QRectF(6 + finger * 3.4, 3 + (finger == 0 ? 2 : 0), 3, 11), 1.5, 1.5);
        p.addRoundedRect(QRectF(6, 10, 13.4, 11), 4, 4);
        p.addRoundedRect(QRectF(2.5, 11, 4.5, 3), 1.5, 1.5);
        painter.fillPath(p.simplified(), color);
    } else if (name == "rectangle.grid.3x2") {
        QPainterPath p;
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 3; ++column)
                p.addRoundedRect(QRectF(2.5 + column * 6.6, 6 + row * 6.6, 5.4, 5.4), 1, 1);
        painter.strokePath(p, QPen(color, 1.4));
    } else if (name == "rectangle.dashed.badge.record") {
        QPainterPath frame;
        frame.addRoundedRect(QRectF(2, 4, 18, 14), 2, 2);
        QPen dashed(color, 1.6, Qt::DashLine);
        painter.strokePath(frame, dashed);
        QPainterPath badge;
        badge.addEllipse(QPointF(18, 17), 4.5, 4.5);
        painter.fillPath(badge, color);
    } else {
        known = false;
    }
    painter.restore();
    return known;
}

void drawSpinner(QPainter& painter, const QRectF& box, const QColor& color, double lineWidth, runtime::Instant now) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, lineWidth, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    // Qt's angles run counter-clockwise in sixteenths of a degree; the ring turns clockwise.
    const int start = -static_cast<int>(std::lround(spinnerAngle(now) * 16));
    painter.drawArc(box.adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2, -lineWidth / 2), start, 270 * 16);
    painter.restore();
}

}  // namespace stashbay
