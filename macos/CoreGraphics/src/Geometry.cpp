#include "macos/CoreGraphics/Geometry.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>

namespace cg {

namespace {
constexpr Float inf = std::numeric_limits<Float>::infinity();
constexpr Float big = std::numeric_limits<Float>::max() / 2;
}  // namespace

Rect Rect::null() { return Rect{inf, inf, 0, 0}; }
Rect Rect::infinite() { return Rect{-big, -big, std::numeric_limits<Float>::max(), std::numeric_limits<Float>::max()}; }

bool Rect::isNull() const { return std::isinf(origin.x) && origin.x > 0 && std::isinf(origin.y) && origin.y > 0; }
bool Rect::isEmpty() const { return isNull() || size.width == 0 || size.height == 0; }
bool Rect::isInfinite() const { return *this == infinite(); }

Rect Rect::standardized() const {
    if (isNull()) return *this;
    Rect r = *this;
    if (r.size.width < 0) {
        r.origin.x += r.size.width;
        r.size.width = -r.size.width;
    }
    if (r.size.height < 0) {
        r.origin.y += r.size.height;
        r.size.height = -r.size.height;
    }
    return r;
}

Float Rect::minX() const { return standardized().origin.x; }
Float Rect::minY() const { return standardized().origin.y; }
Float Rect::maxX() const {
    auto s = standardized();
    return s.origin.x + s.size.width;
}
Float Rect::maxY() const {
    auto s = standardized();
    return s.origin.y + s.size.height;
}
Float Rect::midX() const {
    auto s = standardized();
    return s.origin.x + s.size.width / 2;
}
Float Rect::midY() const {
    auto s = standardized();
    return s.origin.y + s.size.height / 2;
}
Float Rect::width() const { return std::fabs(size.width); }
Float Rect::height() const { return std::fabs(size.height); }

bool Rect::contains(Point p) const {
    if (isNull()) return false;
    return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
}

bool Rect::contains(const Rect& r) const {
    if (isNull() || r.isNull()) return false;
    return r.minX() >= minX() && r.maxX() <= maxX() && r.minY() >= minY() && r.maxY() <= maxY();
}

Rect Rect::intersection(const Rect& r) const {
    if (isNull() || r.isNull()) return null();
    Float x0 = std::max(minX(), r.minX());
    Float x1 = std::min(maxX(), r.maxX());
    Float y0 = std::max(minY(), r.minY());
    Float y1 = std::min(maxY(), r.maxY());
    // Rectangles that only touch share no area: the platform calls that no intersection.
    if (!(x0 < x1) || !(y0 < y1)) return null();
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

bool Rect::intersects(const Rect& r) const { return !intersection(r).isNull(); }

Rect Rect::unionWith(const Rect& r) const {
    if (isNull()) return r.standardized();
    if (r.isNull()) return standardized();
    Float x0 = std::min(minX(), r.minX());
    Float y0 = std::min(minY(), r.minY());
    return Rect{x0, y0, std::max(maxX(), r.maxX()) - x0, std::max(maxY(), r.maxY()) - y0};
}

Rect Rect::offsetBy(Float dx, Float dy) const {
    if (isNull()) return *this;
    auto s = standardized();
    return Rect{s.origin.x + dx, s.origin.y + dy, s.size.width, s.size.height};
}

Rect Rect::insetBy(Float dx, Float dy) const {
    if (isNull()) return *this;
    auto s = standardized();
    Rect r{s.origin.x + dx, s.origin.y + dy, s.size.width - 2 * dx, s.size.height - 2 * dy};
    if (r.size.width < 0 || r.size.height < 0) return null();
    return r;
}

std::string describe(Float value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    std::string text = fmt::format("{}", value);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

std::string describe(Point p) { return fmt::format("({}, {})", describe(p.x), describe(p.y)); }
std::string describe(Size s) { return fmt::format("({}, {})", describe(s.width), describe(s.height)); }

std::string describe(const Rect& r) {
    return fmt::format("({}, {}, {}, {})", describe(r.origin.x), describe(r.origin.y), describe(r.size.width),
                       describe(r.size.height));
}

std::ostream& operator<<(std::ostream& os, const Rect& r) { return os << describe(r); }

}  // namespace cg
