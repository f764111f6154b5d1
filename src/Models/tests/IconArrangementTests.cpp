#include "Models/DecodingError.hpp"
#include "Models/IconArrangement.hpp"
#include "stashbay/runtime/ManualLoop.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace stashbay;
using namespace std::chrono_literals;
using nlohmann::json;
using SectionType = MenuBarSection::SectionType;
using Visibility = MenuBarItemVisibility;

namespace {

const MenuBarItemID a{"com.a", 0};
const MenuBarItemID b{"com.b", 0};
const MenuBarItemID c{"com.c", 1};

// Operations stamp the arrangement with the loop's date, which each step moves on.
class IconArrangementOperations : public ::testing::Test {
protected:
    runtime::Date tick() {
        loop.advance(1s);
        return loop.date();
    }
    runtime::ManualLoop loop;
    IconArrangement arrangement = IconArrangement::empty();
};

}  // namespace

TEST_F(IconArrangementOperations, EmptyHasNothingAndTheDistantPast) {
    EXPECT_TRUE(arrangement.assignments().empty());
    EXPECT_TRUE(arrangement.sectionOrders().empty());
    EXPECT_EQ(arrangement.lastModified().timeIntervalSinceReferenceDate, -63114076800.0);
    EXPECT_TRUE(arrangement.order(SectionType::visible).empty());
}

TEST_F(IconArrangementOperations, AssignRecordsTheChoiceAndAppendsToTheSectionOrder) {
    arrangement.assign(a, Visibility::hiddenByNotch);
    arrangement.assign(b, Visibility::hiddenByNotch);
    auto stamped = tick();
    arrangement.assign(c, Visibility::hiddenByNotch);
    EXPECT_EQ(arrangement.assignments().at(a), Visibility::hiddenByNotch);
    EXPECT_EQ(arrangement.order(SectionType::hiddenByNotch), (std::vector{a, b, c}));
    EXPECT_EQ(arrangement.lastModified(), stamped);
}

TEST_F(IconArrangementOperations, AssignToAnotherSectionMovesTheIdentityAndKeepsTheEmptiedEntry) {
    arrangement.assign(a, Visibility::hiddenByNotch);
    arrangement.assign(a, Visibility::stashbay);
    EXPECT_EQ(arrangement.assignments().at(a), Visibility::stashbay);
    ASSERT_TRUE(arrangement.sectionOrders().contains(SectionType::hiddenByNotch));
    EXPECT_TRUE(arrangement.order(SectionType::hiddenByNotch).empty());
    EXPECT_EQ(arrangement.order(SectionType::stashbay), (std::vector{a}));
}

TEST_F(IconArrangementOperations, AssignAgainKeepsTheFirstPlaceAndStampsEachTime) {
    arrangement.assign(a, Visibility::stashbay);
    arrangement.assign(b, Visibility::stashbay);
    auto stamped = tick();
    arrangement.assign(a, Visibility::stashbay);
    EXPECT_EQ(arrangement.order(SectionType::stashbay), (std::vector{a, b}));
    EXPECT_EQ(arrangement.lastModified(), stamped);
}

TEST_F(IconArrangementOperations, PinnedCountsAsTheVisibleSection) {
    arrangement.assign(a, Visibility::pinned);
    arrangement.assign(b, Visibility::visible);
    EXPECT_EQ(arrangement.order(SectionType::visible), (std::vector{a, b}));
    arrangement.assign(a, Visibility::visible);
    EXPECT_EQ(arrangement.order(SectionType::visible), (std::vector{a, b})) << "no order change between the two";
    EXPECT_EQ(arrangement.assignments().at(a), Visibility::visible);
    arrangement.assign(a, Visibility::stashbay);
    EXPECT_EQ(arrangement.order(SectionType::visible), (std::vector{b}));
}

TEST_F(IconArrangementOperations, AssignLeavesAnAbsentPreviousSectionAbsent) {
    // An order entry may be missing for a recorded choice, as in a hand-edited file.
    arrangement = IconArrangement({{a, Visibility::hiddenByNotch}}, {}, runtime::Date{0});
    arrangement.assign(a, Visibility::stashbay);
    EXPECT_FALSE(arrangement.sectionOrders().contains(SectionType::hiddenByNotch));
    EXPECT_EQ(arrangement.order(SectionType::stashbay), (std::vector{a}));
}

