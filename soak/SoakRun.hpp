#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace stashbay::soak {

struct SoakOptions {
    std::uint64_t seed = 1;
    // Virtual time to run, in seconds.
    double seconds = 3600.0;
    // Prints a line per virtual hour.
    bool progress = false;
};

// What one run saw. `failure` is empty when every invariant held.
struct SoakResult {
    std::string failure;
    // Every record the run wrote, folded in order: the same seed gives the same value.
    std::uint64_t recordHash = 0;
    std::size_t records = 0;
    std::size_t scans = 0;
    std::size_t drags = 0;
    std::size_t launches = 0;
    std::size_t quits = 0;
    std::size_t screenChanges = 0;
    std::size_t burstEvents = 0;
    // The largest sizes seen at any check.
    std::size_t maxSnapshot = 0;
    std::size_t maxSections = 0;
    std::size_t maxAbsenceCounters = 0;
    std::size_t maxImageCache = 0;
    std::size_t maxArrangement = 0;
    std::size_t maxWorldItems = 0;
    std::size_t maxTracked = 0;
    // Resident memory in KiB after the first virtual hour and at the end (none before an hour).
    std::optional<long> rssAfterFirstHourKiB;
    long rssEndKiB = 0;
    double wallSeconds = 0.0;
};

// Runs the started state on a world the seed picks, under a schedule the seed picks, checking
// the invariants after every scan. Uses the process's one world and log store: one run at a time.
SoakResult runSoak(const SoakOptions& options);

}  // namespace stashbay::soak
