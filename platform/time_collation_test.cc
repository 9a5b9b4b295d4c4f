#include "platform/time_collation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/date_time.h"
#include "text/unicode.h"

namespace qlok {
namespace {

int Compare(const std::string& a, const std::string& b) {
  return qlok_time_compare(static_cast<int>(a.size()), a.data(),
                           static_cast<int>(b.size()), b.data());
}

struct OrderCase {
  const char* earlier;
  const char* later;
};

void PrintTo(const OrderCase& c, std::ostream* out) {
  *out << c.earlier << " < " << c.later;
}

class TimeCollationOrderTest : public testing::TestWithParam<OrderCase> {};

TEST_P(TimeCollationOrderTest, SortsInTimeOrder) {
  EXPECT_LT(Compare(GetParam().earlier, GetParam().later), 0);
  EXPECT_GT(Compare(GetParam().later, GetParam().earlier), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Stamps, TimeCollationOrderTest,
    testing::Values(
        // Byte order would put these the other way round.
        OrderCase{"2000/01/01 8:30:00", "2000/01/01 17:30:00"},
        OrderCase{"2000/01/01 9:00:00", "2000/01/01 10:00:00"},
        OrderCase{"2000/1/1 8:30", "2000/01/01 17:30:00"},
        // The date alone is midnight, the start of that day.
        OrderCase{"2000/01/01 22:00:00", "2000/01/02"},
        OrderCase{"2000/01/02", "2000/01/02 5:00:00"},
        // Stored ISO values against quoted stamps, both ways.
        OrderCase{"2000-01-01 08:30:00", "2000/01/01 17:30:00"},
        OrderCase{"2000/01/01 8:00:00", "2000-01-01 08:30:00"},
        OrderCase{"2000-01-01T21:00:00", "2000/01/02"},
        OrderCase{"2000-01-01 08:30:00.5", "2000-01-01 08:30:01"},
        OrderCase{"1999/12/31 23:59:59", "2000/01/01"},
        // Texts that are no date-time come after every date-time and in
        // byte order among themselves.
        OrderCase{"2099/12/31 23:59:59", ""},
        OrderCase{"2000/01/01 8:30:00", "8:30"},
        OrderCase{"2000/01/01 24:00:00", "2000/01/01 25:00:00"},
        OrderCase{"2000/02/30", "abc"}, OrderCase{"abc", "abd"},
        OrderCase{"ab", "abc"}));

struct EqualCase {
  const char* a;
  const char* b;
};

void PrintTo(const EqualCase& c, std::ostream* out) {
  *out << c.a << " = " << c.b;
}

class TimeCollationEqualTest : public testing::TestWithParam<EqualCase> {};

TEST_P(TimeCollationEqualTest, SameMomentIsEqual) {
  EXPECT_EQ(Compare(GetParam().a, GetParam().b), 0);
  EXPECT_EQ(Compare(GetParam().b, GetParam().a), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, TimeCollationEqualTest,
    testing::Values(EqualCase{"2000/01/01 8:30:00", "2000-01-01 08:30:00"},
                    EqualCase{"2000/01/01 8:30:00", "2000-01-01T08:30:00"},
                    EqualCase{"2000/01/01 8:30:00", "2000/1/1 8:30"},
                    EqualCase{"2000/01/02", "2000-01-02 00:00:00"},
                    EqualCase{" 2000/01/01 8:30:00 ", "2000/01/01 8:30:00"},
                    EqualCase{"2000-01-01 08:30:00.250", "2000/01/01 8:30:00"},
                    EqualCase{"", ""}, EqualCase{"x", "x"}));

// The collation must read exactly the texts the program's own reader takes
// for date-times, and agree with it on their order.
TEST(TimeCollationTest, AgreesWithTheProgramsReader) {
  const std::vector<std::string> texts = {"2000/01/01 8:30:00",
                                          "2000/01/01 17:30:00",
                                          "2000/01/02",
                                          "2000-01-01 08:30:00",
                                          "2000-01-01T08:30:00",
                                          "2000/1/1 8:30",
                                          "2000-01-01 22:00:00.123456",
                                          "2000/01/01 8:30:60",
                                          "2000/13/01",
                                          "2000/02/29",
                                          "1900/02/29",
                                          "2000/01/01 8",
                                          "2000/01/01T8:30",
                                          "2000-01/01",
                                          "20000/01/01",
                                          "0001/01/01 0:00:01",
                                          "  2000/01/01\t",
                                          "2000/01/01 8:30:00 x",
                                          "2000/01/01 8:30:00.",
                                          "2000/01/01  8:30",
                                          "",
                                          "abc"};
  for (const std::string& a : texts) {
    std::optional<DateTime> parsed = ParseDateTime(U16(a));
    long long seconds = 0;
    EXPECT_EQ(qlok_time_parse(static_cast<int>(a.size()), a.data(), &seconds),
              parsed.has_value() ? 1 : 0)
        << a;
    if (parsed) {
      EXPECT_EQ(seconds, SecondsSinceEpoch(*parsed)) << a;
    }
  }
}

// SQLite needs a consistent total order: antisymmetric and transitive over
// any mixture of forms and of texts that are no date-time.
TEST(TimeCollationTest, IsATotalOrder) {
  const std::vector<std::string> texts = {"2000/01/01 8:30:00",
                                          "2000-01-01 08:30:00",
                                          "2000/01/01 17:30:00",
                                          "2000/01/02",
                                          "2000-01-02T05:00:00",
                                          "1999/12/31",
                                          "",
                                          "abc",
                                          "2000/01/01 25:00:00",
                                          "17:30",
                                          "2000/01/01 8:30:00 ",
                                          "ab"};
  auto sign = [](int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); };
  for (const auto& a : texts) {
    EXPECT_EQ(Compare(a, a), 0) << a;
    for (const auto& b : texts) {
      EXPECT_EQ(sign(Compare(a, b)), -sign(Compare(b, a))) << a << " | " << b;
      for (const auto& c : texts) {
        if (Compare(a, b) <= 0 && Compare(b, c) <= 0) {
          EXPECT_LE(Compare(a, c), 0) << a << " | " << b << " | " << c;
        }
      }
    }
  }
}

}  // namespace
}  // namespace qlok
