#pragma once

#include <iosfwd>
#include <string>

namespace cg {

using Float = double;

struct Point {
    Float x = 0;
    Float y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    Float width = 0;
    Float height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// A rectangle with the platform's semantics: the min/mid/max readings and the set operations
// work on the standardised rectangle (negative sizes flipped), containment includes the min
// edges and excludes the max edges, and the null rectangle is the empty set.
struct Rect {
    Point origin;
    Size size;

    Rect() = default;
    Rect(Point o, Size s) : origin(o), size(s) {}
    Rect(Float x, Float y, Float width, Float height) : origin{x, y}, size{width, height} {}

    static Rect null();
    static Rect zero() { return {}; }
    // The rectangle that contains everything.
    static Rect infinite();

    bool isNull() const;
    bool isEmpty() const;
    bool isInfinite() const;
    Rect standardized() const;

    Float minX() const;
    Float midX() const;
    Float maxX() const;
    Float minY() const;
    Float midY() const;
    Float maxY() const;
    Float width() const;
    Float height() const;

    bool contains(Point p) const;
    bool contains(const Rect& r) const;
    bool intersects(const Rect& r) const;
    // The null rectangle when the two do not intersect.
    Rect intersection(const Rect& r) const;
    Rect unionWith(const Rect& r) const;
    Rect offsetBy(Float dx, Float dy) const;
    Rect insetBy(Float dx, Float dy) const;

    // Memberwise: the platform's equality of two rectangles as stored.
    friend bool operator==(const Rect&, const Rect&) = default;
};

// A number as the platform's debug descriptions print it: the shortest text that reads back as
// the same double, with ".0" after whole numbers ("662.0", "0.5", "-1920.0").
std::string describe(Float value);
// "(x, y)" in that style.
std::string describe(Point p);
// "(width, height)".
std::string describe(Size s);
// The debug description of a rectangle, "(662.0, 945.0, 188.0, 37.0)".
std::string describe(const Rect& r);
// Writes the debug description, so that test failures show rectangles readably.
std::ostream& operator<<(std::ostream& os, const Rect& r);

}  // namespace cg
