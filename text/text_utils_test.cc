#include "text/text_utils.h"

#include <gtest/gtest.h>

#include "text/unicode.h"

namespace qlok {
namespace {

// The sanitiser as a literal loop of n - 2 passes, each replacing the first
// occurrence of every symbol; the fast version must agree with it.
std::u16string SanitizeByPasses(std::u16string_view x) {
  static const std::u16string kFrom = u"%/:',&+|;=\\?*<>";
  static const std::u16string kTo = u"％／：’、＆＋｜；＝￥？※aa";
  std::u16string s(x);
  const bool web = x.find(u"http") != x.npos || x.find(u"www") != x.npos;
  for (size_t pass = 0; s.size() > 2 && pass < s.size() - 2; ++pass) {
    if (s.size() <= 3) continue;
    for (size_t k = web ? 3 : 0; k < kFrom.size(); ++k) {
      size_t at = s.find(kFrom[k]);
      if (at != s.npos) s[at] = kTo[k];
    }
  }
  return s;
}

TEST(SanitizeTextTest, ReplacesSymbols) {
  struct Case {
    std::u16string in;
    std::u16string out;
  } cases[] = {
      {u"abc", u"abc"},
      {u"<'>", u"<'>"},  // three characters or fewer stay as they are
      {u"a&b=c", u"a＆b＝c"},
      {u"see http://x/y", u"see http://x/y"},
      {u"1/2:3, a;b", u"1／2：3、 a；b"},
      {u"<b>x", u"abax"},
      {u"////", u"／／//"},
      {u"HTTP://A", u"HTTP：／／A"},
      {u"www.a/b%c'd", u"www.a/b%c’d"},
      {u"a+b|c\\d?e*f", u"a＋b｜c￥d？e※f"},
      {u"''''''", u"’’’’''"},
      {u"", u""},
      {u"事務　経理", u"事務　経理"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SanitizeText(c.in), c.out) << U8(c.in);
  }
}

TEST(SanitizeTextTest, AgreesWithPassByPassReplacement) {
  const std::u16string samples[] = {
      u"%%%%%",       u"a%b%c%d",          u"http%%%%",
      u"'a'b'c'd'e'", u"<<<<>>>>",         u"x=y&z=w;q",
      u"www////:::",  u"%/:',&+|;=\\?*<>", u"ab'",
  };
  for (const std::u16string& s : samples) {
    EXPECT_EQ(SanitizeText(s), SanitizeByPasses(s)) << U8(s);
  }
}

TEST(SanitizeTextTest, LongTextsStayFast) {
  std::u16string big(200000, u'\'');
  std::u16string out = SanitizeText(big);
  EXPECT_EQ(out.substr(0, 3), u"’’’");
  EXPECT_EQ(out.substr(out.size() - 2), u"''");
  EXPECT_EQ(out.size(), big.size());
}

TEST(CheckMailAddressTest, Plausibility) {
  struct Case {
    std::u16string address;
    std::u16string verdict;
  } cases[] = {
      {u"a@b.c", u"y"},
      {u"@b.cd", u"no"},  // nothing before the at sign
      {u"ab@cd", u"no"},  // no full stop
      {u"a.b@", u"y"},
      {u"a@.", u"no"},  // three characters
      {u"a@b.", u"y"},  // four characters, at sign second, full stop last
      {u"", u"no"},
      {u"a@b@c.d", u"y"},
      // Values that would break into the record or the mail dialogue.
      {u"a@b.c\r\nRCPT TO:<x@y.z>", u"no"},
      {u"a@b.c\n", u"no"},
      {u"a@b.c\t", u"no"},
      {std::u16string(u"a@b.c\0", 6), u"no"},
      {u"a@b.c\x7F", u"no"},
      {u"<a@b.c>", u"no"},
      {u"a@b.c>", u"no"},
      // Values no mail can go to: blanks of any width, controls of the
      // second range, more than one address.
      {u"a b@c d.e", u"no"},
      {u"a@b.c ", u"no"},
      {u"a@b.c\u3000", u"no"},
      {u"a@b.c\u00A0", u"no"},
      {u"=is1\u0097ako@example.jp", u"no"},
      {u"a@b.c\u2028", u"no"},
      {u"a@b.c,d@e.f", u"no"},
      {u"a@b.c;d@e.f", u"no"},
      {u"a.b+c_d-e@f.example.jp", u"y"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckMailAddress(c.address), c.verdict) << U8(c.address);
  }
}

TEST(CrLfToBrTest, ReplacesPairsInPlace) {
  struct Case {
    std::u16string in;
    std::u16string out;
  } cases[] = {
      {u"one\r\ntwo\r\n", u"one<BR>two<BR>"},
      {u"\r\n\r\n", u"<BR><BR>"},
      {u"\n\r", u"\n\r"},
      {u"", u""},
      {u"\r", u"\r"},
      {u"a\r\r\n\n", u"a\r<BR>\n"},
      {u"ab\r\n", u"ab<BR>"},
  };
  for (const Case& c : cases) {
    std::u16string text = c.in;
    EXPECT_EQ(CrLfToBr(text), c.out) << U8(c.in);
    EXPECT_EQ(text, c.out) << U8(c.in);
  }
}

TEST(CrLfToBrTest, ConvertsTextsBeyondSixteenBitPositions) {
  std::u16string text;
  for (int i = 0; i < 20000; ++i) text += u"x\r\n";
  std::u16string out = CrLfToBr(text);
  EXPECT_EQ(out.size(), 20000u * 5);
  EXPECT_EQ(out.substr(out.size() - 5), u"x<BR>");
  EXPECT_EQ(out.find(u'\r'), std::u16string::npos);
}

}  // namespace
}  // namespace qlok
