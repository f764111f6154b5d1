#include "macos/Observation/Observation.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

using observation::Announce;
using observation::Observable;
using observation::withObservationTracking;

namespace {

// Equal when the identities are equal, as a detected item is: the rest may differ.
struct Item {
    int id;
    std::string title;
    friend bool operator==(const Item& a, const Item& b) { return a.id == b.id; }
};

struct NoEquality {
    int value;
};

template <class Property>
struct Counter {
    explicit Counter(const Property& property) : token(property.observe([this](const auto&) { ++count; })) {}
    int count = 0;
    observation::ObservationToken token;
};

}  // namespace

static_assert(observation::defaultAnnounce<bool> == Announce::whenChanged);
static_assert(observation::defaultAnnounce<std::vector<Item>> == Announce::whenChanged);
static_assert(observation::defaultAnnounce<NoEquality> == Announce::always);
static_assert(observation::defaultAnnounce<std::vector<NoEquality>> == Announce::always);
static_assert(observation::defaultAnnounce<std::optional<NoEquality>> == Announce::always);

TEST(Observable, AnEqualAssignmentIsStoredWithoutAnnouncement) {
    Observable<std::vector<Item>> items;
    Counter changes(items);
    items = std::vector<Item>{{1, "Clock"}};
    EXPECT_EQ(changes.count, 1);
    items = std::vector<Item>{{1, "Clock, moved"}};
    EXPECT_EQ(changes.count, 1) << "equal by identity: no announcement";
    EXPECT_EQ(items.get()[0].title, "Clock, moved") << "but the new value is stored";
    items = std::vector<Item>{{2, "Wi-Fi"}};
    EXPECT_EQ(changes.count, 2);
}

TEST(Observable, TypesWithoutEqualityAnnounceEveryAssignment) {
    Observable<std::vector<NoEquality>> displays;
    Observable<std::shared_ptr<int>, Announce::always> preferences;
    Counter displayChanges(displays);
    Counter preferenceChanges(preferences);
    auto shared = std::make_shared<int>(1);
    for (int i = 0; i < 2; ++i) {
        displays = std::vector<NoEquality>{{1}};
        preferences = shared;
    }
    EXPECT_EQ(displayChanges.count, 2);
    EXPECT_EQ(preferenceChanges.count, 2);
}

TEST(Observable, AChangeInPlaceIsAlwaysAnnounced) {
    Observable<int> value{5};
    std::vector<int> seen;
    auto token = value.observe([&](const int& v) { seen.push_back(v); });
    value.modify([](int& v) { v += 1; });
    value.modify([](int&) {});
    EXPECT_EQ(seen, (std::vector<int>{6, 6}));
}

TEST(Observable, EndedTokensStopDeliveriesAlsoDuringOne) {
    Observable<int> value;
    int first = 0, second = 0;
    observation::ObservationToken secondToken;
    auto firstToken = value.observe([&](const int&) {
        ++first;
        secondToken.cancel();
    });
    secondToken = value.observe([&](const int&) { ++second; });
    value = 1;
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    EXPECT_FALSE(secondToken.isActive());
    {
        auto scoped = value.observe([&](const int&) { ++second; });
    }
    value = 2;
    EXPECT_EQ(second, 0) << "a token ends its observation when it goes";
}

TEST(Observable, ATokenOutlivingItsPropertyIsHarmless) {
    observation::ObservationToken token;
    {
        Observable<int> value;
        token = value.observe([](const int&) {});
        EXPECT_TRUE(token.isActive());
    }
    EXPECT_FALSE(token.isActive());
    token.cancel();
}

TEST(ObservationTracking, RunsOnChangeOnceOnTheFirstChangeOfAPropertyItRead) {
    Observable<bool> onboardingDone{false};
    Observable<double> scanInterval{2.0};
    Observable<int> unread{0};
    int changes = 0;
    auto shown =
        withObservationTracking([&] { return onboardingDone.get() ? 1 : scanInterval.get(); }, [&] { ++changes; });
    EXPECT_EQ(shown, 2.0);
    unread = 1;
    onboardingDone = false;  // equal: not a change
    EXPECT_EQ(changes, 0);
    scanInterval = 5.0;
    EXPECT_EQ(changes, 1);
    scanInterval = 6.0;
    onboardingDone = true;
    EXPECT_EQ(changes, 1) << "once only";
}

TEST(ObservationTracking, AViewCanTrackAgainFromItsOnChange) {
    Observable<int> counter{0};
    std::vector<int> renders;
    std::function<void()> render = [&] {
        withObservationTracking([&] { renders.push_back(counter.get()); }, [&] { render(); });
    };
    render();
    counter = 1;
    counter.modify([](int& v) { ++v; });
    EXPECT_EQ(renders, (std::vector<int>{0, 1, 2}));
}

TEST(ObservationTracking, ANestedTrackingAlsoCountsItsReadsForTheOuterOne) {
    Observable<int> inner{0}, outer{0};
    int outerChanges = 0, innerChanges = 0;
    withObservationTracking(
        [&] {
            (void)outer.get();
            withObservationTracking([&] { (void)inner.get(); }, [&] { ++innerChanges; });
        },
        [&] { ++outerChanges; });
    inner = 1;
    EXPECT_EQ(innerChanges, 1);
    EXPECT_EQ(outerChanges, 1);
}

TEST(ObservationTracking, AReadOutsideATrackingOrAfterAThrowRegistersNothing) {
    Observable<int> value{0};
    int changes = 0;
    EXPECT_THROW(withObservationTracking(
                     [&] {
                         (void)value.get();
                         throw std::runtime_error("render failed");
                     },
                     [&] { ++changes; }),
                 std::runtime_error);
    (void)value.get();
    value = 1;
    EXPECT_EQ(changes, 0);
}

TEST(ObservationRegistrar, AHandWrittenObjectAnnouncesThroughItsRegistrar) {
    struct Preferences {
        observation::ObservationRegistrar registrar;
        bool launchAtLogin = false;
        bool get() const {
            registrar.access(&launchAtLogin);
            return launchAtLogin;
        }
        void set(bool value) {
            registrar.withMutation(&launchAtLogin, [&] { launchAtLogin = value; });
        }
    } preferences;
    int changes = 0, tracked = 0;
    auto token = preferences.registrar.observe(&preferences.launchAtLogin, [&] { ++changes; });
    withObservationTracking([&] { (void)preferences.get(); }, [&] { ++tracked; });
    preferences.set(true);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(tracked, 1);
}
