#include "SoakRun.hpp"

#include "App/AppState.hpp"
#include "Models/IconArrangement.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/os/Logger.hpp"
#include "macos/sim/UserGesture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace stashbay::soak {

namespace {

using namespace std::chrono_literals;
using runtime::Duration;
using runtime::Instant;
using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

long residentKiB() {
    std::ifstream in("/proc/self/statm");
    long size = 0;
    long resident = 0;
    in >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// FNV-1a, with a separator after every field.
struct RecordHash {
    std::uint64_t value = 1469598103934665603ull;
    void add(std::string_view bytes) {
        for (unsigned char c : bytes) mix(c);
        mix(0xff);
    }
    void add(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) mix(static_cast<unsigned char>(v >> (8 * i)));
    }

private:
    void mix(unsigned char c) {
        value ^= c;
        value *= 1099511628211ull;
    }
};

class Failure : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The kinds of event the schedule holds, each with its own next time.
enum Kind : std::size_t { application, screen, drag, burst, permission, rescan, pause, hang, fault, kindCount };

class Run {
public:
    Run(const SoakOptions& options, std::filesystem::path base)
        : options_(options),
          base_(std::move(base)),
          baseText_(base_.string()),
          world_(sim::defaultScenario()),
          rng_(world_.random()) {
        world_.seedRandom(options.seed);
        start_ = loop_.now();
        nextProgress_ = start_ + 1h;
        end_ = start_ + std::chrono::duration_cast<Duration>(std::chrono::duration<double>(options.seconds));
    }

    SoakResult go() {
        const auto wallStart = Clock::now();
        try {
            buildWorld();
            state_ = AppState::create();
            loop_.run(state_->start());
            drain();
            schedule();
            while (loop_.now() < end_) {
                auto kind = static_cast<std::size_t>(std::min_element(next_.begin(), next_.end()) - next_.begin());
                advanceTo(std::min(next_[kind], end_));
                if (loop_.now() >= end_) break;
                perform(static_cast<Kind>(kind));
                drain();
                noteWorld();
            }
            checkArrangementFile();
            // A run that read no scan checked nothing.
            if (result_.scans == 0 && options_.seconds >= 60) fail("no scan completed");
        } catch (const Failure& failure) {
            result_.failure = failure.what();
        }
        if (state_) {
            state_->stop();
            loop_.advance(1s);
            state_.reset();
            loop_.runUntilIdle();
        }
        drain(false);
        result_.rssEndKiB = residentKiB();
        result_.wallSeconds = std::chrono::duration<double>(Clock::now() - wallStart).count();
        if (result_.failure.empty() && result_.rssAfterFirstHourKiB && !sanitized && options_.seconds >= 7200 &&
            result_.rssEndKiB - *result_.rssAfterFirstHourKiB > 1024)
            result_.failure = "resident memory grew by " +
                              std::to_string(result_.rssEndKiB - *result_.rssAfterFirstHourKiB) +
                              " KiB after the first hour";
        return std::move(result_);
    }

private:
    std::uint64_t draw(std::uint64_t below) { return below == 0 ? 0 : rng_() % below; }
    Duration seconds(double from, double to) {
        double span = to - from;
        double s = from + span * static_cast<double>(rng_() % 1000000) / 1000000.0;
        return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
    }
    bool chance(double p) { return static_cast<double>(rng_() % 1000000) < p * 1000000.0; }
    double elapsedSeconds() const { return std::chrono::duration<double>(loop_.now() - start_).count(); }

    [[noreturn]] void fail(const std::string& what) {
        std::ostringstream out;
        out << what << " (at " << elapsedSeconds() << " s virtual, after scan " << result_.scans << ")";
        throw Failure(out.str());
    }

