#include "macos/CoreFoundation/Value.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using cf::Value;

TEST(Value, NumbersReadAsUnsigned32OnlyWhenIntegralAndInRange) {
    struct Case {
        Value v;
        std::optional<std::uint32_t> expected;
    } cases[] = {
        {Value(42), 42u},
        {Value(4294967295LL), 4294967295u},
        {Value(4294967296LL), std::nullopt},
        {Value(-1), std::nullopt},
        {Value(42.0), 42u},
        {Value(42.5), std::nullopt},
        {Value(std::nan("")), std::nullopt},
        {Value(INFINITY), std::nullopt},
        {Value(true), 1u},
        {Value("42"), std::nullopt},
    };
    for (auto& c : cases) EXPECT_EQ(c.v.asUInt32(), c.expected);
}

TEST(Value, SignedIntegersKeepTheirRange) {
    EXPECT_EQ(Value(-5).asInt32(), -5);
    EXPECT_EQ(Value(2147483648LL).asInt32(), std::nullopt);
    EXPECT_EQ(Value(-2147483648LL).asInt32(), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(Value(9.3e18).asInt64(), std::nullopt);
    EXPECT_EQ(Value(25).asInt64(), 25);
}

TEST(Value, BooleansAndNumbersConvertIntoEachOther) {
    EXPECT_EQ(Value(true).asDouble(), 1.0);
    EXPECT_EQ(Value(0).asBool(), false);
    EXPECT_EQ(Value(1.0).asBool(), true);
    EXPECT_EQ(Value(2).asBool(), std::nullopt) << "bridging to a boolean needs exactly 0 or 1";
    EXPECT_EQ(Value(2).truthValue(), true) << "the truth value of a number is non-zero";
    EXPECT_EQ(Value("YES").asBool(), std::nullopt);
    EXPECT_EQ(Value("YES").truthValue(), std::nullopt);
}

TEST(Value, DictionariesFindTheirMembers) {
    auto d = Value::dictionary({{"X", 1.5}, {"Name", "Clock"}});
    ASSERT_NE(d.find("X"), nullptr);
    EXPECT_EQ(d.find("X")->asDouble(), 1.5);
    EXPECT_EQ(*d.find("Name")->asString(), "Clock");
    EXPECT_EQ(d.find("Y"), nullptr);
    EXPECT_EQ(Value(3).find("X"), nullptr);
}

TEST(Value, ACopyChangesIndependentlyOfItsOriginal) {
    auto original = Value::dictionary({{"X", 1.5}, {"Bounds", Value::dictionary({{"Width", 20}})}});
    Value copy = original;
    (*copy.asDictionary())["X"] = Value(9.0);
    (*copy.asDictionary())["Y"] = Value(2.0);
    EXPECT_EQ(original.find("X")->asDouble(), 1.5);
    EXPECT_EQ(original.find("Y"), nullptr);
    EXPECT_EQ(copy.find("X")->asDouble(), 9.0);
    EXPECT_NE(copy, original);
    Value again = original;
    EXPECT_EQ(again, original);
    EXPECT_EQ(Value(Value::Array{1, "a"}), Value::array({1, "a"}));
    EXPECT_NE(Value(Value::Array{1, "a"}), Value::array({1, "b"}));
}
