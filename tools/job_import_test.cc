#include "tools/job_import.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/database.h"
#include "platform/failure.h"
#include "platform/testing/both_engines.h"
#include "text/unicode.h"
#include "tools/job_generator.h"
#include "tools/job_table.h"

namespace qlok {
namespace {

using ::testing::HasSubstr;
using K = ColumnKind;

Value At(int day, int hour, int minute, int second = 0) {
  return Value::DateTimeOf(DateTime{2000, 1, day, hour, minute, second});
}

struct FieldCase {
  K kind;
  std::string field;
  Value value;
};

TEST(ParseJobFieldTest, ReadsEveryKind) {
  const FieldCase cases[] = {
      // The empty field is null whatever the column.
      {K::kText, "", Value()},
      {K::kInteger, "", Value()},
      {K::kDateTime, "", Value()},
      {K::kDate, "", Value()},
      // Texts as they stand, blanks included; breaks become CR LF.
      {K::kText, "看護師", Value::Text(u"看護師")},
      {K::kText, " ", Value::Text(u" ")},
      {K::kText, "a\r\nb", Value::Text(u"a\r\nb")},
      {K::kText, "a\nb\n", Value::Text(u"a\r\nb\r\n")},
      {K::kText, "a\rb", Value::Text(u"a\r\nb")},
      {K::kText, "\r\n", Value::Text(u"\r\n")},
      // Whole numbers, with sentinels and the 32-bit bounds.
      {K::kInteger, "180000", Value::Integer(180000)},
      {K::kInteger, "-1", Value::Integer(-1)},
      {K::kInteger, " 42 ", Value::Integer(42)},
      {K::kInteger, "+7", Value::Integer(7)},
      {K::kInteger, "2147483647", Value::Integer(2147483647)},
      {K::kInteger, "-2147483648", Value::Integer(-2147483648LL)},
      {K::kFlag, "1", Value::Integer(1)},
      {K::kCode, "5", Value::Integer(5)},
      {K::kCode, "-2", Value::Integer(-2)},
      // Times of day lie on 2000/01/01; full stamps may say 2000/01/02.
      {K::kDateTime, "8:30", At(1, 8, 30)},
      {K::kDateTime, "08:30:15", At(1, 8, 30, 15)},
      {K::kDateTime, "0:00", At(1, 0, 0)},
      {K::kDateTime, "2000/01/01 17:30:00", At(1, 17, 30)},
      {K::kDateTime, "2000/01/02 6:00:00", At(2, 6, 0)},
      {K::kDateTime, "2000/01/02", At(2, 0, 0)},
      {K::kDateTime, "2000-01-01T09:15:00", At(1, 9, 15)},
      {K::kDateTime, "2000-01-02 00:30:00.000", At(2, 0, 30)},
      // Dates.
      {K::kDate, "2026/12/20", Value::DateOf(DateTime{2026, 12, 20})},
      {K::kDate, "2026-02-28", Value::DateOf(DateTime{2026, 2, 28})},
      {K::kDate, "2028/2/29", Value::DateOf(DateTime{2028, 2, 29})},
  };
  for (const FieldCase& c : cases) {
    EXPECT_EQ(ParseJobField(c.kind, c.field), c.value)
        << int(c.kind) << " " << c.field;
  }
}

struct BadFieldCase {
  K kind;
  std::string field;
  std::string reason;
};

TEST(ParseJobFieldTest, NamesWhatIsWrong) {
  const BadFieldCase cases[] = {
      {K::kInteger, "1.5", "not a whole number: 1.5"},
      {K::kInteger, "1,000", "not a whole number: 1,000"},
      {K::kInteger, "１２", "not a whole number: １２"},
      {K::kInteger, "-", "not a whole number: -"},
      {K::kInteger, " ", "not a whole number:  "},
      {K::kFlag, "yes", "not a whole number: yes"},
      {K::kInteger, "2147483648", "whole number out of range: 2147483648"},
      {K::kInteger, "-2147483649", "whole number out of range: -2147483649"},
      {K::kInteger, "99999999999999999999999",
       "whole number out of range: 99999999999999999999999"},
      {K::kDateTime, "830", "not a time: 830"},
      {K::kDateTime, "24:00", "not a time: 24:00"},
      {K::kDateTime, "8:60", "not a time: 8:60"},
      {K::kDateTime, "午前8時", "not a time: 午前8時"},
      {K::kDateTime, "2026/05/01 8:30",
       "not a working time on 2000/01/01 or 2000/01/02: 2026/05/01 8:30"},
      {K::kDateTime, "2000/01/03 1:00",
       "not a working time on 2000/01/01 or 2000/01/02: 2000/01/03 1:00"},
      {K::kDate, "2026/13/01", "not a date: 2026/13/01"},
      {K::kDate, "2026/02/30", "not a date: 2026/02/30"},
      {K::kDate, "2026/12/20 8:00", "not a date: 2026/12/20 8:00"},
      {K::kDate, "8:30", "not a date: 8:30"},
      {K::kDate, "20261220", "not a date: 20261220"},
  };
  for (const BadFieldCase& c : cases) {
    try {
      Value v = ParseJobField(c.kind, c.field);
      ADD_FAILURE() << c.field << " was accepted";
    } catch (const Failure& f) {
      EXPECT_EQ(std::string(f.what()), c.reason);
    }
  }
}

TEST(JobFieldTextTest, WritesWhatParseReadsBack) {
  const FieldCase cases[] = {
      {K::kText, "", Value()},
      {K::kText, "a,\"b\"\r\nc", Value::Text(u"a,\"b\"\r\nc")},
      {K::kInteger, "-1", Value::Integer(-1)},
      {K::kDateTime, "2000/01/01 8:30:00", At(1, 8, 30)},
      {K::kDateTime, "2000/01/02", At(2, 0, 0)},
      {K::kDate, "2026/12/20", Value::DateOf(DateTime{2026, 12, 20})},
  };
  for (const FieldCase& c : cases) {
    EXPECT_EQ(JobFieldText(c.value), c.field);
    EXPECT_EQ(ParseJobField(c.kind, JobFieldText(c.value)), c.value);
  }
  EXPECT_THROW(JobFieldText(Value::Double(1.5)), Failure);
}

std::vector<std::vector<Value>> ReadJobs(
    const std::string& csv, std::vector<std::u16string>* columns = nullptr) {
  std::istringstream in(csv);
  JobCsvReader reader(in, "jobs.csv");
  if (columns != nullptr) *columns = reader.columns();
  std::vector<std::vector<Value>> rows;
  std::vector<Value> row;
  while (reader.Next(row)) rows.push_back(row);
  return rows;
}

TEST(JobCsvReaderTest, ReadsColumnsByHeader) {
  std::vector<std::u16string> columns;
  auto rows = ReadJobs(
      "\xEF\xBB\xBFrank,社名,RankMemo,始時,募集締切日\r\n"
      "72,\"株式会社さくら\",\"一行目\r\n二行目\",8:30,\r\n"
      ",,,,2026/12/20\r\n",
      &columns);
  EXPECT_EQ(columns, (std::vector<std::u16string>{u"rank", u"社名", u"rankmemo",
                                                  u"始時", u"募集締切日"}));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0],
            (std::vector<Value>{
                Value::Integer(72), Value::Text(u"株式会社さくら"),
                Value::Text(u"一行目\r\n二行目"), At(1, 8, 30), Value()}));
  // An empty field is null, but an empty rank is 0.
  EXPECT_EQ(rows[1],
            (std::vector<Value>{Value::Integer(0), Value(), Value(), Value(),
                                Value::DateOf(DateTime{2026, 12, 20})}));
}

