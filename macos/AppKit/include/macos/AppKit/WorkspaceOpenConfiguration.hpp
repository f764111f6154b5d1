#pragma once

#include "macos/AppKit/RunningApplication.hpp"
#include "macos/Foundation/Error.hpp"

#include <functional>
#include <memory>
#include <optional>

namespace ns {

// How the workspace opens an address. The defaults are what the app uses; the world does not
// look at them.
struct WorkspaceOpenConfiguration {
    bool activates = true;
};

// What an open request reports: the application that opened the address (the world launches
// none for it, so this is null) and, when it failed, the error.
using WorkspaceOpenCompletion = std::function<void(std::shared_ptr<RunningApplication>, std::optional<Error>)>;

// The platform's status domain, in which opening an address reports its failures.
inline constexpr const char* osStatusErrorDomain = "NSOSStatusErrorDomain";

}  // namespace ns
