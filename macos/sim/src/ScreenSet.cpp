#include "macos/sim/ScreenSet.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

namespace sim {

ScreenSet::ScreenSet(std::vector<ScreenSpec> specs, std::optional<std::size_t> mainIndex) {
    for (auto& spec : specs) {
        check(spec, std::nullopt);
        screens_.push_back(std::make_shared<const Screen>(nextKey_++, std::move(spec)));
    }
    setMain(mainIndex);
    keepPrimaryAtOrigin();
}

ScreenSet::ScreenRef ScreenSet::main() const {
    if (!mainKey_) return nullptr;
    for (const auto& s : screens_) {
        if (s->key() == *mainKey_) return s;
    }
    return nullptr;
}

std::optional<std::size_t> ScreenSet::mainIndex() const {
    if (!mainKey_) return std::nullopt;
    for (std::size_t i = 0; i < screens_.size(); ++i) {
        if (screens_[i]->key() == *mainKey_) return i;
    }
    return std::nullopt;
}

ScreenSet::ScreenRef ScreenSet::withDisplayNumber(std::uint32_t displayNumber) const {
    for (const auto& s : screens_) {
        if (s->spec().displayNumber == displayNumber) return s;
    }
    return nullptr;
}

void ScreenSet::check(const ScreenSpec& spec, std::optional<std::size_t> ignoring) const {
    if (auto problem = findProblem(spec)) {
        throw std::invalid_argument(fmt::format("screen {}: {}", problem->field, problem->message));
    }
    if (!spec.displayNumber) return;
    for (std::size_t i = 0; i < screens_.size(); ++i) {
        if (ignoring == i) continue;
        if (screens_[i]->spec().displayNumber == spec.displayNumber) {
            throw std::invalid_argument(fmt::format("screen displayNumber: {} is in use", *spec.displayNumber));
        }
    }
}

void ScreenSet::checkIndex(std::size_t index, const char* what) const {
    if (index >= screens_.size()) {
        throw std::invalid_argument(fmt::format("{}: no screen at index {} of {}", what, index, screens_.size()));
    }
}

void ScreenSet::add(ScreenSpec spec, std::optional<std::size_t> at) {
    std::size_t position = at.value_or(screens_.size());
    if (position > screens_.size()) {
        throw std::invalid_argument(fmt::format("add: position {} is past the end ({})", position, screens_.size()));
    }
    check(spec, std::nullopt);
    bool wasEmpty = screens_.empty();
    auto screen = std::make_shared<const Screen>(nextKey_++, std::move(spec));
    screens_.insert(screens_.begin() + static_cast<std::ptrdiff_t>(position), screen);
    // The first screen to appear takes the keyboard focus.
    if (wasEmpty) mainKey_ = screen->key();
    keepPrimaryAtOrigin();
}

void ScreenSet::remove(std::size_t index) {
    checkIndex(index, "remove");
    bool wasMain = mainKey_ == screens_[index]->key();
    screens_.erase(screens_.begin() + static_cast<std::ptrdiff_t>(index));
    if (wasMain) {
        // Focus moves to the primary screen, if one is left.
        mainKey_.reset();
        if (!screens_.empty()) mainKey_ = screens_.front()->key();
    }
    keepPrimaryAtOrigin();
}

void ScreenSet::replace(std::size_t index, ScreenSpec spec) {
    checkIndex(index, "replace");
    check(spec, index);
    screens_[index] = std::make_shared<const Screen>(screens_[index]->key(), std::move(spec));
    keepPrimaryAtOrigin();
}

void ScreenSet::moveTo(std::size_t index, cg::Point origin) {
    checkIndex(index, "moveTo");
    const auto& spec = screens_[index]->spec();
    auto moved = spec.offsetBy(origin.x - spec.frame.origin.x, origin.y - spec.frame.origin.y);
    check(moved, index);
    screens_[index] = std::make_shared<const Screen>(screens_[index]->key(), std::move(moved));
    keepPrimaryAtOrigin();
}

void ScreenSet::setMain(std::optional<std::size_t> index) {
    if (!index) {
        mainKey_.reset();
        return;
    }
    checkIndex(*index, "setMain");
    mainKey_ = screens_[*index]->key();
}

void ScreenSet::keepPrimaryAtOrigin() {
    if (screens_.empty()) return;
    auto origin = screens_.front()->spec().frame.origin;
    if (origin.x == 0 && origin.y == 0) return;
    for (auto& s : screens_) {
        s = std::make_shared<const Screen>(s->key(), s->spec().offsetBy(-origin.x, -origin.y));
    }
}

}  // namespace sim
