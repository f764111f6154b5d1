#include "App/MenuBarIcon.hpp"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstring>
#include <vector>

namespace stashbay {

ns::Image drawMenuBarIcon() {
    constexpr int scale = 2;
    constexpr int side = 18 * scale;
    QImage image(side, side, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale, scale);
        QPen pen(QColor(0, 0, 0), 1.6);
        pen.setJoinStyle(Qt::RoundJoin);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        // The box: an open tray with a lip.
        QPainterPath box;
        box.moveTo(2.5, 8.5);
        box.lineTo(2.5, 14.0);
        box.quadTo(2.5, 15.5, 4.0, 15.5);
        box.lineTo(14.0, 15.5);
        box.quadTo(15.5, 15.5, 15.5, 14.0);
        box.lineTo(15.5, 8.5);
        p.drawPath(box);
        p.drawLine(QPointF(2.5, 8.5), QPointF(6.0, 8.5));
        p.drawLine(QPointF(12.0, 8.5), QPointF(15.5, 8.5));
        p.drawLine(QPointF(6.0, 8.5), QPointF(7.0, 11.0));
        p.drawLine(QPointF(7.0, 11.0), QPointF(11.0, 11.0));
        p.drawLine(QPointF(11.0, 11.0), QPointF(12.0, 8.5));
        // The arrow into it.
        p.drawLine(QPointF(9.0, 2.0), QPointF(9.0, 8.5));
        p.drawLine(QPointF(6.5, 6.0), QPointF(9.0, 8.5));
        p.drawLine(QPointF(11.5, 6.0), QPointF(9.0, 8.5));
    }
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(side) * side * 4);
    for (int y = 0; y < side; ++y)
        std::memcpy(pixels.data() + static_cast<std::size_t>(y) * side * 4, image.constScanLine(y),
                    static_cast<std::size_t>(side) * 4);
    auto bitmap = std::make_shared<const cg::Image>(side, side, 8, cg::ColorSpace::deviceRGB(),
                                                    cg::ImageAlphaInfo::premultipliedLast, std::move(pixels));
    return ns::Image(std::move(bitmap), cg::Size{18, 18});
}

void registerMenuBarIcon() {
    ns::Image::registerNamed(menuBarIconName, [] { return drawMenuBarIcon(); });
}

}  // namespace stashbay