struct BadCsvCase {
  const char* name;
  std::string csv;
  std::string message;
};

void PrintTo(const BadCsvCase& c, std::ostream* out) { *out << c.name; }

class JobCsvReaderBadTest : public ::testing::TestWithParam<BadCsvCase> {};

TEST_P(JobCsvReaderBadTest, ReportsPlace) {
  try {
    ReadJobs(GetParam().csv);
    FAIL() << "accepted";
  } catch (const Failure& f) {
    EXPECT_EQ(std::string(f.what()), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobCsvReaderBadTest,
    ::testing::Values(
        BadCsvCase{"Empty", "", "jobs.csv:1: no header naming the columns"},
        BadCsvCase{"UnknownColumn", "社名,会社名\n",
                   "jobs.csv:1: unknown column \"会社名\""},
        BadCsvCase{"BlankInName", "社名 ,rank\n",
                   "jobs.csv:1: unknown column \"社名 \""},
        BadCsvCase{"NamedTwice", "rank,社名,RANK\n",
                   "jobs.csv:1: column rank named twice"},
        BadCsvCase{"EmptyName", "rank,,社名\n",
                   "jobs.csv:1: a column without a name"},
        BadCsvCase{"TooFewFields", "rank,社名\n1,a\n2\n",
                   "jobs.csv:3: 1 fields where the header names 2 columns"},
        // The line is the one an editor shows, after the break inside the
        // quoted field of the record before.
        BadCsvCase{"BadDate",
                   "社名,募集締切日\n\"a\r\nb\",2026/12/20\nc,2026/13/01\n",
                   "jobs.csv:4: column 募集締切日: not a date: 2026/13/01"},
        BadCsvCase{"BadNumber", "社名,下固給\nx,18万\n",
                   "jobs.csv:2: column 下固給: not a whole number: 18万"},
        BadCsvCase{"BadQuote", "社名\n\"a\"b\n",
                   "jobs.csv:2: text after the closing quote of a field"}),
    [](const auto& info) { return std::string(info.param.name); });

// The database cases run on SQLite in memory and on PostgreSQL.
// A generated job read by column name.
class Job {
 public:
  explicit Job(std::vector<Value> values) : values_(std::move(values)) {}
  Value operator[](std::u16string_view column) const {
    for (size_t i = 0; i < JobColumns().size(); ++i) {
      if (JobColumns()[i].name == column) return values_[i];
    }
    return Value();
  }

 private:
  std::vector<Value> values_;
};

class ImportJobsTest : public BothEnginesTest {
 protected:
  void SetUp() override {
    BothEnginesTest::SetUp();
    if (IsSkipped()) return;
    CreateJobTable(*db_);
  }

  size_t Import(const std::string& csv, bool replace) {
    std::istringstream in(csv);
    return ImportJobs(*db_, in, "jobs.csv", replace);
  }

  std::vector<std::u16string> Names() {
    std::vector<std::u16string> names;
    auto rows = db_->Open(u"SELECT 社名 FROM 求人 ORDER BY rank", 0);
    for (; !rows->AtEnd(); rows->MoveNext()) {
      names.push_back(rows->Field(u"社名").ToText());
    }
    return names;
  }
};

TEST_P(ImportJobsTest, LoadsRowsAndReadsThemBack) {
  EXPECT_EQ(Import("社名,rank,始時,終時,募集締切日,給説,従業員数\n"
                   "甲,1,8:30,2000/01/02 1:00:00,2026/12/20,\" \",\n"
                   "乙,2,,,,\"二行\n目\",-1\n",
                   false),
            2u);
  auto rows = db_->Open(u"SELECT * FROM 求人 ORDER BY rank", 0);
  ASSERT_FALSE(rows->AtEnd());
  EXPECT_EQ(rows->Field(u"社名"), Value::Text(u"甲"));
  EXPECT_EQ(rows->Field(u"始時").ToText(), u"2000/01/01 8:30:00");
  EXPECT_EQ(rows->Field(u"終時").ToText(), u"2000/01/02 1:00:00");
  EXPECT_EQ(rows->Field(u"募集締切日").ToText(), u"2026/12/20");
  EXPECT_EQ(rows->Field(u"給説"), Value::Text(u" "));
  EXPECT_TRUE(rows->Field(u"従業員数").IsNull());
  EXPECT_TRUE(rows->Field(u"求人番").IsNull());  // not in the file
  rows->MoveNext();
  EXPECT_EQ(rows->Field(u"給説"), Value::Text(u"二行\r\n目"));
  EXPECT_EQ(rows->Field(u"従業員数").AsInteger(), -1);
  EXPECT_TRUE(rows->Field(u"始時").IsNull());
}

TEST_P(ImportJobsTest, BadRowLoadsNothing) {
  Import("社名,rank\n古い,1\n", false);
  const std::string bad =
      "社名,rank,募集締切日\n新しい,2,2026/12/20\n壊れた,3,2026/13/01\n";
  for (bool replace : {false, true}) {
    try {
      Import(bad, replace);
      FAIL() << "accepted";
    } catch (const Failure& f) {
      EXPECT_EQ(std::string(f.what()),
                "jobs.csv:3: column 募集締切日: not a date: 2026/13/01");
    }
    EXPECT_EQ(Names(), std::vector<std::u16string>{u"古い"}) << replace;
  }
}

// A job without a rank (an empty field, or no rank column at all) ranks 0
// and comes after every ranked job, on both engines.
TEST_P(ImportJobsTest, AJobWithoutARankRanksZeroAndComesLast) {
  Import("社名,rank\n空,\n五,5\n零,0\n", false);
  Import("社名\n無\n", false);
  auto rows = db_->Open(
      u"SELECT 社名, rank FROM 求人 ORDER BY rank DESC limit 1000;", 0);
  std::vector<std::u16string> names;
  for (; !rows->AtEnd(); rows->MoveNext()) {
    const int64_t rank = rows->Field(u"rank").AsInteger();
    EXPECT_EQ(rank, names.empty() ? 5 : 0);
    names.push_back(rows->Field(u"社名").ToText());
  }
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0], u"五");
}

