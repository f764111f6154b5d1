#pragma once

#include "Models/MenuBarItemID.hpp"
#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/CoreGraphics/Image.hpp"
#include "stashbay/runtime/Time.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace stashbay {

// One detected status item as one scan saw it. Immutable: a changed item is a new record.
// Equality and hashing use the identity only, so comparing item lists compares identities.
class MenuBarItem {
public:
    MenuBarItem(MenuBarItemID id, std::int32_t ownerPID, std::optional<std::string> ownerBundleID,
                std::string ownerName, std::optional<std::string> title, cg::Point position, cg::Size size,
                std::uint32_t windowID, bool isEnabled, bool isVerified, bool isOnScreen, cg::ImageRef capturedImage,
                runtime::Date lastSeen)
        : MenuBarItem(
              std::move(id), ownerPID,
              ownerBundleID ? std::make_shared<const std::optional<std::string>>(std::move(ownerBundleID)) : nullptr,
              std::move(ownerName), std::move(title), position, size, windowID, isEnabled, isVerified, isOnScreen,
              std::move(capturedImage), lastSeen) {}
    // The same with the owner's bundle text shared, as the identity shares it.
    MenuBarItem(MenuBarItemID id, std::int32_t ownerPID, MenuBarItemID::SharedBundleID ownerBundleID,
                std::string ownerName, std::optional<std::string> title, cg::Point position, cg::Size size,
                std::uint32_t windowID, bool isEnabled, bool isVerified, bool isOnScreen, cg::ImageRef capturedImage,
                runtime::Date lastSeen)
        : id_(std::move(id)),
          ownerPID_(ownerPID),
          ownerBundleID_(ownerBundleID && *ownerBundleID ? std::move(ownerBundleID) : nullptr),
          ownerName_(std::move(ownerName)),
          title_(std::move(title)),
          position_(position),
          size_(size),
          windowID_(windowID),
          isEnabled_(isEnabled),
          isVerified_(isVerified),
          isOnScreen_(isOnScreen),
          capturedImage_(std::move(capturedImage)),
          lastSeen_(lastSeen) {}

    const MenuBarItemID& id() const { return id_; }
    std::int32_t ownerPID() const { return ownerPID_; }
    const std::optional<std::string>& ownerBundleID() const {
        static const std::optional<std::string> none;
        return ownerBundleID_ ? *ownerBundleID_ : none;
    }
    const std::string& ownerName() const { return ownerName_; }
    const std::optional<std::string>& title() const { return title_; }
    // Top-left corner in window-server space (y grows down), in points.
    cg::Point position() const { return position_; }
    cg::Size size() const { return size_; }
    // The status window's number; 0 when no window was matched.
    std::uint32_t windowID() const { return windowID_; }
    bool isEnabled() const { return isEnabled_; }
    // Matched to a window of the window server's list.
    bool isVerified() const { return isVerified_; }
    bool isOnScreen() const { return isOnScreen_; }
    // Null when no image was captured; shared, never copied.
    const cg::ImageRef& capturedImage() const { return capturedImage_; }
    runtime::Date lastSeen() const { return lastSeen_; }

    // The title when present and not empty (blanks count as a title), else the owner's name.
    const std::string& displayName() const;
    // A copy with another captured image; every other field, `lastSeen` included, unchanged.
    MenuBarItem withCapturedImage(cg::ImageRef image) const& {
        MenuBarItem copy = *this;
        copy.capturedImage_ = std::move(image);
        return copy;
    }
    // The same from an item about to be dropped, without copying its texts.
    MenuBarItem withCapturedImage(cg::ImageRef image) && {
        capturedImage_ = std::move(image);
        return std::move(*this);
    }
    // Origin `position`, size `size`, in window-server space.
    cg::Rect bounds() const { return cg::Rect(position_, size_); }

    friend bool operator==(const MenuBarItem& a, const MenuBarItem& b) { return a.id_ == b.id_; }

private:
    MenuBarItemID id_;
    std::int32_t ownerPID_;
    MenuBarItemID::SharedBundleID ownerBundleID_;
    std::string ownerName_;
    std::optional<std::string> title_;
    cg::Point position_;
    cg::Size size_;
    std::uint32_t windowID_;
    bool isEnabled_;
    bool isVerified_;
    bool isOnScreen_;
    cg::ImageRef capturedImage_;
    runtime::Date lastSeen_;
};

}  // namespace stashbay

template <>
struct std::hash<stashbay::MenuBarItem> {
    std::size_t operator()(const stashbay::MenuBarItem& item) const noexcept {
        return std::hash<stashbay::MenuBarItemID>{}(item.id());
    }
};
