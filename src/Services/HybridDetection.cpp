#include "Services/HybridDetection.hpp"

#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <memory_resource>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace stashbay::detection {

namespace {

constexpr double matchDistance = 6.0;
constexpr double barTop = 50.0;
constexpr std::size_t noWindow = std::numeric_limits<std::size_t>::max();

bool offTheBar(cg::Point p) { return p.y > barTop || p.x < 0.0; }

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The canonically composed (NFC) form in UTF-8. Bytes of UTF-8 compare in the order of the
// Unicode scalar values they encode, so these keys compare titles by scalar values. Input that
// is not UTF-8 reads as replacement characters.
std::string composed(std::string_view utf8) {
    static const icu::Normalizer2* const nfc = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* instance = icu::Normalizer2::getNFCInstance(status);
        return U_SUCCESS(status) ? instance : nullptr;
    }();
    icu::UnicodeString text =
        icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString normal = nfc ? nfc->normalize(text, status) : text;
    if (U_FAILURE(status)) normal = text;
    std::string out;
    normal.toUTF8String(out);
    return out;
}

// The sort key of a title. ASCII is already composed and is its own key; other titles are
// composed into `storage`, which keeps them while the key is in use.
template <class Storage>
std::string_view titleKey(std::string_view title, Storage& storage) {
    if (isASCII(title)) return title;
    return storage.emplace_back(composed(title));
}

// What the order of items reads: x, the owner's process id and the title's key.
struct SortKey {
    double x;
    std::int32_t pid;
    std::string_view title;
};

bool keyBefore(const SortKey& a, const SortKey& b) {
    if (a.x != b.x) return a.x > b.x;
    if (a.pid == b.pid) return a.title < b.title;
    return a.pid < b.pid;
}

// The application behind a process id, looked up once per detection.
struct OwnerInfo {
    std::optional<std::string> bundleID;
    std::string name;
    // The identity's bundle part: the bundle identifier, else "pid-<pid>" (kept in `pidKey`).
    std::string_view key;
    std::string pidKey;
    // Which rank counter the owner's items use: owners with one key share it.
    std::size_t counter = 0;
};

// A detected item before its identity: the accessibility item it comes from, its owner, its
// window and its on-screen decision. Small, so that the sorts move handles, not items.
struct Candidate {
    const AXItem* ax;
    const OwnerInfo* owner;
    std::size_t window;
    bool onScreen;
    std::string_view titleKey;

    bool isVerified() const { return window != noWindow; }
    SortKey sortKey() const { return SortKey{ax->position.x, ax->pid, titleKey}; }
};

bool orderedByPosition(const Candidate& a, const Candidate& b) { return keyBefore(a.sortKey(), b.sortKey()); }

// Step 8: verified first, then by position.
bool verifiedThenPosition(const Candidate& a, const Candidate& b) {
    if (a.isVerified() != b.isVerified()) return a.isVerified();
    return orderedByPosition(a, b);
}

// The match of one item among the windows, first pass then second, by the literal walk.
std::optional<std::size_t> matchLiteral(const AXItem& a, const std::vector<Window>& windows,
                                        const std::pmr::vector<bool>& claimed) {
    std::optional<std::size_t> match;
    double best = std::numeric_limits<double>::max();
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (claimed[i] || windows[i].ownerPID != a.pid) continue;
        double d = std::fabs(a.position.x - windows[i].bounds.origin.x);
        if (d < matchDistance && d < best) {
            match = i;
            best = d;
        }
    }
    if (match || !offTheBar(a.position)) return match;
    best = std::numeric_limits<double>::max();
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (claimed[i] || windows[i].ownerPID != a.pid) continue;
        const auto& w = windows[i];
        if (w.isOnScreen && !(w.bounds.origin.y > barTop) && !(w.bounds.origin.x < 0.0)) continue;
        double d = std::fabs(a.position.x - w.bounds.origin.x);
        if (d < best) {
            match = i;
            best = d;
        }
    }
    return match;
}

