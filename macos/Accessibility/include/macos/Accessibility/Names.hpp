#pragma once

namespace ax {

// The attribute, action, role and subrole names that the stand-in answers to.
namespace attribute {
inline constexpr const char* role = "AXRole";
inline constexpr const char* subrole = "AXSubrole";
inline constexpr const char* title = "AXTitle";
inline constexpr const char* enabled = "AXEnabled";
inline constexpr const char* position = "AXPosition";
inline constexpr const char* size = "AXSize";
inline constexpr const char* children = "AXChildren";
inline constexpr const char* extrasMenuBar = "AXExtrasMenuBar";
inline constexpr const char* menuItemMarkChar = "AXMenuItemMarkChar";
}  // namespace attribute

namespace action {
inline constexpr const char* press = "AXPress";
inline constexpr const char* showMenu = "AXShowMenu";
}  // namespace action

namespace role {
inline constexpr const char* application = "AXApplication";
inline constexpr const char* menuBar = "AXMenuBar";
inline constexpr const char* menuBarItem = "AXMenuBarItem";
inline constexpr const char* menu = "AXMenu";
inline constexpr const char* menuItem = "AXMenuItem";
}  // namespace role

namespace subrole {
inline constexpr const char* menuExtra = "AXMenuExtra";
inline constexpr const char* separatorMenuItem = "AXSeparatorMenuItem";
}  // namespace subrole

}  // namespace ax
