#include "grams/grams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "text/unicode.h"

namespace qlok {
namespace {

constexpr GramField kJob = GramField::kJobType;

Gram Uni(char16_t c) { return {kJob, c, std::nullopt}; }
Gram Bi(char16_t a, char16_t b) { return {kJob, a, b}; }

TEST(WordGramsTest, LiteralRunsGiveTheirGramsAsEachEngineReadsThePattern) {
  struct Case {
    const char* name;
    std::u16string word;
    LikeDialect dialect;
    std::optional<std::vector<Gram>> grams;
  } cases[] = {
      {"two kanji", u"事務", LikeDialect::kSqlite, {{Bi(u'事', u'務')}}},
      {"one character", u"介", LikeDialect::kSqlite, {{Uni(u'介')}}},
      {"ASCII folds",
       u"AbC",
       LikeDialect::kSqlite,
       {{Bi(u'a', u'b'), Bi(u'b', u'c')}}},
      {"full-width stays", u"ＡＢ", LikeDialect::kSqlite, {{Bi(u'Ａ', u'Ｂ')}}},
      {"half-width kana stays",
       u"ｱﾞ",
       LikeDialect::kPostgresql,
       {{Bi(u'ｱ', u'ﾞ')}}},
      {"underscore splits",
       u"a_bc",
       LikeDialect::kSqlite,
       {{Uni(u'a'), Bi(u'b', u'c')}}},
      {"percent splits",
       u"ab%c",
       LikeDialect::kPostgresql,
       {{Bi(u'a', u'b'), Uni(u'c')}}},
      {"wildcards alone", u"%_%", LikeDialect::kSqlite, std::nullopt},
      {"escaped percent",
       u"a\\%b",
       LikeDialect::kPostgresql,
       {{Bi(u'a', u'%'), Bi(u'%', u'b')}}},
      {"backslash is no escape on SQLite",
       u"a\\%b",
       LikeDialect::kSqlite,
       {{Bi(u'a', u'\\'), Uni(u'b')}}},
      {"last backslash escapes the closing percent",
       u"ab\\",
       LikeDialect::kPostgresql,
       {{Bi(u'a', u'b'), Bi(u'b', u'%')}}},
      {"escaped underscore", u"\\_", LikeDialect::kPostgresql, {{Uni(u'_')}}},
      {"quote", u"a'", LikeDialect::kSqlite, {{Bi(u'a', u'\'')}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WordGrams(kJob, c.word, c.dialect), c.grams) << c.name;
  }
}

TEST(TextGramsTest, EveryUnigramAndBigramFolded) {
  std::vector<Gram> grams;
  AppendTextGrams(GramField::kPlace, u"Aｂ", grams);
  const std::vector<Gram> expected = {{GramField::kPlace, u'a', std::nullopt},
                                      {GramField::kPlace, u'a', u'ｂ'},
                                      {GramField::kPlace, u'ｂ', std::nullopt}};
  EXPECT_EQ(grams, expected);
  grams.clear();
  AppendTextGrams(GramField::kPlace, u"", grams);
  EXPECT_TRUE(grams.empty());
}

// The property the index rests on: a text that holds a word (ASCII letters
// in any case) holds every gram of the word.
TEST(TextGramsTest, AWordsGramsAreAmongTheGramsOfEveryTextHoldingIt) {
  const std::u16string alphabet = u"aAbBｂＢ事務ｱﾞ%_\\";
  std::mt19937 random(16);
  for (int round = 0; round < 2000; ++round) {
    std::u16string text;
    const int length = 1 + static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i)
      text += alphabet[random() % alphabet.size()];
    const size_t begin = random() % text.size();
    std::u16string word = text.substr(begin, 1 + random() % 4);
    // The word as a visitor may type it, in the other letter case.
    for (char16_t& c : word) {
      if (random() % 2 == 0 && c >= u'a' && c <= u'z') c -= 32;
    }
    std::vector<Gram> text_grams;
    AppendTextGrams(kJob, text, text_grams);
    for (LikeDialect dialect :
         {LikeDialect::kSqlite, LikeDialect::kPostgresql}) {
      std::optional<std::vector<Gram>> needed = WordGrams(kJob, word, dialect);
      if (!needed) continue;
      if (dialect == LikeDialect::kPostgresql &&
          word.find(u'\\') != std::u16string::npos) {
        continue;  // there the word is another pattern than the text
      }
      for (const Gram& gram : *needed) {
        EXPECT_NE(std::find(text_grams.begin(), text_grams.end(), gram),
                  text_grams.end())
            << U8(text) << " / " << U8(word);
      }
    }
  }
}

TEST(GramEncodingTest, TokensAreLettersAndKeysTellFieldsApart) {
  EXPECT_EQ(GramToken(Uni(u'a')), "jaagb");
  EXPECT_EQ(GramToken({GramField::kContent, u'事', u'務'}), "ceoilfcnj");
  EXPECT_NE(GramKey(Bi(u'東', u'京')),
            GramKey({GramField::kPlace, u'東', u'京'}));
  EXPECT_NE(GramKey(Uni(u'東')), GramKey(Bi(u'東', 0)));
}

}  // namespace
}  // namespace qlok
