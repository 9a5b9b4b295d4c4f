#include "results/data_access.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/failure.h"
#include "platform/recordset.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// Rows of one integer column "rank".
class VectorRecordset : public Recordset {
 public:
  explicit VectorRecordset(int rows) : rows_(rows) {}
  bool AtEnd() const override { return at_ >= rows_; }
  void MoveFirst() override { at_ = 0; }
  void MoveNext() override {
    if (AtEnd()) throw Failure("past the end");
    ++at_;
  }
  Value Field(std::u16string_view column) const override {
    if (AtEnd() || column != u"rank") throw Failure("no such field");
    return Value::Integer(at_);
  }

 private:
  int rows_;
  int at_ = 0;
};

// A database that refuses the first `failures` opens.
class FlakyDatabases : public Databases {
 public:
  explicit FlakyDatabases(int failures) : failures_(failures) {}
  std::unique_ptr<Connection> Open(const std::u16string& cs) override {
    ++opens;
    seen = cs;
    if (opens <= failures_) throw Failure("connection refused");
    return OpenConnection(u"sqlite::memory:", "/tmp");
  }
  int opens = 0;
  std::u16string seen;

 private:
  int failures_;
};

TEST(DataAccessTest, ConnectionStringIsLineThreeOfFourOrMore) {
  InMemoryTextFiles files;
  files.files["pw/qevo.txt"] =
      "one\r\ntwo\r\nsqlite:jobs.db\r\nfour\r\nfive\r\n";
  EXPECT_EQ(LoadConnectionString(files), u"sqlite:jobs.db");

  files.files["pw/qevo.txt"] = "one\ntwo\nsqlite:jobs.db\n";
  EXPECT_THROW(LoadConnectionString(files), Failure);
  files.files.erase("pw/qevo.txt");
  EXPECT_THROW(LoadConnectionString(files), Failure);
}

TEST(DataAccessTest, MailAccountsNeverFail) {
  InMemoryTextFiles files;
  EXPECT_EQ(LoadMailAccounts(files), (MailAccounts{}));
  files.files["pw/mail.txt"] = "a:1\r\nb:2\r\n";
  EXPECT_EQ(LoadMailAccounts(files), (MailAccounts{u"a:1", u"b:2", u""}));
  files.files["pw/mail.txt"] = "a:1\nb:2\nc:3\nd:4\n";
  EXPECT_EQ(LoadMailAccounts(files), (MailAccounts{u"a:1", u"b:2", u"c:3"}));
  files.fail_all = true;
  EXPECT_EQ(LoadMailAccounts(files), (MailAccounts{}));
}

TEST(DataAccessTest, OpenRetriesOnceOnly) {
  FlakyDatabases once(1);
  EXPECT_NE(OpenJobDatabase(once, u"sqlite:x.db"), nullptr);
  EXPECT_EQ(once.opens, 2);
  EXPECT_EQ(once.seen, u"sqlite:x.db");

  FlakyDatabases twice(2);
  EXPECT_THROW(OpenJobDatabase(twice, u"sqlite:x.db"), Failure);
  EXPECT_EQ(twice.opens, 2);
}

TEST(DataAccessTest, CountWalksThenRewinds) {
  struct Case {
    int rows;
    std::u16string sentence;
  } cases[] = {
      {1000,
       u"この検索条件で過去約２週間の求人を検索すると1000件以上の求人がヒットし"
       u"ました。"},
      {999,
       u"この検索条件で過去約２週間の求人を検索すると999件の求人がヒットしまし"
       u"た。"},
      {1,
       u"この検索条件で過去約２週間の求人を検索すると1件の求人がヒットしました"
       u"。"},
      {1001,
       u"この検索条件で過去約２週間の求人を検索すると1001件の求人がヒットしまし"
       u"た。"},
  };
  for (const Case& c : cases) {
    VectorRecordset jobs(c.rows);
    int64_t count = CountHits(jobs, u"SELECT * FROM 求人 WHERE rank = 0");
    EXPECT_EQ(count, c.rows);
    EXPECT_FALSE(jobs.AtEnd());
    EXPECT_EQ(jobs.Field(u"rank"), Value::Integer(0));
    EXPECT_EQ(HitCountMessage(count), c.sentence);
  }
}

// The whole table is counted by the engine in the statement that reads its
// first rows: the same number and the same rows, in the same order, as
// stepping through the table gives, and then the end.
TEST(DataAccessTest, TheWholeTableIsCountedByTheEngine) {
  std::unique_ptr<Connection> db = OpenConnection(u"sqlite::memory:", "/tmp");
  db->Execute(u"CREATE TABLE 求人 (社名 TEXT, rank INTEGER)");
  auto writer = db->PrepareInsert(u"求人", {u"社名", u"rank"});
  for (int i = 0; i < 40; ++i) {
    writer->Insert({Value::Text(u"会社" + Digits(i)), Value::Integer(i % 7)});
  }
  struct Case {
    std::u16string query;
    bool counted;  // by the engine
  } cases[] = {
      {u"求人", true},
      {u" 求人\t", true},
      {u"SELECT * FROM 求人 WHERE rank = 3 ORDER BY rank DESC limit 1000;",
       false},
  };
  for (const Case& c : cases) {
    auto jobs = OpenJobQuery(*db, c.query, kSampleJobLimit);
    auto walked = db->Open(StatementForSource(c.query), kSampleJobLimit);
    int64_t hits = 0;
    for (; !walked->AtEnd(); walked->MoveNext()) ++hits;
    walked->MoveFirst();
    EXPECT_EQ(CountHits(*jobs, c.query), hits) << U8(c.query);
    const int64_t limit = static_cast<int64_t>(kSampleJobLimit);
    const int64_t kept = std::min(hits, limit);
    for (int64_t row = 0; row < kept; ++row) {
      ASSERT_FALSE(jobs->AtEnd()) << U8(c.query) << " row " << row;
      EXPECT_EQ(jobs->Field(u"社名"), walked->Field(u"社名"))
          << U8(c.query) << " row " << row;
      jobs->MoveNext();
      if (row + 1 < kept) walked->MoveNext();
    }
    EXPECT_EQ(jobs->AtEnd(), c.counted || hits <= limit) << U8(c.query);
  }
  // An empty table: no row, so nothing to count in.
  db->Execute(u"DELETE FROM 求人");
  EXPECT_TRUE(OpenJobQuery(*db, u"求人", kSampleJobLimit)->AtEnd());
}

}  // namespace
}  // namespace qlok