TEST_P(ImportJobsTest, ReplaceSwapsTheRows) {
  Import("社名,rank\n一,1\n二,2\n", false);
  Import("社名,rank\n三,3\n", false);
  EXPECT_EQ(Names(), (std::vector<std::u16string>{u"一", u"二", u"三"}));
  EXPECT_EQ(Import("社名,rank\n四,4\n五,5\n", true), 2u);
  EXPECT_EQ(Names(), (std::vector<std::u16string>{u"四", u"五"}));
  // A file of no rows empties the table.
  EXPECT_EQ(Import("社名\n", true), 0u);
  EXPECT_TRUE(Names().empty());
}

TEST_P(ImportJobsTest, RefusedRowIsReportedWithItsLine) {
  // A table stricter than the real one, to make the engine refuse a row.
  db_->Execute(u"DROP TABLE 求人");
  db_->Execute(u"CREATE TABLE 求人 (社名 TEXT NOT NULL, rank INTEGER)");
  try {
    Import("社名,rank\n甲,1\n,2\n", false);
    FAIL() << "accepted";
  } catch (const Failure& f) {
    EXPECT_THAT(f.what(), HasSubstr("jobs.csv:3: "));
  }
  EXPECT_TRUE(Names().empty());
  // The transaction is over: the connection takes new work.
  EXPECT_EQ(Import("社名,rank\n甲,1\n", false), 1u);
}