    // The seed's world: the default desktop, a pool of applications of its own (about half of
    // them running), how slowly each answers, and maybe a second screen.
    void buildWorld() {
        const auto poolSize = 4 + draw(7);
        for (std::size_t i = 0; i < poolSize; ++i) {
            sim::ProcessSpec spec(std::nullopt, "org.soak.App" + std::to_string(i), "Soak" + std::to_string(i));
            const auto items = 1 + draw(3);
            for (std::size_t j = 0; j < items; ++j) {
                sim::StatusItemSpec item;
                item.title = "S" + std::to_string(i) + "-" + std::to_string(j);
                item.width = 16.0 + static_cast<double>(draw(25));
                item.iconColor = static_cast<std::uint32_t>(rng_()) | 0xFFu;
                spec.statusItems.push_back(item);
            }
            if (chance(0.3)) spec.behaviour.accessibilityCallCost = std::chrono::milliseconds(1 + draw(20));
            pool_.push_back(spec);
            running_.push_back(std::nullopt);
        }
        for (std::size_t i = 0; i < pool_.size(); ++i)
            if (chance(0.5)) launch(i);
        for (const auto& process : world_.processes().listed())
            if (!isStashbay(*process) && chance(0.2))
                world_.behaviour(process->pid()).accessibilityCallCost = std::chrono::milliseconds(draw(10));
        if (chance(0.5)) plugScreen();
    }

    static bool isStashbay(const sim::Process& process) {
        return process.bundleIdentifier() == std::optional<std::string>("app.stashbay.Stashbay");
    }

    void launch(std::size_t index) {
        running_[index] = world_.launchApplication(pool_[index])->pid();
        ++result_.launches;
    }

    void plugScreen() {
        sim::ScreenSpec external;
        external.localizedName = "External";
        const double width = 1280.0 + static_cast<double>(draw(1280));
        external.frame = cg::Rect(1512, 0, width, 1080);
        external.visibleFrame = cg::Rect(1512, 0, width, 1055);
        external.displayNumber = 7;
        world_.addScreen(external);
        ++result_.screenChanges;
    }

    void schedule() {
        const Instant now = loop_.now();
        next_[application] = now + seconds(2, 8);
        next_[screen] = now + seconds(300, 1800);
        next_[drag] = now + seconds(20, 120);
        // A run shorter than an hour still gets its burst, within its span.
        next_[burst] = now + seconds(0, std::clamp(options_.seconds - 10.0, 0.0, 3590.0));
        next_[permission] = now + seconds(1800, 5400);
        next_[rescan] = now + seconds(60, 300);
        next_[pause] = now + seconds(600, 2400);
        next_[hang] = now + seconds(600, 3600);
        next_[fault] = now + seconds(600, 3600);
        hourStart_ = now;
    }

    void perform(Kind kind) {
        const Instant now = loop_.now();
        switch (kind) {
            case application: applicationEvent(); break;
            case screen:
                if (world_.screens().screens().size() > 1)
                    world_.removeScreen(1), ++result_.screenChanges;
                else
                    plugScreen();
                next_[screen] = now + seconds(300, 1800);
                break;
            case drag:
                userDrag();
                next_[drag] = now + seconds(20, 120);
                break;
            case burst:
                runBurst();
                // Ten seconds in every virtual hour, at a place in the next hour the seed picks.
                hourStart_ = hourStart_ + Duration(1h);
                next_[burst] = hourStart_ + seconds(0, 3590);
                break;
            case permission:
                lastDisturbance_ = result_.scans;
                if (world_.permissions().accessibility) {
                    world_.permissions().accessibility = false;
                    next_[permission] = now + seconds(5, 60);
                } else {
                    world_.permissions().accessibility = true;
                    next_[permission] = now + seconds(1800, 5400);
                }
                break;
            case rescan:
                runtime::spawn(loop_.loop().mainExecutor(), state_->scanner()->triggerRescan());
                next_[rescan] = now + seconds(60, 300);
                break;
            case pause:
                runtime::spawn(loop_.loop().mainExecutor(),
                               state_->scanner()->pauseFor(1.0 + static_cast<double>(draw(20))));
                next_[pause] = now + seconds(600, 2400);
                break;
            case hang:
                lastDisturbance_ = result_.scans;
                if (hung_) {
                    if (world_.processes().find(*hung_)) world_.behaviour(*hung_).hung = false;
                    hung_.reset();
                    next_[hang] = now + seconds(600, 3600);
                } else {
                    if (auto pid = randomRunningPoolApp()) {
                        world_.behaviour(*pid).hung = true;
                        hung_ = pid;
                    }
                    next_[hang] = now + seconds(5, 30);
                }
                break;
            case fault:
                lastDisturbance_ = result_.scans;
                if (faultOn_) {
                    world_.faults().windowImageFails = false;
                    world_.faults().windowListUnavailable = false;
                    faultOn_ = false;
                    next_[fault] = now + seconds(600, 3600);
                } else {
                    (chance(0.7) ? world_.faults().windowImageFails : world_.faults().windowListUnavailable) = true;
                    faultOn_ = true;
                    next_[fault] = now + seconds(2, 20);
                }
                break;
            case kindCount: break;
        }
    }

