// Must not compile: the format has two specifiers and one argument.
#include "macos/os/Logger.hpp"
void f(const os::Logger& l) { l.info("%s and %s", "one"); }
