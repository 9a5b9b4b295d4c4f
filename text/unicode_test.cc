#include "text/unicode.h"

#include <gtest/gtest.h>

namespace qlok {
namespace {

TEST(UnicodeTest, Utf8RoundTripsThroughUtf16) {
  for (std::string s :
       {"", "abc", "お試し求人", "～━①㈱髙", "\xF0\x9F\x98\x80"}) {
    EXPECT_EQ(U8(U16(s)), s);
  }
  EXPECT_EQ(U16("\xF0\x9F\x98\x80").size(), 2u);  // a surrogate pair
  EXPECT_EQ(U16("a\xFF"
                "b"),
            u"a\uFFFDb");
  EXPECT_EQ(U16("\xE3\x81"), u"\uFFFD\uFFFD");  // cut short
  EXPECT_EQ(U16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
}

TEST(UnicodeTest, FindIgnoresOnlyAsciiCase) {
  EXPECT_EQ(FindIgnoringAsciiCase(u"xxAAA=1", u"aaa="), 2u);
  EXPECT_EQ(FindIgnoringAsciiCase(u"ａａａ=", u"aaa="), std::u16string::npos);
  EXPECT_EQ(FindIgnoringAsciiCase(u"aga=1&aga=1", u"AGA=1", 1), 6u);
  EXPECT_EQ(FindIgnoringAsciiCase(u"ab", u"abc"), std::u16string::npos);
}

TEST(UnicodeTest, HalfWidth) {
  EXPECT_EQ(ToHalfWidth(u"３５"), u"35");
  EXPECT_EQ(ToHalfWidth(u"ＡＢ　！～"), u"AB !~");
  EXPECT_EQ(ToHalfWidth(u"事務"), u"事務");
}

TEST(UnicodeTest, NumericValueReadsTheLeadingNumber) {
  struct Case {
    std::u16string text;
    double value;
  } cases[] = {
      {u"", 0},       {u"abc", 0},     {u"35", 35},    {u"  12x", 12},
      {u"-5", -5},    {u"3.5kg", 3.5}, {u"1e3", 1000}, {u"1e", 1},
      {u"0830", 830}, {u".5", 0.5},    {u"+7", 7},     {u"1 2", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NumericValue(c.text), c.value) << U8(c.text);
  }
}

TEST(UnicodeTest, FormatNumberWritesPlainDigits) {
  EXPECT_EQ(FormatNumber(35), u"35");
  EXPECT_EQ(FormatNumber(-2), u"-2");
  EXPECT_EQ(FormatNumber(0), u"0");
  EXPECT_EQ(FormatNumber(3.5), u"3.5");
  EXPECT_EQ(FormatNumber(100000), u"100000");
  EXPECT_EQ(FormatNumber(1e20), u"1E+20");
  EXPECT_EQ(Digits(-1), u"-1");
}

}  // namespace
}  // namespace qlok
