#include "text/like.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "text/unicode.h"

namespace qlok {
namespace {

// The pattern of a public-service job number (split so that no "??-"
// trigraph warning comes up).
constexpr char16_t kPublicNumber[] =
    u"*?????"
    u"-????*";

TEST(MatchesLikeTest, Table) {
  struct Case {
    std::u16string text;
    std::u16string pattern;
    bool matches;
  } cases[] = {
      // The public-service job number.
      {u"13010-12345671", kPublicNumber, true},
      {u"No.13010-1234567 (2)", kPublicNumber, true},
      {u"1301-1234567", kPublicNumber, false},
      {u"13010-123", kPublicNumber, false},
      {u"13010－1234567", kPublicNumber, false},  // full-width hyphen
      {u"", u"", true},
      {u"", u"*", true},
      {u"", u"?", false},
      {u"a", u"", false},
      {u"abc", u"abc", true},
      {u"abc", u"ab", false},
      {u"abc", u"abcd", false},
      {u"Abc", u"abc", false},  // exact code units
      {u"ａ", u"a", false},
      {u"abc", u"a*", true},
      {u"abc", u"*c", true},
      {u"abc", u"a*b*c", true},
      {u"abc", u"a***c", true},
      {u"abcbc", u"*bc", true},
      {u"abcbd", u"*bc", false},
      {u"aXbXc", u"*X?X*", true},
      {u"mississippi", u"m*iss*ppi", true},
      {u"mississippi", u"m*iss*iss*ppi", true},
      {u"mississippi", u"m*iss*iss*iss*", false},
      {u"a7", u"a#", true},
      {u"a７", u"a#", false},  // digits 0-9 only
      {u"ab", u"a#", false},
      {u"b", u"[abc]", true},
      {u"d", u"[abc]", false},
      {u"d", u"[!abc]", true},
      {u"b", u"[!abc]", false},
      {u"m", u"[a-z]", true},
      {u"M", u"[a-z]", false},
      {u"M", u"[!a-z]", true},
      {u"q", u"[a-cx-z]", false},
      {u"y", u"[a-cx-z]", true},
      {u"-", u"[-a]", true},
      {u"-", u"[a-]", true},
      {u"m", u"[z-a]", false},  // reversed range holds nothing
      {u"*", u"[*]", true},     // specials stand for themselves in a list
      {u"x", u"[*]", false},
      {u"?", u"[?]", true},
      {u"#", u"[#]", true},
      {u"[", u"[[]", true},
      {u"ab", u"a[]b", true},  // "[]" is the empty text
      {u"a", u"[!]", true},
      {u"", u"[!]", false},
      // An unclosed "[" and a lone "]" stand for themselves.
      {u"[", u"[", true},
      {u"a[b", u"a[b", true},
      {u"x[ab", u"*[a*", true},
      {u"]", u"]", true},
      {u"a]", u"[a]]", true},
      // Japanese place names as the job rendering compares them.
      {u"大阪府大阪市北区中之島１丁目", u"*大阪市北*", true},
      {u"大阪府大阪市北区中之島１丁目", u"*横浜市中*", false},
      {u"港区芝?丁目", u"*芝?丁*", true},
      // A surrogate pair is two code units.
      {u"\U00020BB7", u"??", true},
      {u"\U00020BB7", u"?", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesLike(c.text, c.pattern), c.matches)
        << U8(c.text) << " vs " << U8(c.pattern);
  }
}

TEST(MatchesLikeTest, ManyStarsStayFast) {
  // A naive backtracking matcher needs about text^stars steps here.
  std::u16string text(20000, u'a');
  std::u16string pattern;
  for (int i = 0; i < 30; ++i) pattern += u"*a";
  pattern += u"*b";
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(MatchesLike(text, pattern));
  EXPECT_TRUE(MatchesLike(text + u'b', pattern));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
}  // namespace qlok
