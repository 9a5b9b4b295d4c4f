#include "frame/url_decode.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "frame/request_fields.h"
#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using ::testing::HasSubstr;

TEST(UrlDecodeTest, DecodesTheFormEncoding) {
  struct Case {
    std::u16string input;
    std::u16string result;
  } cases[] = {
      {u"abc=xyz", u"abc=xyz"},
      {u"", u""},
      {u"a+b%21", u"a b!"},
      {u"%82%A0", u"あ"},
      {u"%82%a0", u"あ"},  // digits in either case
      {u"%83A", u"ア"},    // second byte sent unescaped
      {u"%41%42", u"AB"},
      {u"x=%26y", u"x=&y"},
      {u"a%3Db", u"a=b"},
      {u"+++", u"   "},
      {u"%2B", u"+"},
      {u"%25", u"%"},
      {u"%00", std::u16string(1, u'\0')},
      {u"%4", std::u16string(1, u'\x04')},  // one digit left at the end
      {u"a%7F", u"a\x7F"},
      {u"%B1%B2", u"ｱｲ"},  // no lead byte: two half-width katakana
      {u"%B1A", u"ｱA"},
      {u"%8F%A0%82%A0", u"匠あ"},
      {u"aaa=%8B%81%90l%8C%9F%8D%F5&zzz=1", u"aaa=求人検索&zzz=1"},
      {u"%81%40", u"\u3000"},    // the full-width blank between words
      {u"%85%40", u"・"},        // a pair the code page leaves undefined
      {u"%82%0A", u"\uFFFD\n"},  // a lead byte without a trail byte
      {u"..%82%A0..", u"..あ.."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UrlDecode(c.input), c.result) << U8(c.input);
  }
}

TEST(UrlDecodeTest, BrokenEscapesFail) {
  struct Case {
    std::u16string input;
    std::string message;
  } cases[] = {
      {u"abc%", "position 4"},
      {u"%ZZ", "position 1"},
      {u"a=%G1", "position 3"},
      {u"%1G", "position 1"},
      {u"%-1", "position 1"},
      {u"x%82", "position 2"},  // the pair has no second byte
      {u"%82%", "position 4"},  // the second escape has no digits
      {u"%82%ZZ", "position 4"},
      {u"%E3%81%82", "position 7"},  // a UTF-8 form: the last byte is alone
      {std::u16string(u"a=%\0", 4), "\"%\\x00\" at position 3"},
  };
  for (const Case& c : cases) {
    try {
      UrlDecode(c.input);
      ADD_FAILURE() << "no failure for " << U8(c.input);
    } catch (const Failure& failure) {
      EXPECT_THAT(failure.what(), HasSubstr(c.message)) << U8(c.input);
    }
  }
}

TEST(UrlDecodeTest, KeepsCharactersOutsideSevenBits) {
  // The posted string holds 7-bit text only, but the decoder must not lose
  // what it does not expect.
  EXPECT_EQ(UrlDecode(u"あ+い"), u"あ い");
  EXPECT_EQ(UrlDecode(u"%B1ｲ"), u"ｱｲ");  // one-byte second character
  EXPECT_THROW(UrlDecode(u"%82あ"), Failure);
}

TEST(AppendLineTest, EndsEveryLineWithCrLf) {
  struct Case {
    std::vector<std::u16string> lines;
    std::u16string page;
  } cases[] = {
      {{u""}, u"\r\n"},
      {{u"one", u"two", u"three"}, u"one\r\ntwo\r\nthree\r\n"},
      {{u"a<BR>b\r\nc"}, u"a<BR>b\r\nc\r\n"},
  };
  for (const Case& c : cases) {
    std::u16string page = u"head\r\n";
    for (const std::u16string& line : c.lines) AppendLine(page, line);
    EXPECT_EQ(page, u"head\r\n" + c.page);
  }
}

}  // namespace
}  // namespace qlok
