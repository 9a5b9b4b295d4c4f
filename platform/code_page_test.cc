#include "platform/code_page.h"

#include <gtest/gtest.h>

#include "text/unicode.h"

namespace qlok {
namespace {

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : bytes) {
    unsigned char b = static_cast<unsigned char>(ch);
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

TEST(CodePageTest, ToAnsiWritesTheWindowsCodes) {
  struct Case {
    std::u16string text;
    std::string hex;
  } cases[] = {
      {u"", ""},
      {u"abc=1&%", "6162633D312625"},
      {u"あ", "82A0"},
      {u"ア", "8341"},
      {u"～", "8160"},  // full-width tilde, as Windows writes it
      {u"━", "84AA"},
      {u"①", "8740"},  // NEC row 13
      {u"㈱", "878A"},
      {u"髙", "FBFC"},  // IBM extension
      {u"ｱ", "B1"},     // half-width katakana is one byte
      {u"求人検索", "8B81906C8C9F8DF5"},
      {u"\r\n", "0D0A"},
      {std::u16string(1, u'\0'), "00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Hex(ToAnsi(c.text)), c.hex) << U8(c.text);
  }
}

TEST(CodePageTest, ToAnsiWritesAQuestionMarkPerMissingCharacter) {
  struct Case {
    std::u16string text;
    std::string bytes;
  } cases[] = {
      {u"€", "?"},
      {u"a€b", "a?b"},
      {u"한국", "??"},
      {u"x😀y", "x?y"},  // a surrogate pair is one character
      {std::u16string(u"a") + char16_t(0xD800) + u"b", "a?b"},  // lone
      {std::u16string(u"a") + char16_t(0xDC00), "a?"},
      {std::u16string(1, char16_t(0xD83D)), "?"},  // high surrogate at end
      {u"€あ€", "?\x82\xA0?"},  // conversion resumes after each gap
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToAnsi(c.text), c.bytes) << U8(c.text);
  }
}

TEST(CodePageTest, RoundTripsTheCharactersOfTheSite) {
  for (std::u16string text :
       {u"～", u"━", u"①", u"㈱", u"髙", u"【従業員数】",
        u"お試し求人検索＆求人マッチメール登録", u"ｱｲｳ", u"\u3000", u"｜"}) {
    EXPECT_EQ(FromAnsi(ToAnsi(text)), text) << U8(text);
  }
}

TEST(CodePageTest, FromAnsiReplacesWhatTheCodePageLacks) {
  struct Case {
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"", u""},
      {"\x82\xA0", u"あ"},
      {"\x83"
       "A",
       u"ア"},
      {"\xB1\xB2", u"ｱｲ"},  // two single-byte characters
      {"\x85\x40", u"・"},  // a pair in no row of the code page
      {"a\x85\x40z", u"a・z"},
      {"\x80", u"\uFFFD"},  // bytes that are no character
      {"\xA0", u"\uFFFD"},
      {"\xFF", u"\uFFFD"},
      {"\x82", u"\uFFFD"},      // a lead byte at the end
      {"\x82\n", u"\uFFFD\n"},  // the byte after a lone lead stays
      {"\x82%41", u"\uFFFD%41"},
      {"\x80\x82\xA0", u"\uFFFDあ"},
      {std::string("\0a", 2), std::u16string(u"\0a", 2)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FromAnsi(c.bytes), c.text) << Hex(c.bytes);
  }
}

TEST(CodePageTest, LongTextsConvertWhole) {
  // Longer than the converter's working buffer, with gaps spread through.
  std::u16string text;
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    text += u"求€a";
    expected += "\x8B\x81?a";
  }
  EXPECT_EQ(ToAnsi(text), expected);
  std::u16string back = FromAnsi(expected);
  ASSERT_EQ(back.size(), 9000u);
  EXPECT_EQ(back.substr(0, 6), u"求?a求?a");
}

}  // namespace
}  // namespace qlok
