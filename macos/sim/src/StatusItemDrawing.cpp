#include "macos/sim/StatusItemDrawing.hpp"

#include "macos/sim/BackingStores.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/EventLoop.hpp"

#include <QDateTime>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>

namespace sim {

namespace {

QColor rgba(std::uint32_t c) { return QColor((c >> 24) & 0xFF, (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

// The bar's text colour: a Mac draws text titles in it, whatever the item's colour.
const QColor barText(20, 20, 20);

// Each symbol draws itself in a 16-point box at the origin with the pen and brush set up.
using SymbolPainter = std::function<void(QPainter&, const QColor&)>;

void strokeOnly(QPainter& p) { p.setBrush(Qt::NoBrush); }

const std::map<std::string_view, SymbolPainter>& symbols() {
    static const std::map<std::string_view, SymbolPainter> table = {
        {"mark",
         [](QPainter& p, const QColor& c) {
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             p.drawRoundedRect(QRectF(0, 0, 16, 16), 4, 4);
         }},
        {"wifi",
         [](QPainter& p, const QColor& c) {
             strokeOnly(p);
             for (int i = 0; i < 3; ++i) {
                 double r = 4.0 + 4.0 * i;
                 p.drawArc(QRectF(8 - r, 14 - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
             }
             p.setBrush(c);
             p.drawEllipse(QPointF(8, 13.5), 1.2, 1.2);
         }},
        {"battery",
         [](QPainter& p, const QColor& c) {
             strokeOnly(p);
             p.drawRoundedRect(QRectF(0.5, 4, 13, 8), 2, 2);
             p.setBrush(c);
             p.drawRect(QRectF(14, 6.5, 1.5, 3));
             p.drawRect(QRectF(2.5, 6, 7, 4));
         }},
        {"switches",
         [](QPainter& p, const QColor& c) {
             strokeOnly(p);
             p.drawRoundedRect(QRectF(1, 2, 14, 5), 2.5, 2.5);
             p.drawRoundedRect(QRectF(1, 9, 14, 5), 2.5, 2.5);
             p.setBrush(c);
             p.drawEllipse(QPointF(4, 4.5), 1.8, 1.8);
             p.drawEllipse(QPointF(12, 11.5), 1.8, 1.8);
         }},
        {"magnifier",
         [](QPainter& p, const QColor&) {
             strokeOnly(p);
             p.drawEllipse(QPointF(6.5, 6.5), 4.5, 4.5);
             p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
         }},
        {"globe",
         [](QPainter& p, const QColor&) {
             strokeOnly(p);
             p.drawEllipse(QPointF(8, 8), 7, 7);
             p.drawEllipse(QPointF(8, 8), 3, 7);
             p.drawLine(QPointF(1, 8), QPointF(15, 8));
         }},
        {"wave",
         [](QPainter& p, const QColor&) {
             strokeOnly(p);
             QPainterPath path(QPointF(0.5, 8));
             path.cubicTo(QPointF(3, 1), QPointF(5, 1), QPointF(8, 8));
             path.cubicTo(QPointF(11, 15), QPointF(13, 15), QPointF(15.5, 8));
             p.drawPath(path);
         }},
        {"microphone",
         [](QPainter& p, const QColor&) {
             strokeOnly(p);
             p.drawRoundedRect(QRectF(5.5, 0.5, 5, 9), 2.5, 2.5);
             p.drawArc(QRectF(3, 3, 10, 9), 180 * 16, 180 * 16);
             p.drawLine(QPointF(8, 12), QPointF(8, 15));
         }},
        {"bars",
         [](QPainter& p, const QColor& c) {
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             for (int i = 0; i < 4; ++i) p.drawRect(QRectF(1 + 4 * i, 12 - 3 * i, 2.5, 3 + 3 * i));
         }},
        {"clipboard",
         [](QPainter& p, const QColor& c) {
             strokeOnly(p);
             p.drawRoundedRect(QRectF(2.5, 2, 11, 13.5), 1.5, 1.5);
             p.setBrush(c);
             p.drawRect(QRectF(5.5, 0.5, 5, 3));
         }},
        {"sun",
         [](QPainter& p, const QColor& c) {
             p.setBrush(c);
             p.drawEllipse(QPointF(8, 8), 3.5, 3.5);
             for (int i = 0; i < 8; ++i) {
                 double a = i * M_PI / 4;
                 p.drawLine(QPointF(8 + 5.5 * std::cos(a), 8 + 5.5 * std::sin(a)),
                            QPointF(8 + 7.5 * std::cos(a), 8 + 7.5 * std::sin(a)));
             }
         }},
        {"bolt",
         [](QPainter& p, const QColor& c) {
             p.setBrush(c);
             p.drawPolygon(QPolygonF({QPointF(9.5, 0.5), QPointF(2.5, 9), QPointF(7.5, 9), QPointF(6.5, 15.5),
                                      QPointF(13.5, 7), QPointF(8.5, 7)}));
         }},
        {"arrows",
         [](QPainter& p, const QColor& c) {
             strokeOnly(p);
             p.drawArc(QRectF(2, 2, 12, 12), 30 * 16, 150 * 16);
             p.drawArc(QRectF(2, 2, 12, 12), 210 * 16, 150 * 16);
             p.setBrush(c);
             p.drawPolygon(QPolygonF({QPointF(12.5, 1.5), QPointF(14.5, 6), QPointF(10, 5.5)}));
             p.drawPolygon(QPolygonF({QPointF(3.5, 14.5), QPointF(1.5, 10), QPointF(6, 10.5)}));
         }},
        {"cloud",
         [](QPainter& p, const QColor& c) {
             p.setBrush(c);
             QPainterPath path;
             path.addEllipse(QPointF(5, 9), 4, 3.5);
             path.addEllipse(QPointF(9, 6.5), 4.5, 4.5);
             path.addEllipse(QPointF(12, 9.5), 3.5, 3);
             p.drawPath(path.simplified());
             p.drawLine(QPointF(5, 13.5), QPointF(4, 15.5));
             p.drawLine(QPointF(9, 13.5), QPointF(8, 15.5));
         }},
        {"stopwatch",
         [](QPainter& p, const QColor&) {
             strokeOnly(p);
             p.drawEllipse(QPointF(8, 9), 6, 6);
             p.drawLine(QPointF(6, 1), QPointF(10, 1));
             p.drawLine(QPointF(8, 1), QPointF(8, 3));
             p.drawLine(QPointF(8, 9), QPointF(10.5, 6));
         }},
        {"calendar",
         [](QPainter& p, const QColor& c) {
             strokeOnly(p);
             p.drawRoundedRect(QRectF(1, 2.5, 14, 12.5), 2, 2);
             p.setBrush(c);
             p.drawRect(QRectF(1, 2.5, 14, 3.5));
             for (int i = 0; i < 3; ++i) p.drawRect(QRectF(3.5 + 3.5 * i, 9, 2, 2));
         }},
        {"eye",
         [](QPainter& p, const QColor& c) {
             strokeOnly(p);
             QPainterPath lid(QPointF(0.5, 8));
             lid.quadTo(QPointF(8, 0), QPointF(15.5, 8));
             lid.quadTo(QPointF(8, 16), QPointF(0.5, 8));
             p.drawPath(lid);
             p.setBrush(c);
             p.drawEllipse(QPointF(8, 8), 2.5, 2.5);
         }},
        {"target",
         [](QPainter& p, const QColor& c) {
             strokeOnly(p);
             p.drawEllipse(QPointF(8, 8), 7, 7);
             p.drawEllipse(QPointF(8, 8), 4, 4);
             p.setBrush(c);
             p.drawEllipse(QPointF(8, 8), 1.3, 1.3);
         }},
        {"cup",
         [](QPainter& p, const QColor&) {
             strokeOnly(p);
             QPainterPath body(QPointF(1.5, 5));
             body.lineTo(11.5, 5);
             body.lineTo(10.5, 14.5);
             body.lineTo(2.5, 14.5);
             body.closeSubpath();
             p.drawPath(body);
             p.drawArc(QRectF(9, 6.5, 6, 5), -90 * 16, 180 * 16);
             p.drawLine(QPointF(5, 0.5), QPointF(5, 3));
             p.drawLine(QPointF(8, 0.5), QPointF(8, 3));
         }},
        {"tide",
         [](QPainter& p, const QColor&) {
             strokeOnly(p);
             for (int row = 0; row < 2; ++row) {
                 double y = 6 + 5 * row;
                 QPainterPath path(QPointF(0.5, y));
                 path.quadTo(QPointF(4, y - 3), QPointF(8, y));
                 path.quadTo(QPointF(12, y + 3), QPointF(15.5, y));
                 p.drawPath(path);
             }
         }},
        {"gauge",
         [](QPainter& p, const QColor&) {
             strokeOnly(p);
             p.drawArc(QRectF(1, 2, 14, 14), 0, 180 * 16);
             p.drawLine(QPointF(1, 9), QPointF(15, 9));
             p.drawLine(QPointF(8, 9), QPointF(12, 4.5));
         }},
        {"book",
         [](QPainter& p, const QColor&) {
             strokeOnly(p);
             p.drawRect(QRectF(1, 2, 6.5, 12));
             p.drawRect(QRectF(8.5, 2, 6.5, 12));
             p.drawLine(QPointF(2.5, 5.5), QPointF(6, 5.5));
             p.drawLine(QPointF(10, 5.5), QPointF(13.5, 5.5));
         }},
        {"envelope",
         [](QPainter& p, const QColor&) {
             strokeOnly(p);
             p.drawRect(QRectF(0.5, 3, 15, 10.5));
             p.drawPolyline(QPolygonF({QPointF(0.5, 3), QPointF(8, 9), QPointF(15.5, 3)}));
         }},
        {"tray",
         [](QPainter& p, const QColor&) {
             strokeOnly(p);
             p.drawPolyline(QPolygonF({QPointF(0.5, 8), QPointF(0.5, 14.5), QPointF(15.5, 14.5), QPointF(15.5, 8)}));
             p.drawPolyline(QPolygonF(
                 {QPointF(0.5, 8), QPointF(5, 8), QPointF(6, 11), QPointF(10, 11), QPointF(11, 8), QPointF(15.5, 8)}));
             p.drawLine(QPointF(3, 2), QPointF(13, 2));
             p.drawLine(QPointF(2, 5), QPointF(14, 5));
         }},
        {"tally",
         [](QPainter& p, const QColor&) {
             strokeOnly(p);
             for (int i = 0; i < 4; ++i) p.drawLine(QPointF(2.5 + 3 * i, 2), QPointF(2.5 + 3 * i, 14));
             p.drawLine(QPointF(0.5, 12), QPointF(15.5, 4));
         }},
        {"moon",
         [](QPainter& p, const QColor& c) {
             p.setBrush(c);
             QPainterPath disc;
             disc.addEllipse(QPointF(8, 8), 7, 7);
             QPainterPath bite;
             bite.addEllipse(QPointF(11.5, 5.5), 6, 6);
             p.drawPath(disc.subtracted(bite));
         }},
        {"boat",
         [](QPainter& p, const QColor& c) {
             p.setBrush(c);
             p.drawPolygon(QPolygonF({QPointF(0.5, 10), QPointF(15.5, 10), QPointF(12.5, 14.5), QPointF(3.5, 14.5)}));
             strokeOnly(p);
             p.drawRect(QRectF(4.5, 5, 7, 5));
             p.drawLine(QPointF(8, 1), QPointF(8, 5));
         }},
        {"tray-arrow",
         [](QPainter& p, const QColor&) {
             strokeOnly(p);
             p.drawPolyline(QPolygonF({QPointF(1, 8), QPointF(1, 14.5), QPointF(15, 14.5), QPointF(15, 8)}));
             p.drawLine(QPointF(8, 1), QPointF(8, 10));
             p.drawPolyline(QPolygonF({QPointF(5, 7), QPointF(8, 10), QPointF(11, 7)}));
         }},
    };
    return table;
}

bool hasFonts() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

void paintText(QPainter& p, const QRectF& frame, const QString& text, bool fonts) {
    p.setPen(barText);
    if (fonts) {
        QFont font = p.font();
        font.setPixelSize(13);
        p.setFont(font);
        p.drawText(frame, Qt::AlignCenter, text);
        return;
    }
    // No fonts: a block per character, as wide as a character of 13 points is on average.
    constexpr double advance = 7.0;
    double x = frame.center().x() - advance * text.size() / 2;
    p.setPen(Qt::NoPen);
    p.setBrush(barText);
    for (QChar c : text) {
        if (!c.isSpace()) p.drawRect(QRectF(x + 1, frame.center().y() - 4.5, advance - 2, 9));
        x += advance;
    }
}

QString timeOfDay(const World&) {
    auto* loop = runtime::EventLoop::currentOrNull();
    double unix = loop ? loop->clock().date().timeIntervalSince1970() : 0;
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::floor(unix))).toString("ddd HH:mm");
}

std::uint32_t colourOf(const World& world, const StatusItem& item) {
    const auto* window = item.window ? world.windowServer().find(item.window) : nullptr;
    return window ? window->color : item.spec.iconColor;
}

// What the bar draws for the item: its button's image, else its text or the time of day, else
// its symbol in its colour. Only these fields of the result are set.
StatusWindowDrawing shownBy(const World& world, const StatusItem& item) {
    StatusWindowDrawing d;
    if (item.image && item.image->width() > 0 && item.image->height() > 0) {
        d.image = item.image;
        d.imageSize = item.imageSize;
    } else if (item.spec.showsTime || item.spec.text) {
        d.text = item.spec.showsTime ? timeOfDay(world).toStdString() : *item.spec.text;
        d.fonts = hasFonts();
    } else {
        d.symbol = symbols().count(item.spec.symbol) > 0 ? item.spec.symbol : "mark";
        d.colour = colourOf(world, item);
    }
    return d;
}

void paint(QPainter& p, const StatusWindowDrawing& d, const QRectF& frame, const StatusItemLook& look) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (look.highlighted) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 45));
        p.drawRoundedRect(frame.adjusted(1, 4, -1, -4), 5, 5);
    }
    if (d.image) {
        const auto& cg = *d.image;
        QImage bitmap(cg.pixels().data(), static_cast<int>(cg.width()), static_cast<int>(cg.height()),
                      static_cast<int>(cg.bytesPerRow()), QImage::Format_RGBA8888_Premultiplied);
        QSizeF size(d.imageSize.width, d.imageSize.height);
        QRectF target(frame.center().x() - size.width() / 2, frame.center().y() - size.height() / 2, size.width(),
                      size.height());
        p.drawImage(target, bitmap);
    } else if (d.text) {
        paintText(p, frame, QString::fromStdString(*d.text), d.fonts);
    } else {
        const QColor colour = rgba(d.colour);
        QPen pen(colour, 1.6);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.translate(frame.center().x() - 8, frame.center().y() - 8);
        symbols().at(d.symbol)(p, colour);
    }
    p.restore();
}

}  // namespace