TEST_F(IconArrangementOperations, AssignRemovesEveryOccurrenceFromThePreviousSection) {
    arrangement =
        IconArrangement({{a, Visibility::hiddenByNotch}}, {{SectionType::hiddenByNotch, {a, b, a}}}, runtime::Date{0});
    arrangement.assign(a, Visibility::visible);
    EXPECT_EQ(arrangement.order(SectionType::hiddenByNotch), (std::vector{b}));
}

TEST_F(IconArrangementOperations, ReorderClampsTheIndexToTheList) {
    struct Case {
        std::int64_t index;
        std::vector<MenuBarItemID> expected;
    };
    const Case cases[] = {
        {0, {c, a, b}},
        {1, {a, c, b}},
        {2, {a, b, c}},
        {100, {a, b, c}},
        {-5, {c, a, b}},
        {std::numeric_limits<std::int64_t>::min(), {c, a, b}},
        {std::numeric_limits<std::int64_t>::max(), {a, b, c}},
    };
    for (const auto& test : cases) {
        IconArrangement subject({}, {{SectionType::stashbay, {a, c, b}}}, runtime::Date{0});
        subject.reorder(c, SectionType::stashbay, test.index);
        EXPECT_EQ(subject.order(SectionType::stashbay), test.expected) << "index " << test.index;
    }
}

TEST_F(IconArrangementOperations, ReorderOfASingleElementPastTheEndKeepsOneElement) {
    arrangement.assign(a, Visibility::stashbay);
    arrangement.reorder(a, SectionType::stashbay, 100);
    EXPECT_EQ(arrangement.order(SectionType::stashbay), (std::vector{a}));
}

TEST_F(IconArrangementOperations, ReorderInsertsAnUnknownIdentityWithoutAssigningIt) {
    arrangement.assign(a, Visibility::stashbay);
    auto stamped = tick();
    arrangement.reorder(b, SectionType::stashbay, 0);
    EXPECT_EQ(arrangement.order(SectionType::stashbay), (std::vector{b, a}));
    EXPECT_FALSE(arrangement.assignments().contains(b));
    EXPECT_EQ(arrangement.lastModified(), stamped);
}

TEST_F(IconArrangementOperations, ReorderInASectionWithoutAnEntryChangesNothing) {
    arrangement.assign(a, Visibility::stashbay);
    auto before = arrangement;
    tick();
    arrangement.reorder(a, SectionType::hiddenByNotch, 0);
    EXPECT_EQ(arrangement, before) << "lastModified included";
}

TEST_F(IconArrangementOperations, RemoveForgetsTheIdentityEverywhereAndStamps) {
    arrangement = IconArrangement({{a, Visibility::stashbay}, {b, Visibility::visible}},
                                  {{SectionType::stashbay, {a}}, {SectionType::visible, {b, a}}}, runtime::Date{0});
    auto stamped = tick();
    arrangement.remove(a);
    EXPECT_EQ(arrangement.assignments(), (IconArrangement::Assignments{{b, Visibility::visible}}));
    ASSERT_TRUE(arrangement.sectionOrders().contains(SectionType::stashbay));
    EXPECT_TRUE(arrangement.order(SectionType::stashbay).empty());
    EXPECT_EQ(arrangement.order(SectionType::visible), (std::vector{b}));
    EXPECT_EQ(arrangement.lastModified(), stamped);

    auto again = tick();
    arrangement.remove(c);
    EXPECT_EQ(arrangement.lastModified(), again) << "stamped even when there was nothing to remove";
}

TEST_F(IconArrangementOperations, PruneKeepsOnlyTheGivenIdentitiesInTheirOrder) {
    arrangement = IconArrangement({{a, Visibility::stashbay}, {b, Visibility::stashbay}, {c, Visibility::visible}},
                                  {{SectionType::stashbay, {a, b}}, {SectionType::visible, {c}}}, runtime::Date{0});
    auto stamped = tick();
    arrangement.pruneStaleEntries({b});
    EXPECT_EQ(arrangement.assignments(), (IconArrangement::Assignments{{b, Visibility::stashbay}}));
    EXPECT_EQ(arrangement.order(SectionType::stashbay), (std::vector{b}));
    ASSERT_TRUE(arrangement.sectionOrders().contains(SectionType::visible));
    EXPECT_TRUE(arrangement.order(SectionType::visible).empty());
    EXPECT_EQ(arrangement.lastModified(), stamped);

    auto again = tick();
    arrangement.pruneStaleEntries({a, b, c});
    EXPECT_EQ(arrangement.lastModified(), again) << "stamped even when nothing was dropped";
}

