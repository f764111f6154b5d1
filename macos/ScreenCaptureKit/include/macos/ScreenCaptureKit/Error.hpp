#pragma once

#include "macos/Foundation/Error.hpp"

namespace sc {

// The screen-capture framework's errors: this domain, these codes.
inline constexpr const char* streamErrorDomain = "com.apple.ScreenCaptureKit.SCStreamErrorDomain";

namespace StreamError {
// No Screen Recording access.
inline constexpr long userDeclined = -3801;
// The screenshot could not be taken.
inline constexpr long failedToStart = -3802;
// A size or other parameter the framework cannot use.
inline constexpr long invalidParameter = -3812;
// The window server gave no window list.
inline constexpr long noWindowList = -3813;
// What the filter names is gone.
inline constexpr long noCaptureSource = -3815;
}  // namespace StreamError

ns::Error makeError(long code);

}  // namespace sc
