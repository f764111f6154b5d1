// Runs the started state for a span of virtual time on worlds picked by seeds, checking its
// invariants after every scan; prints the figures of each run, or the seed and the command that
// reproduces a failure.
#include "SoakRun.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: stashbay_soak [--seed N]... [--hours H | --minutes M] [--replay] [--progress]\n"
                 "  --replay runs the first seed twice and compares the records\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::uint64_t> seeds;
    double seconds = 3600.0;
    bool replay = false;
    bool progress = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--seed") {
            const char* v = value();
            if (!v) return usage();
            seeds.push_back(std::strtoull(v, nullptr, 10));
        } else if (arg == "--hours" || arg == "--minutes") {
            const char* v = value();
            if (!v) return usage();
            seconds = std::strtod(v, nullptr) * (arg == "--hours" ? 3600.0 : 60.0);
        } else if (arg == "--replay") {
            replay = true;
        } else if (arg == "--progress") {
            progress = true;
        } else {
            return usage();
        }
    }
    if (seeds.empty()) seeds.push_back(1);
    if (seconds <= 0) return usage();

    char span[32];
    std::snprintf(span, sizeof span, "%g", seconds / 3600.0);
    int failures = 0;
    for (std::size_t n = 0; n < seeds.size(); ++n) {
        const auto seed = seeds[n];
        stashbay::soak::SoakOptions options{seed, seconds, progress};
        auto result = stashbay::soak::runSoak(options);
        std::printf(
            "seed %llu: %zu scans, %zu records (hash %016llx), %zu drags, %zu launches, %zu quits, "
            "%zu screen changes, %zu burst events; max snapshot %zu, sections %zu, absence counters %zu, "
            "image cache %zu, arrangement %zu, world items %zu, tracked %zu; RSS %s KiB after 1 h, %ld KiB "
            "at end; %.1f s wall\n",
            static_cast<unsigned long long>(seed), result.scans, result.records,
            static_cast<unsigned long long>(result.recordHash), result.drags, result.launches, result.quits,
            result.screenChanges, result.burstEvents, result.maxSnapshot, result.maxSections, result.maxAbsenceCounters,
            result.maxImageCache, result.maxArrangement, result.maxWorldItems, result.maxTracked,
            result.rssAfterFirstHourKiB ? std::to_string(*result.rssAfterFirstHourKiB).c_str() : "-", result.rssEndKiB,
            result.wallSeconds);
        if (result.failure.empty() && replay && n == 0) {
            auto again = stashbay::soak::runSoak(options);
            if (again.recordHash != result.recordHash || again.records != result.records)
                result.failure =
                    "a second run of the same seed wrote other records (" + std::to_string(again.records) + " records)";
            else
                std::printf("seed %llu replayed: the same %zu records\n", static_cast<unsigned long long>(seed),
                            result.records);
        }
        if (!result.failure.empty()) {
            ++failures;
            std::fprintf(stderr, "FAILED seed %llu: %s\nreproduce with: %s --seed %llu --hours %s\n",
                         static_cast<unsigned long long>(seed), result.failure.c_str(), argv[0],
                         static_cast<unsigned long long>(seed), span);
        }
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}
