#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>

#include <optional>
#include <string_view>

class QPainter;

namespace stashbay {

// A symbol the views name, drawn by us: outlines to stroke and shapes to fill, in a box of
// 24 by 24 units.
struct Symbol {
    QPainterPath stroke;
    QPainterPath fill;
    // Cut out of the fill (the marks inside a filled shape).
    QPainterPath cutout;
};

inline constexpr double symbolBoxSize = 24.0;

// "xmark", "gearshape", "power", "exclamationmark.triangle.fill", "app.dashed", "lock.shield",
// "checkmark.circle"; none for any other name.
std::optional<Symbol> symbolNamed(std::string_view name);

// Weights of the symbols' strokes, as the views ask for them.
enum class SymbolWeight { light, regular, medium };

// Draws the named symbol scaled into a square of `pointSize` centred in `box`. Nothing for an
// unknown name.
void drawSymbol(QPainter& painter, std::string_view name, const QRectF& box, double pointSize, const QColor& color,
                SymbolWeight weight = SymbolWeight::regular);

}  // namespace stashbay
