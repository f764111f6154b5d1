#pragma once

#include <functional>
#include <utility>

namespace sim {

// The system alert sound: how often an application played it, and who hears it (the desktop
// window plays it aloud; tests count it).
class AlertSounds {
public:
    void play() {
        ++count_;
        if (listener_) listener_();
    }
    int count() const { return count_; }
    void setListener(std::function<void()> listener) { listener_ = std::move(listener); }

private:
    int count_ = 0;
    std::function<void()> listener_;
};

}  // namespace sim
