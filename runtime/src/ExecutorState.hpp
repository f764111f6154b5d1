#pragma once

#include "stashbay/runtime/Executor.hpp"

#include <coroutine>
#include <memory>

namespace runtime::detail {

extern thread_local Executor* tCurrentExecutor;
extern thread_local std::shared_ptr<TaskContext> tCurrentContext;

// The trampoline of the running job: whether one runs, and the coroutine it resumes next.
extern thread_local bool tTrampolineActive;
extern thread_local std::coroutine_handle<> tTrampolineNext;

}  // namespace runtime::detail
