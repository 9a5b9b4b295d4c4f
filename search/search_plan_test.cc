// The word index against the scan: generated searches over generated jobs
// on both engines, each answered through the index and by the plain scan;
// every row of the two answers, in order, must be the same, which makes
// every page, registration mail and hit count the same.
#include "search/search_plan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "grams/gram_index.h"
#include "jobs/schema.h"
#include "platform/failure.h"
#include "platform/testing/both_engines.h"
#include "platform/transaction.h"
#include "search/query_builder.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// The characters of generated texts and words: ASCII letters of both
// cases and digits, their full-width forms, half-width katakana (with the
// sound marks), kana and kanji, the wildcards of like and the escape
// character of PostgreSQL, and a character outside the BMP. Few enough
// that short words often match.
const std::u16string kAlphabet =
    u"aAbBzZ09ａＡｂＢ０９ｱｲﾞﾟｶあいア東京都事務%_\\'𠮷";

constexpr std::u16string_view kSearched[] = {
    u"職種1",     u"職種2",     u"職種3",     u"就労場所1", u"就労場所2",
    u"就労場所3", u"就労場所4", u"就労場所5", u"事業内容",  u"必免1",
    u"必免2",     u"必免3",     u"職内1",     u"自由"};

class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  int Below(int n) { return static_cast<int>(random_() % n); }

  // `length` characters of the alphabet (a surrogate pair counts as one).
  std::u16string Text(int length) {
    std::u16string out;
    for (int i = 0; i < length; ++i) {
      size_t at = static_cast<size_t>(Below(kAlphabet.size()));
      if (at > 0 && IsLowSurrogate(kAlphabet[at])) --at;
      out += kAlphabet[at];
      if (IsHighSurrogate(kAlphabet[at])) out += kAlphabet[at + 1];
    }
    return out;
  }

  // A column's value: null, empty or a short text.
  Value Column() {
    const int kind = Below(10);
    if (kind == 0) return Value();
    if (kind == 1) return Value::Text(u"");
    return Value::Text(Text(1 + Below(8)));
  }

 private:
  static bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
  static bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }
  std::mt19937 random_;
};

class SearchPlanTest : public BothEnginesTest {
 protected:
  void SetUp() override {
    BothEnginesTest::SetUp();
    if (IsSkipped()) return;
    db_->Execute(JobTableSchema(db_->Engine()));
  }

  // `count` generated jobs; ranks 0 to 3, so that most jobs tie.
  void InsertJobs(Generator& gen, int count) {
    std::vector<std::u16string> columns = {u"社名", u"rank"};
    for (std::u16string_view column : kSearched) columns.emplace_back(column);
    std::unique_ptr<RowWriter> writer = db_->PrepareInsert(u"求人", columns);
    for (int i = 0; i < count; ++i) {
      std::vector<Value> row = {
          Value::Text(U16("job" + std::to_string(next_++))),
          Value::Integer(gen.Below(4))};
      for (size_t c = 0; c < std::size(kSearched); ++c) {
        row.push_back(gen.Column());
      }
      writer->Insert(row);
    }
  }

  // A word: mostly 1 to 4 characters of the alphabet; sometimes the end of
  // one column of a job and the start of the next, which no single column
  // need hold.
  std::u16string Word(Generator& gen) {
    if (gen.Below(8) == 0) {
      const size_t column =
          static_cast<size_t>(gen.Below(std::size(kSearched) - 1));
      std::unique_ptr<Recordset> rows = db_->Query(
          u"SELECT " + std::u16string(kSearched[column]) + u" AS a, " +
              std::u16string(kSearched[column + 1]) +
              u" AS b FROM 求人 WHERE 社名 = $1",
          {Value::Text(U16("job" + std::to_string(gen.Below(next_))))}, 1);
      const std::u16string a = rows->Field(u"a").ToText();
      const std::u16string b = rows->Field(u"b").ToText();
      if (!a.empty() && !b.empty()) {
        return a.substr(a.size() - 1) + b.substr(0, 1 + gen.Below(2));
      }
    }
    return gen.Text(1 + gen.Below(4));
  }

  SearchRequest Request(Generator& gen) {
    SearchRequest request;
    request.disability_choice = u"2";
    auto fill = [&](auto& words) {
      const int used = gen.Below(static_cast<int>(words.size()) + 1);
      for (int i = 0; i < used; ++i) words[i] = Word(gen);
    };
    // Each field in about half of the searches, so that some search one
    // field alone and some all three.
    if (gen.Below(2) == 0) fill(request.job_type_words);
    if (gen.Below(2) == 0) fill(request.place_words);
    if (gen.Below(2) == 0) fill(request.content_words);
    if (gen.Below(4) == 0) request.age = 1;  // a condition beside the words
    return request;
  }

