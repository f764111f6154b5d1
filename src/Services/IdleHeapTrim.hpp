#pragma once

#include "stashbay/runtime/Time.hpp"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>

namespace stashbay {

// Kept between scans, the heap also keeps the largest peak it ever reached (a burst of events, a
// crowded bar) resident for good. Once a minute at most, as the scanner goes idle, any free heap
// beyond what scans reuse goes back to the system: the trim costs once in thirty scans at most.
class IdleHeapTrim {
public:
    static constexpr runtime::Duration lookInterval = std::chrono::seconds(60);
    static constexpr std::size_t keptFree = 1 << 20;

    // A heap as the trim sees it: its free bytes, and the trim that keeps `keep` of them.
    struct Heap {
        std::function<std::size_t()> freeBytes;
        std::function<void(std::size_t keep)> trim;
    };
    // The process's heap: glibc's allocator; without glibc nothing is free to trim.
    static Heap processHeap();
    // The one over the process's heap, which every scanner shares.
    static const std::shared_ptr<IdleHeapTrim>& shared();

    explicit IdleHeapTrim(Heap heap) : heap_(std::move(heap)) {}

    // A scanner goes idle now, on the loop's clock: the first look, or the first a minute after
    // the last, trims what is free beyond `keptFree`. A clock that starts again looks at once.
    void scannerGoesIdle();

private:
    Heap heap_;
    // The next look, as a count of the loop's clock.
    std::atomic<runtime::Duration::rep> nextLook_{std::numeric_limits<runtime::Duration::rep>::min()};
};

}  // namespace stashbay
