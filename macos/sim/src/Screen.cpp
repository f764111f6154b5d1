#include "macos/sim/Screen.hpp"

#include <cmath>

namespace sim {

cf::Value::Dictionary ScreenSpec::effectiveDeviceDescription() const {
    if (deviceDescription) return *deviceDescription;
    cf::Value::Dictionary description;
    if (displayNumber) description["NSScreenNumber"] = cf::Value(*displayNumber);
    return description;
}

ScreenSpec ScreenSpec::offsetBy(double dx, double dy) const {
    ScreenSpec moved = *this;
    moved.frame = frame.offsetBy(dx, dy);
    moved.visibleFrame = visibleFrame.offsetBy(dx, dy);
    if (auxiliaryTopLeftArea) moved.auxiliaryTopLeftArea = auxiliaryTopLeftArea->offsetBy(dx, dy);
    if (auxiliaryTopRightArea) moved.auxiliaryTopRightArea = auxiliaryTopRightArea->offsetBy(dx, dy);
    return moved;
}

namespace {

std::optional<FieldProblem> rectProblem(const cg::Rect& r, const std::string& name) {
    const std::pair<const char*, double> parts[] = {
        {"x", r.origin.x}, {"y", r.origin.y}, {"width", r.size.width}, {"height", r.size.height}};
    for (const auto& [part, value] : parts) {
        if (!std::isfinite(value)) return FieldProblem{name + "." + part, "expected a finite number"};
    }
    if (r.size.width < 0) return FieldProblem{name + ".width", "must not be negative"};
    if (r.size.height < 0) return FieldProblem{name + ".height", "must not be negative"};
    return std::nullopt;
}

}  // namespace

std::optional<FieldProblem> findProblem(const ScreenSpec& spec) {
    if (auto p = rectProblem(spec.frame, "frame")) return p;
    if (spec.frame.size.width <= 0) return FieldProblem{"frame.width", "must be positive"};
    if (spec.frame.size.height <= 0) return FieldProblem{"frame.height", "must be positive"};
    if (auto p = rectProblem(spec.visibleFrame, "visibleFrame")) return p;
    const std::pair<const char*, double> insets[] = {{"top", spec.safeAreaInsets.top},
                                                     {"left", spec.safeAreaInsets.left},
                                                     {"bottom", spec.safeAreaInsets.bottom},
                                                     {"right", spec.safeAreaInsets.right}};
    for (const auto& [edge, value] : insets) {
        std::string field = std::string("safeAreaInsets.") + edge;
        if (!std::isfinite(value)) return FieldProblem{field, "expected a finite number"};
        if (value < 0) return FieldProblem{field, "must not be negative"};
    }
    if (spec.auxiliaryTopLeftArea) {
        if (auto p = rectProblem(*spec.auxiliaryTopLeftArea, "auxiliaryTopLeftArea")) return p;
    }
    if (spec.auxiliaryTopRightArea) {
        if (auto p = rectProblem(*spec.auxiliaryTopRightArea, "auxiliaryTopRightArea")) return p;
    }
    if (!std::isfinite(spec.backingScaleFactor) || spec.backingScaleFactor <= 0)
        return FieldProblem{"backingScaleFactor", "must be a positive number"};
    return std::nullopt;
}

}  // namespace sim