// The windows by process and x, for range queries; windows whose x is not a number can match
// nothing and are left out. Sorted arrays: built once, read many times.
class WindowIndex {
public:
    WindowIndex(const std::vector<Window>& windows, std::pmr::memory_resource* arena)
        : windows_(windows), all_(arena), offBar_(arena) {
        all_.reserve(windows.size());
        for (std::size_t i = 0; i < windows.size(); ++i) {
            const auto& w = windows[i];
            if (std::isnan(w.bounds.origin.x)) continue;
            Entry e{w.ownerPID, w.bounds.origin.x, i};
            all_.push_back(e);
            if (!w.isOnScreen || w.bounds.origin.y > barTop || w.bounds.origin.x < 0.0) offBar_.push_back(e);
        }
        std::sort(all_.begin(), all_.end());
        std::sort(offBar_.begin(), offBar_.end());
    }

    std::optional<std::size_t> match(const AXItem& a, const std::pmr::vector<bool>& claimed) const {
        double x = a.position.x;
        if (std::isnan(x)) return std::nullopt;
        auto [first, last] = ofProcess(all_, a.pid);
        std::optional<std::size_t> match;
        double best = std::numeric_limits<double>::max();
        // Every window within 6 points lies in this widened range; the exact test decides.
        double slack = matchDistance * 2;
        auto from = std::lower_bound(first, last, x - slack, [](const Entry& e, double v) { return e.x < v; });
        for (auto w = from; w != last && w->x <= x + slack; ++w) {
            std::size_t i = w->index;
            if (claimed[i]) continue;
            double d = std::fabs(x - windows_[i].bounds.origin.x);
            if (d < matchDistance && (d < best || (d == best && match && i < *match))) {
                match = i;
                best = d;
            }
        }
        if (match || !offTheBar(a.position)) return match;
        return nearestOffBar(a.pid, x, claimed);
    }

private:
    struct Entry {
        std::int32_t pid;
        double x;
        std::size_t index;
        friend bool operator<(const Entry& a, const Entry& b) {
            if (a.pid != b.pid) return a.pid < b.pid;
            if (a.x != b.x) return a.x < b.x;
            return a.index < b.index;
        }
    };
    using Entries = std::pmr::vector<Entry>;
    using Iterator = Entries::const_iterator;

    static std::pair<Iterator, Iterator> ofProcess(const Entries& entries, std::int32_t pid) {
        auto first = std::lower_bound(entries.begin(), entries.end(), pid,
                                      [](const Entry& e, std::int32_t p) { return e.pid < p; });
        auto last =
            std::upper_bound(first, entries.end(), pid, [](std::int32_t p, const Entry& e) { return p < e.pid; });
        return {first, last};
    }

    // The unclaimed off-the-bar window nearest to x; of equal distances the earlier in the list.
    std::optional<std::size_t> nearestOffBar(std::int32_t pid, double x, const std::pmr::vector<bool>& claimed) const {
        auto [first, last] = ofProcess(offBar_, pid);
        std::optional<std::size_t> match;
        double best = std::numeric_limits<double>::max();
        auto consider = [&](Iterator w) {
            std::size_t i = w->index;
            double d = std::fabs(x - windows_[i].bounds.origin.x);
            if (d < best || (d == best && match && i < *match)) {
                match = i;
                best = d;
            }
        };
        auto right = std::lower_bound(first, last, x, [](const Entry& e, double v) { return e.x < v; });
        // Walk outwards until a side can no longer beat the best distance.
        for (auto w = right; w != last; ++w) {
            if (match && w->x - x > best) break;
            if (!claimed[w->index]) consider(w);
        }
        for (auto w = right; w != first;) {
            --w;
            if (match && x - w->x > best) break;
            if (!claimed[w->index]) consider(w);
        }
        return match;
    }

    const std::vector<Window>& windows_;
    Entries all_;
    Entries offBar_;
};