    std::optional<sim::ProcessID> randomRunningPoolApp() {
        std::vector<sim::ProcessID> pids;
        for (const auto& pid : running_)
            if (pid) pids.push_back(*pid);
        if (pids.empty()) return std::nullopt;
        return pids[draw(pids.size())];
    }

    // Launches, quits (some coming back within the debounce), relaunches under a new process, or
    // an application dropping its last item.
    void applicationEvent() {
        const Instant now = loop_.now();
        next_[application] = now + seconds(2, 8);
        if (comeBack_) {
            auto index = *comeBack_;
            comeBack_.reset();
            if (!running_[index]) {
                launch(index);
                return;
            }
        }
        std::vector<std::size_t> up;
        std::vector<std::size_t> down;
        for (std::size_t i = 0; i < pool_.size(); ++i) (running_[i] ? up : down).push_back(i);
        const auto roll = draw(10);
        if ((roll < 3 || up.empty()) && !down.empty()) {
            launch(down[draw(down.size())]);
        } else if (roll < 6 && !up.empty()) {
            auto index = up[draw(up.size())];
            quit(index);
            if (chance(0.4)) {
                comeBack_ = index;
                next_[application] = now + seconds(1, 5);
            }
        } else if (roll < 8 && !up.empty()) {
            auto index = up[draw(up.size())];
            if (auto process = world_.relaunchApplication(*running_[index])) {
                if (hung_ == running_[index]) {
                    hung_.reset();
                    lastDisturbance_ = result_.scans;
                }
                running_[index] = process->pid();
                ++result_.launches;
                ++result_.quits;
            }
        } else if (!up.empty()) {
            auto pid = *running_[up[draw(up.size())]];
            auto items = world_.statusItemsOf(pid);
            if (items.size() > 1) world_.removeStatusItem(items.back()->id);
        }
    }

    void quit(std::size_t index) {
        if (hung_ == running_[index]) {
            hung_.reset();
            lastDisturbance_ = result_.scans;
        }
        world_.quitApplication(*running_[index]);
        running_[index].reset();
        ++result_.quits;
    }

    // The user presses an item on the bar and drags it onto another, mostly with Command held.
    void userDrag() {
        std::vector<const sim::StatusItem*> items;
        for (const auto* item : world_.statusItems()) {
            auto owner = world_.processes().find(item->owner);
            if (item->onBar && owner && !isStashbay(*owner)) items.push_back(item);
        }
        if (items.size() < 2) return;
        const auto* from = items[draw(items.size())];
        const auto* to = items[draw(items.size())];
        sim::DragGesture gesture{sim::centreOf(*from), sim::centreOf(*to), static_cast<int>(2 + draw(12)), 16ms,
                                 chance(0.8)};
        auto length = sim::performDrag(world_, gesture);
        dragBusyUntil_ = std::max(dragBusyUntil_, loop_.now() + length);
        ++result_.drags;
    }

