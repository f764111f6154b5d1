#include "ProcessFigures.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace desktop {

ProcessFigures ProcessFigures::now() {
    ProcessFigures figures;
    // The process's own figures hold its ended threads' share too.
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) == 0) {
        using std::chrono::microseconds, std::chrono::seconds;
        figures.cpu = seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
        figures.voluntarySwitches = static_cast<std::uint64_t>(usage.ru_nvcsw);
    }
    // Resident memory as the kernel reports it for the process, now and at its highest.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        std::uint64_t* field = line.starts_with("VmRSS:")   ? &figures.residentKiB
                               : line.starts_with("VmHWM:") ? &figures.peakResidentKiB
                                                            : nullptr;
        if (field) *field = std::strtoull(line.c_str() + 6, nullptr, 10);
    }
    return figures;
}

std::string stepBeginsLine(int line, std::chrono::duration<double> sinceStart, const ProcessFigures& figures,
                           std::uint64_t loopWakes) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "measure: line %d begins after %.3f s: CPU %.3f s, %llu voluntary context switches, loop woke "
                  "%llu times, %llu kB resident (peak %llu kB)\n",
                  line, sinceStart.count(), std::chrono::duration<double>(figures.cpu).count(),
                  static_cast<unsigned long long>(figures.voluntarySwitches),
                  static_cast<unsigned long long>(loopWakes), static_cast<unsigned long long>(figures.residentKiB),
                  static_cast<unsigned long long>(figures.peakResidentKiB));
    return text;
}

}  // namespace desktop
