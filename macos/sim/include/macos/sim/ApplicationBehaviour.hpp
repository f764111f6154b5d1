#pragma once

#include "stashbay/runtime/Time.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace sim {

// How an application answers the accessibility interface and the events sent to it.
struct ApplicationBehaviour {
    // The application does not answer: every accessibility call waits the messaging timeout
    // and fails with "cannot complete", and it never drains its event queue.
    bool hung = false;
    // Virtual time each accessibility call into the application takes.
    runtime::Duration accessibilityCallCost{0};
    // Reads of these attributes fail with the given accessibility error code.
    std::map<std::string, std::int32_t> attributeErrors;
    // Every attribute read fails with this code.
    std::optional<std::int32_t> allAttributesError;

    friend bool operator==(const ApplicationBehaviour&, const ApplicationBehaviour&) = default;
};

}  // namespace sim
