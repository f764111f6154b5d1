#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace desktop {

// The whole process's use of the machine so far, every thread counted, the ones that have ended
// included: Qt's pool threads come and go, and a sample of the living threads would miss them.
struct ProcessFigures {
    // User and system time.
    std::chrono::microseconds cpu{0};
    // Times a thread gave up the processor to wait: each is a wake-up to come.
    std::uint64_t voluntarySwitches = 0;
    // Resident memory now and at its highest.
    std::uint64_t residentKiB = 0;
    std::uint64_t peakResidentKiB = 0;

    static ProcessFigures now();
};

// The line --measure prints as a script's step begins, which measure.sh follows, e.g.
// "measure: line 9 begins after 14.021 s: CPU 1.523 s, 1234 voluntary context switches, loop woke
// 345 times, 45678 kB resident (peak 50000 kB)". Its numbers keep this order.
std::string stepBeginsLine(int line, std::chrono::duration<double> sinceStart, const ProcessFigures& figures,
                           std::uint64_t loopWakes);

}  // namespace desktop
