#include "text/date_time.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "text/unicode.h"

namespace qlok {
namespace {

TEST(DateTimeTest, AddSecondsCrossesDaysAndYears) {
  EXPECT_EQ(AddSeconds({2027, 1, 1, 5, 0, 0}, -9 * 3600),
            (DateTime{2026, 12, 31, 20, 0, 0}));
  EXPECT_EQ(AddSeconds({2000, 1, 1, 5, 0, 0}, 86400),
            (DateTime{2000, 1, 2, 5, 0, 0}));
  EXPECT_EQ(AddSeconds({2024, 2, 28, 23, 59, 59}, 1),
            (DateTime{2024, 2, 29, 0, 0, 0}));
  EXPECT_EQ(Weekday({2026, 12, 9}), 3);  // a Wednesday
}

TEST(DateTimeTest, FieldsAreWrittenAsPrintfWritesThem) {
  // The forms are "%04d/%02d/%02d" and "%d:%02d:%02d", whatever the
  // fields hold (a date-time read from a database or a clock may hold
  // anything, out of range or negative).
  const int values[] = {0,     1,     9,     10,     59,      99,
                        100,   999,   1000,  2026,   9999,    10000,
                        12345, -1,    -9,    -10,    -99,     -100,
                        -999,  -1000, -2026, -12345, INT_MAX, INT_MIN};
  for (int a : values) {
    for (int b : {0, 7, 12, -3, 123}) {
      const DateTime t = {a, b, b + 1, a, b, b + 1};
      char date[64], time[64];
      std::snprintf(date, sizeof date, "%04d/%02d/%02d", a, b, b + 1);
      std::snprintf(time, sizeof time, "%d:%02d:%02d", a, b, b + 1);
      EXPECT_EQ(U8(FormatDate(t)), date);
      EXPECT_EQ(U8(FormatTimeOfDay(t)), time);
    }
  }
}

TEST(DateTimeTest, GeneralFormDropsMidnight) {
  EXPECT_EQ(FormatGeneral({2000, 1, 2, 5, 0, 0}), u"2000/01/02 5:00:00");
  EXPECT_EQ(FormatGeneral({2000, 1, 1, 17, 30, 0}), u"2000/01/01 17:30:00");
  EXPECT_EQ(FormatGeneral({2000, 1, 2, 0, 0, 0}), u"2000/01/02");
  EXPECT_EQ(FormatTimeOfDay({2026, 1, 1, 8, 5, 3}), u"8:05:03");
}

TEST(DateTimeTest, ParsesEveryStampForm) {
  struct Case {
    std::u16string text;
    std::optional<DateTime> value;
  } cases[] = {
      {u"2000/01/01 8:30:00", DateTime{2000, 1, 1, 8, 30, 0}},
      {u"2000/01/02", DateTime{2000, 1, 2, 0, 0, 0}},
      {u"2000-01-01 08:30:00", DateTime{2000, 1, 1, 8, 30, 0}},
      {u"2000-01-01T08:30:00.250", DateTime{2000, 1, 1, 8, 30, 0}},
      {u"2000/1/1 8:30", DateTime{2000, 1, 1, 8, 30, 0}},
      {u"2000/01/01 8:60:00", std::nullopt},
      {u"2001/02/29", std::nullopt},
      {u"2000/01/01 8:30:00x", std::nullopt},
      {u"2000-01/01", std::nullopt},
      {u"", std::nullopt},
      {u"8:30", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseDateTime(c.text), c.value) << U8(c.text);
  }
}

}  // namespace
}  // namespace qlok