TEST(IconArrangementJSON, EmptyIsAnEmptyObjectAnEmptyArrayAndANegativeDate) {
    auto document = json::parse(IconArrangement::empty().encodedDocument());
    EXPECT_EQ(document, json::parse(R"({"assignments":{},"lastModified":-63114076800.0,"sectionOrders":[]})"));
}

TEST(IconArrangementJSON, DocumentIsIndentedWithSortedMembers) {
    IconArrangement arrangement({{MenuBarItemID("com.test.app", 2), Visibility::stashbay}},
                                {{SectionType::stashbay, {MenuBarItemID("com.test.app", 2)}}}, runtime::Date{1.5});
    auto text = arrangement.encodedDocument();
    EXPECT_NE(text.find('\n'), std::string::npos);
    auto assignments = text.find("\"assignments\"");
    auto lastModified = text.find("\"lastModified\"");
    auto sectionOrders = text.find("\"sectionOrders\"");
    auto bundleID = text.find("\"bundleID\"");
    auto index = text.find("\"index\"");
    EXPECT_LT(assignments, lastModified);
    EXPECT_LT(lastModified, sectionOrders);
    EXPECT_LT(sectionOrders, bundleID);
    EXPECT_LT(bundleID, index);
    EXPECT_EQ(json::parse(text), json::parse(R"({
        "assignments": {"com.test.app#2": "stashbay"},
        "lastModified": 1.5,
        "sectionOrders": ["Stashbay", [{"bundleID": "com.test.app", "index": 2}]]
    })"));
}

TEST(IconArrangementJSON, AbsentAndUnknownBundleIdentifiersAreWrittenAsUnknown) {
    MenuBarItemID anonymous(std::nullopt, 3);
    MenuBarItemID literal("unknown", 4);
    IconArrangement arrangement({{anonymous, Visibility::hiddenByNotch}, {literal, Visibility::pinned}},
                                {{SectionType::hiddenByNotch, {anonymous}}}, runtime::Date{0});
    auto document = arrangement.encode();
    EXPECT_EQ(document["assignments"], json::parse(R"({"unknown#3":"hiddenByNotch","unknown#4":"pinned"})"));
    EXPECT_EQ(document["sectionOrders"][1][0], json::parse(R"({"index":3})"));

    auto decoded = IconArrangement::decodeDocument(arrangement.encodedDocument());
    EXPECT_EQ(decoded.assignments().at(anonymous), Visibility::hiddenByNotch);
    EXPECT_EQ(decoded.assignments().at(MenuBarItemID(std::nullopt, 4)), Visibility::pinned);
    EXPECT_FALSE(decoded.assignments().contains(literal));
}

TEST(IconArrangementJSON, RoundTripRestoresEverythingIncludingTheExactDate) {
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> seconds(-7e10, 7e10);
    std::vector<double> dates{0.0,
                              -0.0,
                              0.1,
                              1.0 / 3.0,
                              818553600.123456789,
                              -63114076800.0,
                              63113904000.0,
                              std::numeric_limits<double>::min(),
                              std::numeric_limits<double>::denorm_min(),
                              std::numeric_limits<double>::max(),
                              std::nextafter(1.0, 2.0)};
    for (int i = 0; i < 200; ++i) dates.push_back(seconds(random));
    for (double date : dates) {
        IconArrangement arrangement({{a, Visibility::stashbay},
                                     {b, Visibility::pinned},
                                     {MenuBarItemID(std::nullopt, -1), Visibility::visible}},
                                    {{SectionType::stashbay, {a}},
                                     {SectionType::visible, {b, MenuBarItemID(std::nullopt, -1)}},
                                     {SectionType::hiddenByNotch, {}}},
                                    runtime::Date{date});
        auto decoded = IconArrangement::decodeDocument(arrangement.encodedDocument());
        EXPECT_EQ(decoded, arrangement) << std::hexfloat << date;
        EXPECT_EQ(std::signbit(decoded.lastModified().timeIntervalSinceReferenceDate), std::signbit(date));
    }
}

TEST(IconArrangementJSON, ANonFiniteDateCannotBeWritten) {
    for (double date : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                        std::numeric_limits<double>::quiet_NaN()}) {
        IconArrangement arrangement({}, {}, runtime::Date{date});
        EXPECT_THROW((void)arrangement.encodedDocument(), EncodingError);
    }
}

TEST(IconArrangementJSON, TextThatIsNotUTF8CannotBeWritten) {
    IconArrangement arrangement({{MenuBarItemID("bad\xff", 0), Visibility::visible}}, {}, runtime::Date{0});
    EXPECT_THROW((void)arrangement.encodedDocument(), EncodingError);
}

TEST(IconArrangementJSON, ReadingIgnoresExtraMembersAndLetsTheLaterPairOfASectionWin) {
    auto decoded = IconArrangement::decodeDocument(R"({
        "assignments": {"com.a#0": "stashbay", "unknown#-2": "visible"},
        "lastModified": 12,
        "sectionOrders": ["Stashbay", [{"bundleID": "com.a", "index": 0}], "Visible", [],
                          "Stashbay", [{"index": 7}, {"bundleID": null, "index": 8, "note": "x"}]],
        "version": 3
    })");
    EXPECT_EQ(decoded.assignments(),
              (IconArrangement::Assignments{{a, Visibility::stashbay},
                                            {MenuBarItemID(std::nullopt, -2), Visibility::visible}}));
    EXPECT_EQ(decoded.order(SectionType::stashbay),
              (std::vector{MenuBarItemID(std::nullopt, 7), MenuBarItemID(std::nullopt, 8)}));
    ASSERT_TRUE(decoded.sectionOrders().contains(SectionType::visible));
    EXPECT_TRUE(decoded.order(SectionType::visible).empty());
    EXPECT_FALSE(decoded.sectionOrders().contains(SectionType::hiddenByNotch));
    EXPECT_EQ(decoded.lastModified(), runtime::Date{12.0});
}

