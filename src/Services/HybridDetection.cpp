#include "Services/HybridDetection.hpp"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace stashbay::detection {

namespace {

constexpr double matchDistance = 6.0;
constexpr double barTop = 50.0;

bool offTheBar(cg::Point p) { return p.y > barTop || p.x < 0.0; }

std::u32string scalars(const std::string& utf8) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(utf8);
    icu::UnicodeString composed = U_SUCCESS(status) ? nfc->normalize(text, status) : text;
    if (U_FAILURE(status)) composed = text;
    std::u32string out;
    out.reserve(static_cast<std::size_t>(composed.length()));
    for (int32_t i = 0; i < composed.length();) {
        UChar32 c = composed.char32At(i);
        out.push_back(static_cast<char32_t>(c));
        i += U16_LENGTH(c);
    }
    return out;
}

// A detected item before its identity, with the composed title kept for the sorts.
struct Candidate {
    MenuBarItem item;
    std::u32string titleKey;
};

bool orderedByPosition(const Candidate& a, const Candidate& b) {
    double ax = a.item.position().x, bx = b.item.position().x;
    if (ax != bx) return ax > bx;
    if (a.item.ownerPID() == b.item.ownerPID()) return a.titleKey < b.titleKey;
    return a.item.ownerPID() < b.item.ownerPID();
}

// Step 8: verified first, then by position.
bool verifiedThenPosition(const Candidate& a, const Candidate& b) {
    if (a.item.isVerified() != b.item.isVerified()) return a.item.isVerified();
    return orderedByPosition(a, b);
}

// The match of one item among the windows, first pass then second, by the literal walk.
std::optional<std::size_t> matchLiteral(const AXItem& a, const std::vector<Window>& windows,
                                        const std::vector<bool>& claimed) {
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

// The windows of one process, by x, for range queries; windows whose x is not a number can
// match nothing and are left out.
class WindowIndex {
public:
    explicit WindowIndex(const std::vector<Window>& windows) : windows_(windows) {
        for (std::size_t i = 0; i < windows.size(); ++i) {
            const auto& w = windows[i];
            if (std::isnan(w.bounds.origin.x)) continue;
            auto& group = byProcess_[w.ownerPID];
            group.all.emplace(w.bounds.origin.x, i);
            if (!w.isOnScreen || w.bounds.origin.y > barTop || w.bounds.origin.x < 0.0)
                group.offBar.emplace(w.bounds.origin.x, i);
        }
    }

    std::optional<std::size_t> match(const AXItem& a, std::vector<bool>& claimed) {
        auto it = byProcess_.find(a.pid);
        if (it == byProcess_.end()) return std::nullopt;
        auto& group = it->second;
        double x = a.position.x;
        if (std::isnan(x)) return std::nullopt;
        std::optional<std::size_t> match;
        double best = std::numeric_limits<double>::max();
        // Every window within 6 points lies in this widened range; the exact test decides.
        double slack = matchDistance * 2;
        for (auto w = group.all.lower_bound(x - slack); w != group.all.end() && w->first <= x + slack; ++w) {
            std::size_t i = w->second;
            if (claimed[i]) continue;
            double d = std::fabs(x - windows_[i].bounds.origin.x);
            if (d < matchDistance && (d < best || (d == best && match && i < *match))) {
                match = i;
                best = d;
            }
        }
        if (match || !offTheBar(a.position)) return match;
        return nearestOffBar(group.offBar, x, claimed);
    }

private:
    using Ordered = std::multimap<double, std::size_t>;
    struct Group {
        Ordered all;
        Ordered offBar;
    };

    // The unclaimed window nearest to x; of equal distances the earlier in the list.
    std::optional<std::size_t> nearestOffBar(Ordered& windows, double x, const std::vector<bool>& claimed) const {
        std::optional<std::size_t> match;
        double best = std::numeric_limits<double>::max();
        auto consider = [&](Ordered::const_iterator w) {
            std::size_t i = w->second;
            double d = std::fabs(x - windows_[i].bounds.origin.x);
            if (d < best || (d == best && match && i < *match)) {
                match = i;
                best = d;
            }
        };
        auto right = windows.lower_bound(x);
        // Walk outwards until a side can no longer beat the best distance.
        for (auto w = right; w != windows.end(); ++w) {
            if (match && w->first - x > best) break;
            if (!claimed[w->second]) consider(w);
        }
        for (auto w = right; w != windows.begin();) {
            --w;
            if (match && x - w->first > best) break;
            if (!claimed[w->second]) consider(w);
        }
        return match;
    }

    const std::vector<Window>& windows_;
    std::unordered_map<std::int32_t, Group> byProcess_;
};

struct OwnerTitle {
    std::optional<std::string> owner;
    std::optional<std::string> title;
    friend bool operator==(const OwnerTitle&, const OwnerTitle&) = default;
};
struct OwnerTitleHash {
    std::size_t operator()(const OwnerTitle& k) const {
        std::size_t h = k.owner ? std::hash<std::string>{}(*k.owner) : 0x9e3779b9u;
        std::size_t t = k.title ? std::hash<std::string>{}(*k.title) : 0x7f4a7c15u;
        return h ^ (t + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2));
    }
};