struct OwnerTitle {
    const std::optional<std::string>* owner;
    const std::optional<std::string>* title;
    friend bool operator==(const OwnerTitle& a, const OwnerTitle& b) {
        return *a.owner == *b.owner && *a.title == *b.title;
    }
};
struct OwnerTitleHash {
    std::size_t operator()(const OwnerTitle& k) const {
        std::size_t h = *k.owner ? std::hash<std::string_view>{}(**k.owner) : 0x9e3779b9u;
        std::size_t t = *k.title ? std::hash<std::string_view>{}(**k.title) : 0x7f4a7c15u;
        return h ^ (t + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2));
    }
};

using Candidates = std::pmr::vector<Candidate>;

Candidates removeDuplicatesLiteral(const Candidates& sorted, double tolerance) {
    Candidates accepted(sorted.get_allocator());
    for (const auto& c : sorted) {
        bool duplicate = false;
        for (const auto& a : accepted) {
            if (c.onScreen && a.onScreen && std::fabs(a.ax->position.x - c.ax->position.x) < tolerance) {
                duplicate = true;
            } else if (!c.onScreen && !a.onScreen && a.owner->bundleID == c.owner->bundleID &&
                       a.ax->title == c.ax->title) {
                duplicate = true;
            }
            if (duplicate) break;
        }
        if (!duplicate) accepted.push_back(c);
    }
    return accepted;
}

Candidates removeDuplicatesIndexed(const Candidates& sorted, double tolerance) {
    auto* arena = sorted.get_allocator().resource();
    Candidates accepted(arena);
    accepted.reserve(sorted.size());
    // Accepted on-screen items lie pairwise at least `tolerance` apart, so a range of four
    // tolerances around x holds only a handful of them; the exact test decides.
    std::pmr::multiset<double> onScreen(arena);
    std::pmr::unordered_set<OwnerTitle, OwnerTitleHash> offScreen(arena);
    for (const auto& c : sorted) {
        bool duplicate = false;
        if (c.onScreen) {
            double x = c.ax->position.x;
            if (!std::isnan(x)) {
                double slack = tolerance * 2;
                for (auto a = onScreen.lower_bound(x - slack); a != onScreen.end() && *a <= x + slack; ++a) {
                    if (std::fabs(*a - x) < tolerance) {
                        duplicate = true;
                        break;
                    }
                }
                if (!duplicate) onScreen.insert(x);
            }
        } else {
            duplicate = !offScreen.insert(OwnerTitle{&c.owner->bundleID, &c.ax->title}).second;
        }
        if (!duplicate) accepted.push_back(c);
    }
    return accepted;
}

}  // namespace

bool titleBefore(const std::string& a, const std::string& b) {
    std::deque<std::string> storage;
    return titleKey(a, storage) < titleKey(b, storage);
}

bool isOrderedByPosition(const MenuBarItem& a, const MenuBarItem& b) {
    std::deque<std::string> storage;
    auto ta = a.title() ? titleKey(*a.title(), storage) : std::string_view();
    auto tb = b.title() ? titleKey(*b.title(), storage) : std::string_view();
    return keyBefore(SortKey{a.position().x, a.ownerPID(), ta}, SortKey{b.position().x, b.ownerPID(), tb});
}

double visibilityBoundary(const std::vector<Window>& windows) {
    std::optional<double> smallest;
    for (const auto& w : windows) {
        if (!w.isOnScreen || !(w.bounds.origin.y < barTop) || !(w.bounds.origin.x >= 0.0)) continue;
        if (!smallest || w.bounds.origin.x < *smallest) smallest = w.bounds.origin.x;
    }
    return smallest.value_or(0.0);
}