  // Every row of the statement, in order: its row key, company, rank and
  // every searched column.
  std::vector<std::u16string> Rows(const std::u16string& statement) {
    std::vector<std::u16string> rows;
    std::unique_ptr<Recordset> rs = db_->Open(statement, Connection::kKeepAll);
    for (; !rs->AtEnd(); rs->MoveNext()) {
      std::u16string row =
          rs->Field(u"社名").ToText() + u"|" + rs->Field(u"rank").ToText();
      for (std::u16string_view column : kSearched) {
        row += u"|" + rs->Field(column).ToText();
      }
      rows.push_back(row);
    }
    return rows;
  }

  // Runs `count` searches through the index and by the scan; returns how
  // many found at least one job.
  int CompareSearches(Generator& gen, int count) {
    const GramIndexState fresh = ReadGramIndexState(*db_);
    EXPECT_TRUE(fresh.exists && !fresh.stale);
    GramIndexState stale = fresh;
    stale.stale = true;
    int found = 0;
    for (int i = 0; i < count; ++i) {
      const SearchRequest request = Request(gen);
      const std::u16string indexed =
          StatementFor(request, db_->Engine(), fresh);
      const std::u16string scan = StatementFor(request, db_->Engine(), stale);
      const std::vector<std::u16string> expected = Rows(scan);
      EXPECT_EQ(Rows(indexed), expected) << U8(indexed);
      found += !expected.empty();
    }
    return found;
  }

  int next_ = 0;
};

TEST_P(SearchPlanTest, IndexGivesTheScansRowsInTheScansOrder) {
  Generator gen(20261210);
  InsertJobs(gen, 300);
  // PostgreSQL: bands of 16 jobs and more, so that jobs of equal rank fall
  // into different bands.
  const GramIndexOptions bands{16};
  InTransaction(*db_, [&] { CreateGramIndex(*db_, bands); });
  // Jobs added by the program after the index was made: appended to it
  // (each joins the band of its place in the order).
  InTransaction(*db_, [&] {
    const GramIndexState before = StartKeepingGramIndex(*db_);
    InsertJobs(gen, 300);
    UpdateGramIndex(*db_, before, false, bands);
  });
  const int found = CompareSearches(gen, 2000);
  // The generated words must find jobs often enough to test anything.
  EXPECT_GT(found, 400);
  // Built again in one go (PostgreSQL: its bands cut anew over every job).
  EXPECT_EQ(RebuildGramIndex(*db_, bands), 600);
  EXPECT_GT(CompareSearches(gen, 500), 100);
}

TEST_P(SearchPlanTest, StatementsKeepTheQueryTextsConditions) {
  SearchRequest request;
  request.job_type_words[0] = u"事務";
  request.place_words[0] = u"%";
  request.disability_choice = u"2";
  GramIndexState fresh{true, false, 0, 0};
  const std::string engine = GetParam();
  const std::u16string text = BuildQuery(request);
  const std::u16string statement = StatementFor(request, engine, fresh);
  // The query text's conditions stand in the statement as they are.
  const size_t where = text.find(u" WHERE ") + 7;
  const size_t order = text.find(u" ORDER BY");
  const std::u16string conditions = text.substr(where, order - where);
  EXPECT_NE(statement.find(conditions + u" ORDER BY "), std::u16string::npos)
      << U8(statement);
  EXPECT_NE(statement.find(u"qlok_grams"), std::u16string::npos);
  // A place word of wildcards alone narrows nothing: only the job words'
  // field is asked of the index.
  const GramQuery words = WordsOf(request, DialectOf(engine));
  EXPECT_EQ(words.fields[0].size(), 1u);
  EXPECT_TRUE(words.fields[1].empty());
  EXPECT_TRUE(words.fields[2].empty());
  // Without an index, or with a stale one, the scan runs, its ties in row
  // order where the engine numbers the rows (PostgreSQL: once the index
  // has numbered them).
  GramIndexState stale = fresh;
  stale.stale = true;
  const std::u16string with_key =
      u"SELECT * FROM 求人 WHERE " + conditions + u" ORDER BY rank DESC, " +
      std::u16string(RowKeyColumn(engine)) + u" limit 1000;";
  EXPECT_EQ(StatementFor(request, engine, stale), with_key);
  // So for a user that may not read the index.
  GramIndexState unreadable = fresh;
  unreadable.readable = false;
  EXPECT_EQ(StatementFor(request, engine, unreadable), with_key);
  EXPECT_EQ(StatementFor(request, engine, {}),
            engine == "sqlite" ? with_key : text);
  // Without conditions: the bare table name, whatever the index.
  EXPECT_EQ(StatementFor(SearchRequest{}, engine, fresh), u"求人");
}