namespace {

struct BadDocument {
    const char* why;
    std::string text;
    DecodingError::Kind kind;
    const char* path;
};

std::ostream& operator<<(std::ostream& os, const BadDocument& d) { return os << d.why; }

using Kind = DecodingError::Kind;

// A valid document with one member replaced.
std::string with(const char* assignments, const char* lastModified, const char* orders) {
    return std::string("{\"assignments\":") + assignments + ",\"lastModified\":" + lastModified +
           ",\"sectionOrders\":" + orders + "}";
}

const BadDocument badDocuments[] = {
    {"not JSON", "assignments", Kind::dataCorrupted, ""},
    {"empty data", "", Kind::dataCorrupted, ""},
    {"truncated", R"({"assignments":{},"lastModified":0,"sectionOr)", Kind::dataCorrupted, ""},
    {"trailing garbage", with("{}", "0", "[]") + "}", Kind::dataCorrupted, ""},
    {"not UTF-8", with(R"({"a\xff#1":"visible"})", "0", "[]"), Kind::dataCorrupted, ""},
    {"top level is an array", "[]", Kind::typeMismatch, ""},
    {"top level is a string", R"("x")", Kind::typeMismatch, ""},
    {"top level is null", "null", Kind::valueNotFound, ""},
    {"assignments missing", R"({"lastModified":0,"sectionOrders":[]})", Kind::keyNotFound, ""},
    {"lastModified missing", R"({"assignments":{},"sectionOrders":[]})", Kind::keyNotFound, ""},
    {"sectionOrders missing", R"({"assignments":{},"lastModified":0})", Kind::keyNotFound, ""},
    {"assignments is an array", with("[]", "0", "[]"), Kind::typeMismatch, "assignments"},
    {"assignments is null", with("null", "0", "[]"), Kind::valueNotFound, "assignments"},
    {"member name without #", with(R"({"com.a":"visible"})", "0", "[]"), Kind::dataCorrupted, "assignments.com.a"},
    {"member name with a bad index", with(R"({"a#x":"visible"})", "0", "[]"), Kind::dataCorrupted, "assignments.a#x"},
    {"member name with two #", with(R"({"a#1#2":"visible"})", "0", "[]"), Kind::dataCorrupted, "assignments.a#1#2"},
    {"member name only an index", with(R"({"#5":"visible"})", "0", "[]"), Kind::dataCorrupted, "assignments.#5"},
    {"empty member name", with(R"({"":"visible"})", "0", "[]"), Kind::dataCorrupted, "assignments."},
    {"unknown visibility", with(R"({"a#1":"hidden"})", "0", "[]"), Kind::dataCorrupted, "assignments.a#1"},
    {"visibility in other capitals", with(R"({"a#1":"Visible"})", "0", "[]"), Kind::dataCorrupted, "assignments.a#1"},
    {"visibility not a string", with(R"({"a#1":1})", "0", "[]"), Kind::typeMismatch, "assignments.a#1"},
    {"lastModified a string", with("{}", R"("2024-01-01")", "[]"), Kind::typeMismatch, "lastModified"},
    {"lastModified null", with("{}", "null", "[]"), Kind::valueNotFound, "lastModified"},
    {"lastModified a boolean", with("{}", "true", "[]"), Kind::typeMismatch, "lastModified"},
    {"lastModified past the doubles", with("{}", "1e999", "[]"), Kind::dataCorrupted, ""},
    {"sectionOrders an object keyed by titles", with("{}", "0", R"({"Visible":[]})"), Kind::typeMismatch,
     "sectionOrders"},
    {"sectionOrders odd length", with("{}", "0", R"(["Visible"])"), Kind::dataCorrupted, "sectionOrders"},
    {"unknown section kind", with("{}", "0", R"(["Hidden",[]])"), Kind::dataCorrupted, "sectionOrders[0]"},
    {"section kind as case name", with("{}", "0", R"(["hiddenByNotch",[]])"), Kind::dataCorrupted, "sectionOrders[0]"},
    {"section kind not a string", with("{}", "0", R"([1,[]])"), Kind::typeMismatch, "sectionOrders[0]"},
    {"order not an array", with("{}", "0", R"(["Visible",{}])"), Kind::typeMismatch, "sectionOrders[1]"},
    {"identity not an object", with("{}", "0", R"(["Visible",["a#1"]])"), Kind::typeMismatch, "sectionOrders[1][0]"},
    {"identity without index", with("{}", "0", R"(["Visible",[{"bundleID":"a"}]])"), Kind::keyNotFound,
     "sectionOrders[1][0]"},
    {"identity with a fractional index", with("{}", "0", R"(["Visible",[{"index":1.5}]])"), Kind::typeMismatch,
     "sectionOrders[1][0].index"},
    {"identity with a text index", with("{}", "0", R"(["Visible",[{"index":"1"}]])"), Kind::typeMismatch,
     "sectionOrders[1][0].index"},
    {"identity with an index past 64 bits", with("{}", "0", R"(["Visible",[{"index":9223372036854775808}]])"),
     Kind::dataCorrupted, "sectionOrders[1][0].index"},
    {"identity with a numeric bundle identifier", with("{}", "0", R"(["Visible",[{"bundleID":1,"index":1}]])"),
     Kind::typeMismatch, "sectionOrders[1][0].bundleID"},
    {"bad second identity", with("{}", "0", R"(["Visible",[{"index":1},{"index":null}]])"), Kind::valueNotFound,
     "sectionOrders[1][1].index"},
};

class IconArrangementDecodingFailure : public ::testing::TestWithParam<BadDocument> {};

}  // namespace

TEST_P(IconArrangementDecodingFailure, FailsAsAWholeWithADecodingError) {
    const auto& bad = GetParam();
    try {
        (void)IconArrangement::decodeDocument(bad.text);
        FAIL() << "decoded";
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), bad.kind) << error.what();
        EXPECT_EQ(error.codingPath(), bad.path) << error.what();
        EXPECT_EQ(error.domain(), ns::cocoaErrorDomain);
        EXPECT_FALSE(std::string(error.what()).empty());
    }
}
INSTANTIATE_TEST_SUITE_P(Cases, IconArrangementDecodingFailure, ::testing::ValuesIn(badDocuments));