    // Ten seconds of mouse-dragged events at 1 kHz from a press on an item, then the release.
    void runBurst() {
        auto items = world_.statusItems();
        cg::Point at = items.empty() ? cg::Point{700, 12} : sim::centreOf(*items[draw(items.size())]);
        const Instant end = loop_.now() + 10s;
        // The release can only come once the loop is free: a scan running at the end of the burst
        // holds it back, so the drag counts as held until the mouse-up is injected.
        mouseHeld_ = true;
        world_.events().injectUserMouse(cg::EventType::leftMouseDown, at);
        drain();
        int step = 0;
        while (loop_.now() < end) {
            cg::Point p{at.x + static_cast<double>(step % 200) - 100.0, at.y + static_cast<double>(step % 7)};
            world_.events().injectUserMouse(cg::EventType::leftMouseDragged, p);
            ++result_.burstEvents;
            ++step;
            advanceTo(loop_.now() + 1ms);
        }
        world_.events().injectUserMouse(cg::EventType::leftMouseUp, at);
        mouseHeld_ = false;
        dragBusyUntil_ = std::max(dragBusyUntil_, loop_.now());
        drain();
    }

    // Moves virtual time to `when` one deadline at a time, reading the records after each.
    void advanceTo(Instant when) {
        for (;;) {
            auto next = loop_.loop().nextDeadline();
            if (!next || *next > when) {
                if (when > loop_.now()) loop_.advance(when - loop_.now());
                drain();
                return;
            }
            loop_.advanceToNextDeadline();
            drain();
        }
    }

    // Folds every new record into the hash; checks the state after each completed scan.
    void drain(bool check = true) {
        auto records = os::LogStore::shared().records();
        os::LogStore::shared().clear();
        bool scanned = false;
        for (const auto& record : records) {
            hash_.add(std::bit_cast<std::uint64_t>(record.date));
            hash_.add(static_cast<std::uint64_t>(record.level));
            hash_.add(record.category);
            // The run's own directory is named after the process: it is left out, so that two
            // processes running one seed agree.
            if (auto at = record.text.find(baseText_); at != std::string::npos) {
                std::string text = record.text;
                text.replace(at, baseText_.size(), "<run directory>");
                hash_.add(text);
            } else {
                hash_.add(record.text);
            }
            ++result_.records;
            if (record.category == "scanning" && record.text.rfind("Scan completed:", 0) == 0) {
                ++result_.scans;
                scanned = true;
            }
        }
        result_.recordHash = hash_.value;
        if (!result_.rssAfterFirstHourKiB && loop_.now() - start_ >= 1h) result_.rssAfterFirstHourKiB = residentKiB();
        if (options_.progress && loop_.now() >= nextProgress_) {
            std::printf("%.0f h: %zu scans, %zu records, RSS %ld KiB\n", elapsedSeconds() / 3600.0, result_.scans,
                        result_.records, residentKiB());
            std::fflush(stdout);
            nextProgress_ = nextProgress_ + Duration(1h);
        }
        if (scanned && check && state_) checkAfterScan();
    }

    // The world's status windows now; a window gone is noted with the scans completed so far.
    void noteWorld() {
        current_.clear();
        for (const auto* item : world_.statusItems()) current_.insert(item->window);
        for (auto window : known_)
            if (!current_.count(window)) missingSince_.emplace(window, result_.scans);
        known_ = current_;
        // A window number is never used again: an old note can go once the check no longer needs it.
        std::erase_if(missingSince_, [&](const auto& entry) { return result_.scans - entry.second > 16; });
        result_.maxWorldItems = std::max(result_.maxWorldItems, current_.size());
        result_.maxTracked = std::max(result_.maxTracked, missingSince_.size() + identities_.size());
    }