std::vector<Candidate> removeDuplicatesLiteral(std::vector<Candidate> sorted, double tolerance) {
    std::vector<Candidate> accepted;
    for (auto& c : sorted) {
        bool duplicate = false;
        for (const auto& a : accepted) {
            if (c.item.isOnScreen() && a.item.isOnScreen() &&
                std::fabs(a.item.position().x - c.item.position().x) < tolerance) {
                duplicate = true;
            } else if (!c.item.isOnScreen() && !a.item.isOnScreen() &&
                       a.item.ownerBundleID() == c.item.ownerBundleID() && a.item.title() == c.item.title()) {
                duplicate = true;
            }
            if (duplicate) break;
        }
        if (!duplicate) accepted.push_back(std::move(c));
    }
    return accepted;
}

std::vector<Candidate> removeDuplicatesIndexed(std::vector<Candidate> sorted, double tolerance) {
    std::vector<Candidate> accepted;
    // Accepted on-screen items lie pairwise at least `tolerance` apart, so a range of four
    // tolerances around x holds only a handful of them; the exact test decides.
    std::multiset<double> onScreen;
    std::unordered_set<OwnerTitle, OwnerTitleHash> offScreen;
    for (auto& c : sorted) {
        bool duplicate = false;
        if (c.item.isOnScreen()) {
            double x = c.item.position().x;
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
            OwnerTitle key{c.item.ownerBundleID(), c.item.title()};
            duplicate = !offScreen.insert(key).second;
        }
        if (!duplicate) accepted.push_back(std::move(c));
    }
    return accepted;
}

}  // namespace

bool titleBefore(const std::string& a, const std::string& b) { return scalars(a) < scalars(b); }

bool isOrderedByPosition(const MenuBarItem& a, const MenuBarItem& b) {
    Candidate ca{a, scalars(a.title().value_or(""))};
    Candidate cb{b, scalars(b.title().value_or(""))};
    return orderedByPosition(ca, cb);
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

    std::vector<bool> claimed(inputs.windows.size(), false);
    std::optional<WindowIndex> index;
    if (passes == Passes::indexed) index.emplace(inputs.windows);

    std::vector<Candidate> candidates;
    candidates.reserve(inputs.items.size());
    for (const auto& a : inputs.items) {
        std::optional<Owner> owner = inputs.owner ? inputs.owner(a.pid) : std::nullopt;
        std::optional<std::string> bundleID = owner ? owner->bundleIdentifier : std::nullopt;
        std::string ownerName = owner ? owner->displayName : "Unknown";

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
            if (inputs.geometry->isMenuExtraHiddenByNotch(ScreenGeometry::cgRectToCocoa(frame))) onScreen = false;
        }
        MenuBarItem item(MenuBarItemID(std::nullopt, 0), a.pid, bundleID, std::move(ownerName), a.title, a.position,
                         a.size, match ? inputs.windows[*match].windowID : 0, a.isEnabled, match.has_value(), onScreen,
                         nullptr, inputs.now);
        candidates.push_back(Candidate{std::move(item), scalars(a.title.value_or(""))});
    }

    stableSort(candidates, verifiedThenPosition);
    auto accepted = passes == Passes::indexed ? removeDuplicatesIndexed(std::move(candidates), positionTolerance)
                                              : removeDuplicatesLiteral(std::move(candidates), positionTolerance);
    stableSort(accepted, orderedByPosition);

    std::unordered_map<std::string, std::int64_t> counters;
    std::vector<MenuBarItem> out;
    out.reserve(accepted.size());
    for (auto& c : accepted) {
        const auto& item = c.item;
        std::string key = item.ownerBundleID() ? *item.ownerBundleID() : "pid-" + std::to_string(item.ownerPID());
        std::int64_t rank = counters[key]++;
        out.emplace_back(MenuBarItemID(key, rank), item.ownerPID(), item.ownerBundleID(), item.ownerName(),
                         item.title(), item.position(), item.size(), item.windowID(), item.isEnabled(),
                         item.isVerified(), item.isOnScreen(), nullptr, item.lastSeen());
    }
    return out;
}

}  // namespace stashbay::detection