std::vector<MenuBarItem> detect(const Inputs& inputs, double positionTolerance, Passes passes) {
    const double boundary = visibilityBoundary(inputs.windows);
    const bool notchRule = inputs.geometry && inputs.geometry->hasNotch();
    // The notch rule converts every on-screen frame; the screen list is read for all of them once.
    const std::optional<double> primaryHeight = notchRule ? ScreenGeometry::primaryScreenHeight() : std::nullopt;

    // The scratch of one detection, in a few blocks given back at once.
    std::pmr::monotonic_buffer_resource arena(1024 + inputs.items.size() * 160 + inputs.windows.size() * 48);
    std::pmr::vector<bool> claimed(inputs.windows.size(), false, &arena);
    std::optional<WindowIndex> index;
    if (passes == Passes::indexed) index.emplace(inputs.windows, &arena);

    // Owners by process id, and the rank counters by identity key; stable addresses.
    std::pmr::deque<OwnerInfo> owners(&arena);
    std::pmr::unordered_map<std::int32_t, const OwnerInfo*> ownerOf(&arena);
    std::pmr::unordered_map<std::string_view, std::size_t> counterOf(&arena);
    auto ownerFor = [&](std::int32_t pid) -> const OwnerInfo* {
        auto [it, added] = ownerOf.try_emplace(pid, nullptr);
        if (!added) return it->second;
        std::optional<Owner> owner = inputs.owner ? inputs.owner(pid) : std::nullopt;
        auto& info = owners.emplace_back();
        if (owner) {
            info.bundleID = std::move(owner->bundleIdentifier);
            info.name = std::move(owner->displayName);
        } else {
            info.name = "Unknown";
        }
        if (!info.bundleID) info.pidKey = "pid-" + std::to_string(pid);
        info.key = info.bundleID ? std::string_view(*info.bundleID) : std::string_view(info.pidKey);
        info.counter = counterOf.try_emplace(info.key, counterOf.size()).first->second;
        it->second = &info;
        return &info;
    };
    std::pmr::deque<std::string> composedTitles(&arena);

    Candidates candidates(&arena);
    candidates.reserve(inputs.items.size());
    for (const auto& a : inputs.items) {
        const OwnerInfo* owner = ownerFor(a.pid);
        auto match = index ? index->match(a, claimed) : matchLiteral(a, inputs.windows, claimed);
        if (match) claimed[*match] = true;

        bool onScreen;
        if (match) {
            onScreen = inputs.windows[*match].isOnScreen;
        } else if (offTheBar(a.position)) {
            onScreen = false;
        } else {
            onScreen = !(boundary > 0.0 && a.position.x < boundary - matchDistance);
        }
        if (onScreen && notchRule) {
            cg::Rect frame{a.position, a.size};
            if (inputs.geometry->isMenuExtraHiddenByNotch(ScreenGeometry::cgRectToCocoa(frame, primaryHeight)))
                onScreen = false;
        }
        candidates.push_back(Candidate{&a, owner, match.value_or(noWindow), onScreen,
                                       a.title ? titleKey(*a.title, composedTitles) : std::string_view()});
    }

    // Lambdas, not function pointers: the comparisons are inlined into the sorts.
    stableSort(candidates, [](const Candidate& a, const Candidate& b) { return verifiedThenPosition(a, b); });
    auto accepted = passes == Passes::indexed ? removeDuplicatesIndexed(candidates, positionTolerance)
                                              : removeDuplicatesLiteral(candidates, positionTolerance);
    stableSort(accepted, [](const Candidate& a, const Candidate& b) { return orderedByPosition(a, b); });

    std::pmr::vector<std::int64_t> counters(counterOf.size(), 0, &arena);
    std::vector<MenuBarItem> out;
    out.reserve(accepted.size());
    for (const auto& c : accepted) {
        const AXItem& a = *c.ax;
        std::int64_t rank = counters[c.owner->counter]++;
        out.emplace_back(MenuBarItemID(std::string(c.owner->key), rank), a.pid, c.owner->bundleID, c.owner->name,
                         a.title, a.position, a.size, c.isVerified() ? inputs.windows[c.window].windowID : 0,
                         a.isEnabled, c.isVerified(), c.onScreen, nullptr, inputs.now);
    }
    return out;
}

}  // namespace stashbay::detection
