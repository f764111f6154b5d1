#include "macos/sim/ProcessTable.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <stdexcept>

namespace sim {

ProcessTable::ProcessRef ProcessTable::find(ProcessID pid) const {
    auto it = byPid_.find(pid);
    if (it == byPid_.end() || it->second->isTerminated()) return nullptr;
    return it->second;
}

bool ProcessTable::contains(const Process& process) const {
    return std::any_of(listed_.begin(), listed_.end(), [&](const ProcessRef& p) { return p.get() == &process; });
}

ProcessTable::ProcessRef ProcessTable::running(const Process& process) const {
    for (const auto& p : listed_) {
        if (p.get() == &process && !p->isTerminated()) return p;
    }
    return nullptr;
}

bool ProcessTable::UsedIds::contains(ProcessID pid) const {
    auto after = runs_.upper_bound(pid);
    return after != runs_.begin() && pid <= std::prev(after)->second;
}

void ProcessTable::UsedIds::insert(ProcessID pid) {
    if (contains(pid)) return;
    auto next = runs_.upper_bound(pid);
    const bool joinsNext = next != runs_.end() && static_cast<std::int64_t>(next->first) == std::int64_t{pid} + 1;
    if (next != runs_.begin()) {
        auto previous = std::prev(next);
        if (static_cast<std::int64_t>(previous->second) + 1 == pid) {
            previous->second = joinsNext ? next->second : pid;
            if (joinsNext) runs_.erase(next);
            return;
        }
    }
    if (joinsNext) {
        ProcessID last = next->second;
        runs_.erase(next);
        runs_.emplace(pid, last);
    } else {
        runs_.emplace(pid, pid);
    }
}

ProcessID ProcessTable::freePid() const {
    if (highestPid_ < std::numeric_limits<ProcessID>::max()) return highestPid_ + 1;
    for (ProcessID pid = 1;; ++pid) {
        if (!usedPids_.contains(pid)) return pid;
    }
}

ProcessTable::ProcessRef ProcessTable::launch(ProcessSpec spec) {
    if (!spec.pid) spec.pid = freePid();
    ProcessID pid = *spec.pid;
    if (pid <= 0) throw std::invalid_argument(fmt::format("launch: process id {} is not positive", pid));
    if (usedPids_.contains(pid)) {
        throw std::invalid_argument(fmt::format("launch: process id {} is in use", pid));
    }
    usedPids_.insert(pid);
    highestPid_ = std::max(highestPid_, pid);
    auto process = std::make_shared<Process>(pid, std::move(spec));
    listed_.push_back(process);
    byPid_.emplace(pid, process);
    return process;
}

bool ProcessTable::finishLaunching(ProcessID pid) {
    auto process = find(pid);
    if (!process || process->finishedLaunching_) return false;
    process->finishedLaunching_ = true;
    return true;
}

ProcessTable::ProcessRef ProcessTable::terminate(ProcessID pid) {
    auto process = find(pid);
    if (!process) return nullptr;
    process->terminated_ = true;
    std::erase(listed_, process);
    byPid_.erase(pid);
    if (frontmost_ == pid) frontmost_.reset();
    return process;
}

bool ProcessTable::activate(const Process& process, std::uint32_t options) {
    auto p = running(process);
    requests_.push_back({ApplicationRequest::Kind::activate, process.pid(), options, p != nullptr});
    if (!p) return false;
    frontmost_ = p->pid();
    p->hidden_ = false;
    return true;
}

bool ProcessTable::unhide(const Process& process) {
    auto p = running(process);
    requests_.push_back({ApplicationRequest::Kind::unhide, process.pid(), 0, p != nullptr});
    if (!p) return false;
    p->hidden_ = false;
    return true;
}

bool ProcessTable::setHidden(ProcessID pid, bool hidden) {
    auto p = find(pid);
    if (!p) return false;
    p->hidden_ = hidden;
    return true;
}

}  // namespace sim
