#pragma once

#include "stashbay/runtime/Time.hpp"

#include <functional>

namespace dispatch {

// A dispatch queue. Only the main queue exists here: its blocks run as jobs of the main
// executor on the runtime's loop.
class Queue {
public:
    static Queue& main();

    // Runs `block` on the main queue after `delay` on the continuous clock (default quality of
    // service, no flags). It is never run inline, not even for a delay of zero.
    void asyncAfter(runtime::Duration delay, std::function<void()> block);
    void async(std::function<void()> block);

private:
    Queue() = default;
};

}  // namespace dispatch
