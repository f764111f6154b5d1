#pragma once

#include "stashbay/runtime/Time.hpp"

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

// The small indeterminate spinner of the settings page and the onboarding: an open ring in `box`
// turned as far as it has turned at `now`.
void drawSpinner(QPainter& painter, const QRectF& box, const QColor& color, double lineWidth, runtime::Instant now);

}  // namespace stashbay