TEST_P(ImportJobsTest, MissingTableFails) {
  db_->Execute(u"DROP TABLE 求人");
  EXPECT_THROW(Import("社名\n甲\n", false), Failure);
  CreateJobTable(*db_);
  EXPECT_EQ(Import("社名\n甲\n", false), 1u);
}

TEST_P(ImportJobsTest, InitFailsOnAnExistingTable) {
  Import("社名,rank\n残る,1\n", false);
  EXPECT_THROW(CreateJobTable(*db_), Failure);
  EXPECT_EQ(Names(), std::vector<std::u16string>{u"残る"});
}

// Generated jobs, every column filled in its own kind, come back as
// written.
TEST_P(ImportJobsTest, GeneratedJobsReadBack) {
  class Generated : public JobRowSource {
   public:
    bool Next(std::vector<Value>& row) override {
      if (next_ == 60) return false;
      row = GenerateJob(kDefaultGeneratorSeed, next_++, kGeneratorReferenceDay);
      return true;
    }
    uint64_t next_ = 0;
  } generated;
  std::vector<std::u16string> columns;
  for (const JobColumn& column : JobColumns())
    columns.emplace_back(column.name);
  ASSERT_EQ(WriteJobs(*db_, columns, false, generated), 60u);

  // Each row as the texts of its values, compared without regard to order.
  auto text_of = [&](auto&& value_of) {
    std::u16string text;
    for (const std::u16string& column : columns) {
      text += value_of(column).ToText() + u'\x1F';
    }
    return text;
  };
  std::multiset<std::u16string> written, read;
  for (uint64_t i = 0; i < 60; ++i) {
    Job job(GenerateJob(kDefaultGeneratorSeed, i, kGeneratorReferenceDay));
    written.insert(text_of([&](const std::u16string& c) { return job[c]; }));
  }
  auto rows = db_->Open(u"SELECT * FROM 求人", 0);
  for (; !rows->AtEnd(); rows->MoveNext()) {
    read.insert(
        text_of([&](const std::u16string& c) { return rows->Field(c); }));
  }
  EXPECT_EQ(read, written);
}

QLOK_ON_BOTH_ENGINES(ImportJobsTest);

}  // namespace
}  // namespace qlok
