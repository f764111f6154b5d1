#pragma once

#include <QFont>

namespace stashbay {

// The system font at a size in points (a point is a pixel of the panel).
inline QFont systemFont(int points, QFont::Weight weight = QFont::Normal) {
    QFont font;
    font.setPixelSize(points);
    font.setWeight(weight);
    return font;
}

}  // namespace stashbay