    void checkAfterScan() {
        noteWorld();
        const auto& items = state_->menuBarItems();
        result_.maxSnapshot = std::max(result_.maxSnapshot, items.size());

        // Only items the world has, or has lost within the debounce: the scan that completes
        // first after a loss may have started before it, then three absent scans drop it.
        // An item found without its window (the window list failed) is checked by neither.
        for (const auto& item : items) {
            const auto window = item.windowID();
            if (window == 0 || current_.count(window)) continue;
            auto gone = missingSince_.find(window);
            if (gone == missingSince_.end())
                fail("the snapshot holds " + item.id().stringValue() + " (window " + std::to_string(window) +
                     "), which the world never had");
            if (result_.scans - gone->second >= 1 + static_cast<std::size_t>(MenuBarScanner::debounceThreshold))
                fail("the snapshot still holds " + item.id().stringValue() + " (window " + std::to_string(window) +
                     ") " + std::to_string(result_.scans - gone->second) + " scans after it left the world");
        }

        // An identity is the owner and the rank among its items: a status window keeps it for as
        // long as its owner's items keep their order (for two checks, as a scan may lag a move).
        std::map<sim::ProcessID, std::vector<sim::WindowNumber>> orders;
        for (const auto* item : world_.statusItems()) orders[item->owner].push_back(item->window);
        for (auto it = ownerOrders_.begin(); it != ownerOrders_.end();)
            it = orders.count(it->first) ? std::next(it) : ownerOrders_.erase(it);
        for (auto& [pid, order] : orders) {
            auto [it, inserted] = ownerOrders_.emplace(pid, std::pair{order, std::size_t{0}});
            if (inserted) continue;
            if (it->second.first == order) {
                ++it->second.second;
            } else {
                it->second = {std::move(order), 0};
            }
        }
        for (const auto& item : items) {
            if (item.windowID() == 0) continue;
            auto [it, inserted] = identities_.emplace(item.windowID(), item.id());
            if (inserted || it->second == item.id()) continue;
            auto owner = ownerOrders_.find(item.ownerPID());
            // A failing window list or a hung owner can hide one of its items from detection,
            // and the rank of the others moves with it: only a calm world is held to it.
            const bool calm = !hung_ && !faultOn_ && world_.permissions().accessibility &&
                              result_.scans >= lastDisturbance_ + 1 + MenuBarScanner::debounceThreshold;
            if (calm && owner != ownerOrders_.end() && owner->second.second >= 2)
                fail("window " + std::to_string(item.windowID()) + " changed identity from " +
                     it->second.stringValue() + " to " + item.id().stringValue() +
                     " while its owner's items kept their order");
            it->second = item.id();
        }
        std::erase_if(identities_, [&](const auto& entry) {
            return !current_.count(entry.first) && !missingSince_.count(entry.first);
        });

        // The sections are what the items and the arrangement make of them.
        const auto expected = AppState::computeSections(items, state_->currentDisplay(), state_->currentArrangement());
        if (!AppState::sectionsShowTheSame(state_->sections(), expected))
            fail("the sections do not follow the items and the arrangement");
        std::size_t shown = 0;
        for (const auto& section : state_->sections()) shown += section.items().size();
        result_.maxSections = std::max(result_.maxSections, shown);

        // No published drag outlives the user's gesture (the watch looks every 100 ms).
        if (state_->draggingItem() && !mouseHeld_ && loop_.now() > dragBusyUntil_ + 4 * AppState::dragWatchInterval)
            fail("a drag of " + state_->draggingItem()->id().stringValue() + " is still published " +
                 std::to_string(
                     std::chrono::duration_cast<std::chrono::milliseconds>(loop_.now() - dragBusyUntil_).count()) +
                 " ms after the mouse was released");
        if (!state_->draggingItem() && state_->dragPosition()) fail("a drag position is published without a drag");

        // Containers and caches within their bounds.
        auto counters = loop_.run(state_->scanner()->absenceCountersForTesting());
        result_.maxAbsenceCounters = std::max(result_.maxAbsenceCounters, counters.size());
        if (counters.size() > items.size()) fail("more absence counters than items in the snapshot");
        auto cached = loop_.run(state_->scanner()->imageCacheCountForTesting());
        result_.maxImageCache = std::max(result_.maxImageCache, cached);
        if (cached > 100) fail("the image cache holds " + std::to_string(cached) + " images");
        const auto arranged = state_->currentArrangement().assignments().size();
        result_.maxArrangement = std::max(result_.maxArrangement, arranged);
        if (arranged > poolItemCount() + 64) fail("the arrangement grew to " + std::to_string(arranged) + " items");

        if (result_.scans % 50 == 0) checkArrangementFile();
        world_.clearHistory();
    }

