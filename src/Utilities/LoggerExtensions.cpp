#include "Utilities/LoggerExtensions.hpp"

#include "stashbay/BuildInfo.hpp"

namespace stashbay::log {

namespace {
// Fixed at build time: the bundle identifier is never read from the bundle for logging.
const char* const subsystem = build::bundleIdentifier;
}  // namespace

#define STASHBAY_CATEGORY(name)                           \
    const os::Logger& name() {                            \
        static const os::Logger logger{subsystem, #name}; \
        return logger;                                    \
    }

STASHBAY_CATEGORY(scanning)
STASHBAY_CATEGORY(accessibility)
STASHBAY_CATEGORY(permissions)
STASHBAY_CATEGORY(display)
STASHBAY_CATEGORY(eventTap)
STASHBAY_CATEGORY(persistence)
STASHBAY_CATEGORY(interaction)
STASHBAY_CATEGORY(appLifecycle)

#undef STASHBAY_CATEGORY

os::Logger componentLogger(std::string category) { return os::Logger{subsystem, std::move(category)}; }

}  // namespace stashbay::log
