// Must compile: keeps the compile-failure tests honest.
#include <cstdint>
#include "macos/os/Logger.hpp"
void f(const os::Logger& l) { l.info("count %ld pid %d %{bool}d %{public}s", std::int64_t{1}, 2, true, "x"); }