    std::size_t poolItemCount() const {
        std::size_t n = 0;
        for (const auto& spec : pool_) n += spec.statusItems.size();
        return n;
    }

    // The arrangement on disk, when there is one, is valid JSON that loads.
    void checkArrangementFile() {
        const auto file = base_ / "app.stashbay.Stashbay" / "arrangement.json";
        std::error_code ec;
        if (!std::filesystem::exists(file, ec)) return;
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        try {
            if (nlohmann::json::parse(text.str()).is_discarded()) fail("the arrangement file is not JSON");
            auto arrangement = IconArrangement::decodeDocument(text.str());
            result_.maxArrangement = std::max(result_.maxArrangement, arrangement.assignments().size());
        } catch (const std::exception& e) {
            fail(std::string("the arrangement file does not load: ") + e.what());
        }
    }

    SoakOptions options_;
    std::filesystem::path base_;
    std::string baseText_;
    runtime::ManualLoop loop_;
    sim::World world_;
    std::mt19937_64& rng_;
    std::shared_ptr<AppState> state_;
    Instant start_{};
    Instant end_{};
    Instant hourStart_{};
    // The last release of a gesture the run made, and whether the burst's press is still down.
    Instant dragBusyUntil_{};
    bool mouseHeld_ = false;
    Instant nextProgress_{};
    std::array<Instant, kindCount> next_{};
    std::vector<sim::ProcessSpec> pool_;
    std::vector<std::optional<sim::ProcessID>> running_;
    std::optional<std::size_t> comeBack_;
    std::optional<sim::ProcessID> hung_;
    bool faultOn_ = false;
    // The scans completed when a fault or a hang last began or ended.
    std::size_t lastDisturbance_ = 0;
    std::set<sim::WindowNumber> current_;
    std::set<sim::WindowNumber> known_;
    std::map<sim::WindowNumber, std::size_t> missingSince_;
    std::map<sim::WindowNumber, MenuBarItemID> identities_;
    // Each owner's status windows right to left, and for how many checks that order has held.
    std::map<sim::ProcessID, std::pair<std::vector<sim::WindowNumber>, std::size_t>> ownerOrders_;
    RecordHash hash_;
    SoakResult result_;
};

}  // namespace

SoakResult runSoak(const SoakOptions& options) {
    os::LogStore::shared().setEchoToStderr(false);
    os::LogStore::shared().clear();
    const auto base = std::filesystem::temp_directory_path() /
                      ("stashbay-soak-" + std::to_string(::getpid()) + "-" + std::to_string(options.seed));
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(base);
    ns::FileManager::defaultManager().setApplicationSupportOverride(base);
    SoakResult result;
    {
        // The run reads every record: the log keeps them only while a capture lives.
        const os::LogCapture capture;
        Run run(options, base);
        result = run.go();
    }
    ns::FileManager::defaultManager().reset();
    std::filesystem::remove_all(base);
    return result;
}

}  // namespace stashbay::soak
