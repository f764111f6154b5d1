// Must not compile: "%d" is 32 bits wide; a 64-bit count needs "%ld".
#include <cstdint>
#include "macos/os/Logger.hpp"
void f(const os::Logger& l) { l.info("count %d", std::int64_t{1}); }
