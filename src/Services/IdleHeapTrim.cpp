#include "Services/IdleHeapTrim.hpp"

#include "stashbay/runtime/Sleep.hpp"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace stashbay {

IdleHeapTrim::Heap IdleHeapTrim::processHeap() {
#if defined(__GLIBC__)
    return {[] { return mallinfo2().fordblks; }, [](std::size_t keep) { malloc_trim(keep); }};
#else
    return {[] { return std::size_t{0}; }, [](std::size_t) {}};
#endif
}

const std::shared_ptr<IdleHeapTrim>& IdleHeapTrim::shared() {
    static const auto trim = std::make_shared<IdleHeapTrim>(processHeap());
    return trim;
}

void IdleHeapTrim::scannerGoesIdle() {
    const auto now = runtime::now().sinceEpoch.count();
    const auto interval = lookInterval.count();
    auto next = nextLook_.load();
    if (now < next && next - now <= interval) return;
    if (!nextLook_.compare_exchange_strong(next, now + interval)) return;
    if (heap_.freeBytes() > keptFree) heap_.trim(keptFree);
}

}  // namespace stashbay
