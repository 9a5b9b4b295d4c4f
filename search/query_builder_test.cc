#include "search/query_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "text/unicode.h"

namespace qlok {
namespace {

SearchRequest WithNothing() {
  SearchRequest r;
  r.disability_choice = u"2";
  return r;
}

TEST(BuildQueryTest, Statements) {
  struct Case {
    const char* what;
    std::function<void(SearchRequest&)> set;
    std::u16string query;
  } cases[] = {
      {"example request",
       [](SearchRequest& r) {
         r.job_type_words = {u"事務", u"経理", u"", u"", u""};
         r.days[kSaturday] = r.days[kSunday] = true;
         r.start_stamp = u"2000/01/01 8:30:00";
         r.end_stamp = u"2000/01/01 17:30:00";
         r.disability_choice = u"0";
       },
       u"SELECT * FROM 求人 WHERE (職種1 like '%事務%' or 職種2 like '%事務%' "
       u"or 職種3 like '%事務%' or 職種1 like '%経理%' or 職種2 like '%経理%' "
       u"or 職種3 like '%経理%') AND 日 >= 2 AND 土 >= 2 AND ((始時 >= "
       u"'2000/01/01 8:30:00' and 終時 <= '2000/01/01 17:30:00') or (始時1 >= "
       u"'2000/01/01 8:30:00' and 終時1 <= '2000/01/01 17:30:00') or (始時2 >= "
       u"'2000/01/01 8:30:00' and 終時2 <= '2000/01/01 17:30:00')) AND 障専= 0 "
       u"ORDER BY rank DESC limit 1000;"},
      {"no condition", [](SearchRequest& r) {}, u"求人"},
      {"empty disability choice",
       [](SearchRequest& r) { r.disability_choice = u""; }, u"求人"},
      {"other disability choice",
       [](SearchRequest& r) { r.disability_choice = u"01"; }, u"求人"},
      {"general jobs only",
       [](SearchRequest& r) { r.disability_choice = u"0"; },
       u"SELECT * FROM 求人 WHERE 障専= 0 ORDER BY rank DESC limit 1000;"},
      {"jobs for people with disabilities only",
       [](SearchRequest& r) { r.disability_choice = u"1"; },
       u"SELECT * FROM 求人 WHERE 障専= 1 ORDER BY rank DESC limit 1000;"},
      {"regular and part-time",
       [](SearchRequest& r) { r.boxes[kAga] = r.boxes[kAgc] = true; },
       u"SELECT * FROM 求人 WHERE (正=1 or パート=1 or バイト=1) ORDER BY rank "
       u"DESC limit 1000;"},
      {"every employment form",
       [](SearchRequest& r) {
         for (BoxFlag b : {kAga, kAgb, kAgc, kAge, kAgea, kAgf}) {
           r.boxes[b] = true;
         }
       },
       u"SELECT * FROM 求人 WHERE (正=1 or フル非=1 or パート=1 or バイト=1 or "
       u"派=1 or 臨=1 or 紹予派=1) ORDER BY rank DESC limit 1000;"},
      {"welfare and age",
       [](SearchRequest& r) {
         r.boxes[kAra] = r.boxes[kArd] = true;
         r.age = 35;
       },
       u"SELECT * FROM 求人 WHERE 雇=1 AND ken=1 AND (齢上 >= 35 and 齢下 <= "
       u"35) ORDER BY rank DESC limit 1000;"},
      {"every welfare box",
       [](SearchRequest& r) {
         for (BoxFlag b : {kAra, kArb, kArc, kArd, kAri, kArj, kArk}) {
           r.boxes[b] = true;
         }
       },
       u"SELECT * FROM 求人 WHERE 雇=1 AND 労=1 AND ken=1 AND 厚=1 AND "
       u"カー通勤 "
       u"> -2 AND 単 >= -1 AND 世 >= -1 ORDER BY rank DESC limit 1000;"},
      {"every day", [](SearchRequest& r) { r.days.fill(true); },
       u"SELECT * FROM 求人 WHERE 日 >= 2 AND 月 >= 2 AND 火 >= 2 AND 水 >= 2 "
       u"AND 木 >= 2 AND 金 >= 2 AND 土 >= 2 AND 祝 >= 2 ORDER BY rank DESC "
       u"limit 1000;"},
      {"content words",
       [](SearchRequest& r) {
         r.content_words = {u"看護", u"介護", u""};
       },
       u"SELECT * FROM 求人 WHERE (事業内容 like '%看護%' or 職種1 like "
       u"'%看護%' or 必免1 like '%看護%' or 必免2 like '%看護%' or 必免3 like "
       u"'%看護%' or 職内1 like '%看護%' or 自由 like '%看護%' or 事業内容 "
       u"like "
       u"'%介護%' or 職種1 like '%介護%' or 必免1 like '%介護%' or 必免2 like "
       u"'%介護%' or 必免3 like '%介護%' or 職内1 like '%介護%' or 自由 like "
       u"'%介護%') ORDER BY rank DESC limit 1000;"},
      {"only the third content word",
       [](SearchRequest& r) {
         r.content_words = {u"", u"", u"x"};
       },
       u"SELECT * FROM 求人 WHERE (事業内容 like '%x%' or 職種1 like '%x%' or "
       u"必免1 like '%x%' or 必免2 like '%x%' or 必免3 like '%x%' or 職内1 "
       u"like '%x%' or 自由 like '%x%') ORDER BY rank DESC limit 1000;"},
      {"places",
       [](SearchRequest& r) {
         r.place_words = {u"", u"横浜", u"", u"", u""};
       },
       u"SELECT * FROM 求人 WHERE (就労場所1 like '%横浜%' or 就労場所2 like "
       u"'%横浜%' or 就労場所3 like '%横浜%' or 就労場所4 like '%横浜%' or "
       u"就労場所5 like '%横浜%') ORDER BY rank DESC limit 1000;"},
      {"start without end",
       [](SearchRequest& r) { r.start_stamp = u"2000/01/01 8:30:00"; },
       u"求人"},
      {"end without start",
       [](SearchRequest& r) { r.end_stamp = u"2000/01/01 8:30:00"; }, u"求人"},
      {"fifth word with spaces",
       [](SearchRequest& r) { r.job_type_words[4] = u"e　f"; },
       u"SELECT * FROM 求人 WHERE (職種1 like '%e　f%' or 職種2 like '%e　f%' "
       u"or 職種3 like '%e　f%') ORDER BY rank DESC limit 1000;"},
      {"fractional and negative ages", [](SearchRequest& r) { r.age = -2.5; },
       u"SELECT * FROM 求人 WHERE (齢上 >= -2.5 and 齢下 <= -2.5) ORDER BY "
       u"rank DESC limit 1000;"},
      {"groups stand in slot order",
       [](SearchRequest& r) {
         r.disability_choice = u"1";
         r.age = 20;
         r.boxes[kArj] = true;
         r.days[kPublicHoliday] = true;
         r.boxes[kArk] = true;
         r.boxes[kAgf] = true;
         r.place_words[0] = u"p";
       },
       u"SELECT * FROM 求人 WHERE (就労場所1 like '%p%' or 就労場所2 like "
       u"'%p%' "
       u"or 就労場所3 like '%p%' or 就労場所4 like '%p%' or 就労場所5 like "
       u"'%p%') AND (臨=1) AND カー通勤 > -2 AND 祝 >= 2 AND 世 >= -1 AND "
       u"(齢上 "
       u">= 20 and 齢下 <= 20) AND 障専= 1 ORDER BY rank DESC limit 1000;"},
  };
  for (const Case& c : cases) {
    SearchRequest r = WithNothing();
    c.set(r);
    EXPECT_EQ(U8(BuildQuery(r)), U8(c.query)) << c.what;
  }
}

TEST(BuildQueryTest, SlotsHoldTheirGroups) {
  SearchRequest r = WithNothing();
  r.boxes[kArc] = true;
  r.days[kMonday] = true;
  r.start_stamp = u"2000/01/01 22:00:00";
  r.end_stamp = u"2000/01/02 5:00:00";
  ConditionSlots slots = FillConditionSlots(r);
  std::vector<size_t> filled;
  for (size_t k = 0; k < slots.size(); ++k) {
    if (!slots[k].empty()) filled.push_back(k + 1);
  }
  EXPECT_EQ(filled, (std::vector<size_t>{17, 29, 41}));
  EXPECT_EQ(slots[16], u"厚=1");
  EXPECT_EQ(slots[28], u"月 >= 2");
  EXPECT_EQ(AssembleQuery(ConditionSlots{}), u"求人");
}

// Splits a statement into its quoted literals (with doubled quotes read as
// one) and the rest, where each literal stands as '?'. A literal that never
// ends is reported as unterminated.
struct Parsed {
  std::u16string skeleton;
  std::vector<std::u16string> literals;
  bool unterminated = false;
};
Parsed ParseLiterals(std::u16string_view sql) {
  Parsed p;
  for (size_t i = 0; i < sql.size(); ++i) {
    if (sql[i] != u'\'') {
      p.skeleton.push_back(sql[i]);
      continue;
    }
    std::u16string literal;
    bool closed = false;
    for (++i; i < sql.size(); ++i) {
      if (sql[i] != u'\'') {
        literal.push_back(sql[i]);
      } else if (i + 1 < sql.size() && sql[i + 1] == u'\'') {
        literal.push_back(u'\'');
        ++i;
      } else {
        closed = true;
        break;
      }
    }
    p.unterminated |= !closed;
    p.literals.push_back(literal);
    p.skeleton += u"'?'";
  }
  return p;
}

TEST(BuildQueryTest, QuotesStayInsideTheirLiterals) {
  const std::u16string words[] = {u"'", u"a'", u"''", u"' or 1=1 --",
                                  u"x'); DROP TABLE 求人; --"};
  SearchRequest plain = WithNothing();
  plain.job_type_words = {u"w", u"w", u"w", u"w", u"w"};
  plain.place_words = {u"w", u"w", u"w", u"w", u"w"};
  plain.content_words = {u"w", u"w", u"w"};
  plain.start_stamp = plain.end_stamp = u"w";
  const Parsed expected = ParseLiterals(BuildQuery(plain));

  for (const std::u16string& word : words) {
    SearchRequest r = WithNothing();
    r.job_type_words.fill(word);
    r.place_words.fill(word);
    r.content_words.fill(word);
    r.start_stamp = r.end_stamp = word;
    const Parsed parsed = ParseLiterals(BuildQuery(r));
    EXPECT_FALSE(parsed.unterminated) << U8(word);
    EXPECT_EQ(U8(parsed.skeleton), U8(expected.skeleton)) << U8(word);
    ASSERT_EQ(parsed.literals.size(), expected.literals.size()) << U8(word);
    for (size_t k = 0; k < parsed.literals.size(); ++k) {
      const bool pattern = expected.literals[k] == u"%w%";
      EXPECT_EQ(parsed.literals[k], pattern ? u"%" + word + u"%" : word)
          << U8(word) << " literal " << k;
    }
  }
}

TEST(BuildQueryTest, PostedQuotesAndOddTimesStayOutOfTheStatement) {
  // Texts of three characters are not sanitised, longer ones keep their last
  // two quotes; the times would pass the checks with a quote in them.
  std::u16string posted =
      u"_su=is1&aaa=&aa6=1&aa8=100&aab=&aac=''''''&aad='　'&aae=&"
      u"aaf=01'05&aag=02'--30&aah=a''&aai=0&asa=2&zzz=end";
  SearchRequest r = ReadSearchRequest(posted);
  EXPECT_EQ(r.job_type_words[0], u"’’’’''");
  EXPECT_EQ(r.content_words[0], u"'");
  EXPECT_EQ(r.content_words[1], u"'");
  EXPECT_EQ(r.place_words[0], u"a''");
  EXPECT_EQ(r.start_stamp, u"");
  EXPECT_EQ(r.end_stamp, u"");

  const Parsed parsed = ParseLiterals(BuildQuery(r));
  EXPECT_FALSE(parsed.unterminated);
  std::vector<std::u16string> expected;
  for (int k = 0; k < 3; ++k) expected.push_back(u"%’’’’''%");
  for (int k = 0; k < 5; ++k) expected.push_back(u"%a''%");
  for (int k = 0; k < 14; ++k) expected.push_back(u"%'%");  // two words
  EXPECT_EQ(parsed.literals, expected);
  EXPECT_EQ(parsed.skeleton.find(u"--"), std::u16string::npos);
}

TEST(DoubleQuotesTest, Doubles) {
  EXPECT_EQ(DoubleQuotes(u""), u"");
  EXPECT_EQ(DoubleQuotes(u"事務"), u"事務");
  EXPECT_EQ(DoubleQuotes(u"'a''"), u"''a''''");
}

}  // namespace
}  // namespace qlok
