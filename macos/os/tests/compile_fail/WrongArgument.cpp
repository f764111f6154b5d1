// Must not compile: "%d" takes a 32-bit integer, not text.
#include "macos/os/Logger.hpp"
void f(const os::Logger& l) { l.info("pid %d", "not a number"); }
