#pragma once

#include "macos/sim/Screen.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace sim {

// The attached screens in the platform's order (the first is the primary screen, which carries
// the origin of screen space) and the one with keyboard focus. Changes keep the primary screen at
// the origin, as the platform does, by moving every screen with it.
class ScreenSet {
public:
    using ScreenRef = std::shared_ptr<const Screen>;

    ScreenSet() = default;
    // Throws std::invalid_argument for a spec with a problem, a duplicate display number or a
    // main index out of range.
    ScreenSet(std::vector<ScreenSpec> specs, std::optional<std::size_t> mainIndex);

    const std::vector<ScreenRef>& screens() const { return screens_; }
    std::size_t size() const { return screens_.size(); }
    bool empty() const { return screens_.empty(); }
    ScreenRef primary() const { return screens_.empty() ? nullptr : screens_.front(); }
    // The screen with keyboard focus; none when there are no screens or none has focus.
    ScreenRef main() const;
    std::optional<std::size_t> mainIndex() const;
    ScreenRef withDisplayNumber(std::uint32_t displayNumber) const;

    // Each throws std::invalid_argument (index out of range, a bad spec, a duplicate display
    // number) and then changes nothing.
    void add(ScreenSpec spec, std::optional<std::size_t> at = std::nullopt);
    void remove(std::size_t index);
    void replace(std::size_t index, ScreenSpec spec);
    void moveTo(std::size_t index, cg::Point origin);
    void setMain(std::optional<std::size_t> index);

private:
    void check(const ScreenSpec& spec, std::optional<std::size_t> ignoring) const;
    void checkIndex(std::size_t index, const char* what) const;
    void keepPrimaryAtOrigin();

    std::vector<ScreenRef> screens_;
    std::optional<Screen::Key> mainKey_;
    Screen::Key nextKey_ = 1;
};

}  // namespace sim
