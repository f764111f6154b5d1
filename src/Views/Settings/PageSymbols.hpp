#pragma once

#include <QColor>
#include <QRectF>

#include <string_view>

class QPainter;

namespace stashbay {

// Draws a symbol of the settings page or the onboarding: the panel's own symbols, and
// "chevron.left", "checkmark.circle.fill", "xmark.circle.fill", "hand.raised.fill",
// "rectangle.grid.3x2" and "rectangle.dashed.badge.record" drawn here, scaled into a square of
// `pointSize` centred in `box`. Whether the name is known.
bool drawPageSymbol(QPainter& painter, std::string_view name, const QRectF& box, double pointSize, const QColor& color);

}  // namespace stashbay