// A change to the job table made behind the program's back marks the
// index stale: searches then scan, until the index is rebuilt.
TEST_P(SearchPlanTest, ChangesByHandMarkTheIndexStale) {
  Generator gen(7);
  InsertJobs(gen, 20);
  InTransaction(*db_, [&] { CreateGramIndex(*db_); });
  EXPECT_EQ(GramIndexProblem(*db_), std::nullopt);
  const std::vector<std::u16string> changes = {
      u"INSERT INTO 求人 (社名, 職種1) VALUES ('hand', '事務')",
      u"UPDATE 求人 SET 職種1 = '事務' WHERE 社名 = 'job3'",
      u"DELETE FROM 求人 WHERE 社名 = 'job4'",
  };
  // The whole table's count: the index's while it is fresh, the engine's
  // while it is stale; right either way.
  auto table_count = [&] {
    std::unique_ptr<Recordset> rows = db_->Query(
        u"SELECT " + PlanSearch(*db_, SearchRequest{}).table_count + u" AS n",
        {}, 1);
    return rows->Field(u"n").AsInteger();
  };
  int64_t rows = 20;
  EXPECT_EQ(table_count(), rows);
  for (const std::u16string& change : changes) {
    db_->Execute(change);
    rows += change[0] == u'I' ? 1 : change[0] == u'D' ? -1 : 0;
    EXPECT_TRUE(ReadGramIndexState(*db_).stale) << U8(change);
    EXPECT_EQ(table_count(), rows) << U8(change);
    EXPECT_NE(GramIndexProblem(*db_), std::nullopt) << U8(change);
    SearchRequest request;
    request.job_type_words[0] = u"事務";
    EXPECT_EQ(PlanSearch(*db_, request).statement.find(u"qlok_grams"),
              std::u16string::npos);
    EXPECT_EQ(RebuildGramIndex(*db_), rows);
    EXPECT_EQ(GramIndexProblem(*db_), std::nullopt);
    EXPECT_EQ(table_count(), rows) << U8(change);
    EXPECT_NE(PlanSearch(*db_, request).statement.find(u"qlok_grams"),
              std::u16string::npos);
  }
  RemoveGramIndex(*db_);
  EXPECT_FALSE(ReadGramIndexState(*db_).exists);
  EXPECT_NE(GramIndexProblem(*db_), std::nullopt);
}

// PostgreSQL: an index laid out by an earlier version, without bands, is
// not read (a search over it would fail): searches scan and check says so
// until the program's next write of the job table builds it anew.
TEST_P(SearchPlanTest, AnIndexOfAnEarlierLayoutIsBuiltAnewNotRead) {
  if (db_->Engine() != "postgresql") GTEST_SKIP() << "bands are PostgreSQL's";
  Generator gen(11);
  InsertJobs(gen, 100);
  InTransaction(*db_, [&] { CreateGramIndex(*db_); });
  db_->Execute(
      u"DROP TABLE qlok_gram_bands; ALTER TABLE qlok_grams DROP COLUMN band");
  const GramIndexState state = ReadGramIndexState(*db_);
  EXPECT_TRUE(state.exists && state.stale && state.earlier_layout);
  SearchRequest request;
  request.job_type_words[0] = u"事務";
  EXPECT_EQ(PlanSearch(*db_, request).statement.find(u"qlok_grams"),
            std::u16string::npos);
  const std::optional<std::string> problem = GramIndexProblem(*db_);
  ASSERT_NE(problem, std::nullopt);
  EXPECT_NE(problem->find("earlier version"), std::string::npos) << *problem;
  InTransaction(*db_, [&] {
    const GramIndexState before = StartKeepingGramIndex(*db_);
    InsertJobs(gen, 100);
    EXPECT_EQ(UpdateGramIndex(*db_, before, false), 200);
  });
  EXPECT_EQ(GramIndexProblem(*db_), std::nullopt);
  EXPECT_NE(PlanSearch(*db_, request).statement.find(u"qlok_grams"),
            std::u16string::npos);
  EXPECT_GT(CompareSearches(gen, 200), 20);
}

QLOK_ON_BOTH_ENGINES(SearchPlanTest);

}  // namespace
}  // namespace qlok
