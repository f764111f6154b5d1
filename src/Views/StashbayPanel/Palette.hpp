#pragma once

#include <QColor>

namespace stashbay::palette {

// The panel's light look: the system indigo as accent, the hierarchical text styles as black at
// falling opacities.
inline QColor accent() { return QColor(88, 86, 214); }
inline QColor orange() { return QColor(255, 149, 0); }
inline QColor yellow() { return QColor(255, 204, 0); }
inline QColor primary() { return QColor(0, 0, 0, 217); }
inline QColor secondary() { return QColor(0, 0, 0, 128); }
inline QColor tertiary() { return QColor(0, 0, 0, 66); }
inline QColor panelBackground() { return QColor(236, 236, 238); }
inline QColor glass() { return QColor(255, 255, 255, 150); }

inline QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

}  // namespace stashbay::palette
