#include "platform/code_page.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <bit>
#include <cstdlib>
#include <optional>

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

// The C library's own conversion between CP932 and UTF-16 of `in`, or
// nullopt when it refuses some of it.
std::optional<std::string> LibraryConversion(iconv_t cd, std::string in) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out(in.size() * 4 + 8, '\0');
  char* in_ptr = in.data();
  size_t in_left = in.size();
  char* out_ptr = out.data();
  size_t out_left = out.size();
  if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) ==
          static_cast<size_t>(-1) ||
      iconv(cd, nullptr, nullptr, &out_ptr, &out_left) ==
          static_cast<size_t>(-1))
    return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

TEST(CodePageTest, EveryCodeConvertsAsTheLibraryConvertsUtf16) {
  // Every character of the basic plane one way, every single byte and
  // every byte pair the other way: what the C library converts between
  // CP932 and UTF-16 by itself, ours converts the same; what it refuses
  // becomes "?" on the way out (the cases above show the way in).
  static_assert(sizeof(char16_t) == 2);
  const char* utf16 =
      std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
  iconv_t out = iconv_open("CP932", utf16);
  iconv_t in = iconv_open(utf16, "CP932");
  ASSERT_NE(out, reinterpret_cast<iconv_t>(-1));
  ASSERT_NE(in, reinterpret_cast<iconv_t>(-1));
  int converted = 0;
  for (char32_t c = 0; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const char16_t unit = static_cast<char16_t>(c);
    const std::optional<std::string> expected = LibraryConversion(
        out, std::string(reinterpret_cast<const char*>(&unit), 2));
    if (expected) ++converted;
    ASSERT_EQ(Hex(ToAnsi(std::u16string(1, unit))), Hex(expected.value_or("?")))
        << "U+"
        << Hex(std::string{static_cast<char>(c >> 8),
                           static_cast<char>(c & 0xFF)});
  }
  EXPECT_GT(converted, 7000);  // the code page holds some 7,900 characters
  for (int lead = 0; lead <= 0xFF; ++lead) {
    for (int trail = -1; trail <= 0xFF; ++trail) {
      std::string bytes(1, static_cast<char>(lead));
      if (trail >= 0) bytes += static_cast<char>(trail);
      const std::optional<std::string> expected = LibraryConversion(in, bytes);
      if (!expected) continue;
      const std::u16string text = FromAnsi(bytes);
      ASSERT_EQ(Hex(std::string(reinterpret_cast<const char*>(text.data()),
                                text.size() * 2)),
                Hex(*expected))
          << Hex(bytes);
    }
  }
  iconv_close(out);
  iconv_close(in);
}

// The library's conversion of `text` to CP932, character by character,
// a "?" for each character it refuses.
std::string LibraryCodes(std::u16string_view text) {
  const char* utf16 =
      std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
  iconv_t cd = iconv_open("CP932", utf16);
  std::string whole;
  for (size_t i = 0; i < text.size(); ++i) {
    size_t units = 1;
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
      units = 2;
    const std::optional<std::string> code = LibraryConversion(
        cd, std::string(reinterpret_cast<const char*>(&text[i]), units * 2));
    whole += code.value_or("?");
    i += units - 1;
  }
  iconv_close(cd);
  return whole;
}

TEST(CodePageTest, TextsConvertAsTheLibraryConvertsThemWhole) {
  // Texts of many characters, in the forms pages take (ASCII runs between
  // the others, characters side by side, missing ones and surrogate pairs
  // among them), give exactly what the C library gives for each character.
  // In a process of its own, so that no character's code is known
  // beforehand and the first text asks for all of them at once.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::u16string every;      // every character of the basic plane in a row
  std::u16string separated;  // each between two ASCII characters
  for (char32_t c = 1; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    every += static_cast<char16_t>(c);
    separated += static_cast<char16_t>(c);
    separated += static_cast<char16_t>(u' ' + c % 95);
  }
  const std::u16string pairs = u"a😀ｱ\U0001F600あ~\\\u00A5" +
                               std::u16string(1, char16_t(0xDC00)) + u"ｱ" +
                               std::u16string(1, char16_t(0xD800)) + u"字";
  const std::string every_codes = LibraryCodes(every);
  const std::string separated_codes = LibraryCodes(separated);
  const std::string pair_codes = LibraryCodes(pairs);
  // Some characters convert to a single byte, most to two.
  EXPECT_GT(every_codes.size(), every.size());
  EXPECT_EXIT(
      {
        const bool same =
            ToAnsi(pairs) == pair_codes && ToAnsi(every) == every_codes &&
            ToAnsi(separated) == separated_codes && ToAnsi(pairs) == pair_codes;
        std::exit(same ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qlok