const std::vector<std::string_view>& statusItemSymbols() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> out;
        for (const auto& [name, painter] : symbols()) out.push_back(name);
        return out;
    }();
    return names;
}

bool isStatusItemSymbol(std::string_view name) { return symbols().count(name) > 0; }

bool statusItemHighlighted(const World& world, const StatusItem& item) {
    return world.openMenuItem() == item.id || world.openPopoverItem() == item.id;
}

void paintStatusItem(QPainter& p, const World& world, const StatusItem& item, const QRectF& frame,
                     const StatusItemLook& look) {
    paint(p, shownBy(world, item), frame, look);
}

cg::ImageRef windowContentImage(const World& world, const Window& window, std::size_t width, std::size_t height,
                                const cg::Color& background) {
    if (width == 0 || height == 0) return nullptr;
    const StatusItem* item = window.statusItem ? world.statusItem(*window.statusItem) : nullptr;
    if (!item) return cg::filledImage(width, height, cg::over(cg::Color::fromRGBA(window.color), background));
    const cg::Rect bounds = window.bounds.standardized();
    StatusWindowDrawing drawing = shownBy(world, *item);
    drawing.width = width;
    drawing.height = height;
    drawing.points = bounds.size;
    drawing.background = background;
    // As a window server does: the window's backing store is copied until its drawing changes.
    auto& stores = world.windowServer().backingStores();
    if (auto kept = stores.find(window.number, drawing)) return kept;

    QImage canvas(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGBA8888_Premultiplied);
    const auto bg = background;
    canvas.fill(QColor::fromRgbF(static_cast<float>(bg.red), static_cast<float>(bg.green), static_cast<float>(bg.blue),
                                 static_cast<float>(bg.alpha)));
    {
        QPainter p(&canvas);
        if (bounds.width() > 0 && bounds.height() > 0)
            p.scale(static_cast<double>(width) / bounds.width(), static_cast<double>(height) / bounds.height());
        paint(p, drawing, QRectF(0, 0, bounds.width(), bounds.height()), {});
    }
    std::vector<std::uint8_t> pixels(width * height * 4);
    for (std::size_t y = 0; y < height; ++y)
        std::memcpy(pixels.data() + y * width * 4, canvas.constScanLine(static_cast<int>(y)), width * 4);
    auto image = std::make_shared<const cg::Image>(width, height, 8, cg::ColorSpace::deviceRGB(),
                                                   cg::ImageAlphaInfo::premultipliedLast, std::move(pixels));
    stores.noteDrawing();
    stores.keep(window.number, std::move(drawing), image);
    return image;
}

}  // namespace sim
