#pragma once

#include "stashbay/runtime/Executor.hpp"

#include <memory>

namespace runtime::detail {

extern thread_local Executor* tCurrentExecutor;
extern thread_local std::shared_ptr<TaskContext> tCurrentContext;

}  // namespace runtime::detail
