#include "platform/value.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

struct TextCase {
  const char* name;
  Value value;
  std::u16string text;
};

void PrintTo(const TextCase& c, std::ostream* out) { *out << c.name; }

class ValueTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(ValueTextTest, WritesThePlatformTextForm) {
  EXPECT_EQ(U8(GetParam().value.ToText()), U8(GetParam().text));
  EXPECT_EQ(GetParam().value.TextLength(), GetParam().text.size());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ValueTextTest,
    testing::Values(TextCase{"Null", Value(), u""},
                    TextCase{"NegativeSentinel", Value::Integer(-1), u"-1"},
                    TextCase{"Pay", Value::Integer(185000), u"185000"},
                    TextCase{"WholeDouble", Value::Double(35.0), u"35"},
                    TextCase{"Fraction", Value::Double(3.5), u"3.5"},
                    TextCase{"Text", Value::Text(u"看護師"), u"看護師"},
                    TextCase{"MorningShift",
                             Value::DateTimeOf(DateTime{2000, 1, 1, 8, 30, 0}),
                             u"2000/01/01 8:30:00"},
                    TextCase{"EveningShift",
                             Value::DateTimeOf(DateTime{2000, 1, 1, 17, 30, 0}),
                             u"2000/01/01 17:30:00"},
                    TextCase{"MidnightIsTheDateAlone",
                             Value::DateTimeOf(DateTime{2000, 1, 2, 0, 0, 0}),
                             u"2000/01/02"},
                    TextCase{"Date",
                             Value::DateOf(DateTime{2026, 12, 20, 0, 0, 0}),
                             u"2026/12/20"},
                    TextCase{"DateDropsTheTime",
                             Value::DateOf(DateTime{2026, 12, 20, 9, 15, 0}),
                             u"2026/12/20"}),
    [](const auto& info) { return std::string(info.param.name); });

struct RoundCase {
  double value;
  int64_t whole;
};

void PrintTo(const RoundCase& c, std::ostream* out) { *out << c.value; }

class ValueRoundingTest : public testing::TestWithParam<RoundCase> {};

TEST_P(ValueRoundingTest, RoundsHalvesToEven) {
  EXPECT_EQ(Value::Double(GetParam().value).AsInteger(), GetParam().whole);
}

INSTANTIATE_TEST_SUITE_P(Halves, ValueRoundingTest,
                         testing::Values(RoundCase{0.5, 0}, RoundCase{1.5, 2},
                                         RoundCase{2.5, 2}, RoundCase{-2.5, -2},
                                         RoundCase{2.4999, 2},
                                         RoundCase{2.6, 3},
                                         RoundCase{-1.0, -1}));

TEST(ValueTest, NumbersReadEitherWay) {
  EXPECT_EQ(Value::Integer(-2).AsInteger(), -2);
  EXPECT_EQ(Value::Integer(7).AsDouble(), 7.0);
  EXPECT_EQ(Value::Double(0.25).AsDouble(), 0.25);
  EXPECT_TRUE(Value::Double(1).IsNumber());
  EXPECT_FALSE(Value::Text(u"1").IsNumber());
}

TEST(ValueTest, DateTimesAndDatesReadAsDateTimes) {
  DateTime t{2000, 1, 1, 22, 0, 0};
  EXPECT_EQ(Value::DateTimeOf(t).AsDateTime(), t);
  EXPECT_EQ(Value::DateOf(t).AsDateTime(), (DateTime{2000, 1, 1, 0, 0, 0}));
}

TEST(ValueTest, WrongKindsThrow) {
  EXPECT_THROW(Value().AsInteger(), Failure);
  EXPECT_THROW(Value::Text(u"12").AsInteger(), Failure);
  EXPECT_THROW(Value::Text(u"12").AsDouble(), Failure);
  EXPECT_THROW(Value::Integer(1).AsDateTime(), Failure);
  EXPECT_THROW(Value().AsDateTime(), Failure);
  // A double beyond the whole numbers has no whole number to give.
  EXPECT_THROW(Value::Double(1e30).AsInteger(), Failure);
  EXPECT_THROW(Value::Double(std::nan("")).AsInteger(), Failure);
}

}  // namespace
}  // namespace qlok
