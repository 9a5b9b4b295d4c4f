#include "platform/recordset.h"

#include <gtest/gtest.h>

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// Rows of integers; counts what the recordset asks of it.
struct SourceCounters {
  int fetches = 0;
  int cells = 0;
  int conversions = 0;
};

class FakeSource : public RowSource {
 public:
  FakeSource(std::vector<std::u16string> names, int rows,
             SourceCounters* counters, int fail_at_row = -1)
      : names_(std::move(names)),
        rows_(rows),
        counters_(counters),
        fail_at_row_(fail_at_row) {}

  bool Fetch() override {
    ++counters_->fetches;
    if (current_ == fail_at_row_ - 1) throw Failure("engine broke");
    if (current_ + 1 >= rows_) {
      current_ = rows_;
      return false;
    }
    ++current_;
    return true;
  }
  const std::vector<std::u16string>& ColumnNames() const override {
    return names_;
  }
  RawCell Cell(size_t column) const override {
    ++counters_->cells;
    if (current_ < 0 || current_ >= rows_) throw Failure("no row here");
    RawCell cell;
    cell.type = RawCell::Type::kInteger;
    cell.integer = current_ * 10 + static_cast<int>(column);
    return cell;
  }
  Value Convert(size_t, const RawCell& cell) const override {
    ++counters_->conversions;
    return Value::Integer(cell.integer);
  }

 private:
  std::vector<std::u16string> names_;
  int rows_;
  SourceCounters* counters_;
  int fail_at_row_;
  int current_ = -1;
};

std::unique_ptr<KeepingRecordset> Make(int rows, size_t keep,
                                       SourceCounters* counters) {
  return std::make_unique<KeepingRecordset>(
      std::make_unique<FakeSource>(
          std::vector<std::u16string>{u"id", u"rank", u"職種1"}, rows,
          counters),
      keep);
}

int64_t Id(const Recordset& rs) { return rs.Field(u"id").AsInteger() / 10; }

int CountRows(Recordset& rs) {
  int count = 0;
  for (; !rs.AtEnd(); rs.MoveNext()) ++count;
  return count;
}

struct WalkCase {
  const char* name;
  int rows;
  size_t keep;
};

void PrintTo(const WalkCase& c, std::ostream* out) { *out << c.name; }

class RecordsetWalkTest : public testing::TestWithParam<WalkCase> {};

// Count, back to the first row, then walk again as far as the kept rows
// (or the whole result, when it is all kept) reach.
TEST_P(RecordsetWalkTest, CountsRewindsAndWalksTheKeptRowsAgain) {
  SourceCounters counters;
  auto rs = Make(GetParam().rows, GetParam().keep, &counters);
  EXPECT_EQ(CountRows(*rs), GetParam().rows);
  // The statement ran once: one fetch per row and one for the end.
  EXPECT_EQ(counters.fetches, GetParam().rows + 1);
  if (GetParam().rows == 0) {
    rs->MoveFirst();
    EXPECT_TRUE(rs->AtEnd());
    return;
  }
  rs->MoveFirst();
  size_t again = std::min<size_t>(GetParam().keep, GetParam().rows);
  for (size_t i = 0; i < again; ++i) {
    ASSERT_FALSE(rs->AtEnd());
    EXPECT_EQ(Id(*rs), static_cast<int64_t>(i));
    EXPECT_EQ(rs->Field(u"職種1").AsInteger() % 10, 2);
    if (i + 1 < again) rs->MoveNext();
  }
  EXPECT_EQ(counters.fetches, GetParam().rows + 1);
  if (GetParam().keep >= static_cast<size_t>(GetParam().rows)) {
    rs->MoveNext();
    EXPECT_TRUE(rs->AtEnd());
  } else {
    // The next row has been dropped: saying so beats a wrong end.
    EXPECT_THROW(rs->MoveNext(), Failure);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, RecordsetWalkTest,
    testing::Values(WalkCase{"Empty", 0, 15}, WalkCase{"OneRowKept", 1, 1},
                    WalkCase{"FewerThanKept", 5, 15},
                    WalkCase{"ExactlyKept", 15, 15},
                    WalkCase{"MoreThanKept", 1000, 15},
                    WalkCase{"KeepAll", 40, Connection::kKeepAll}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordsetTest, CountingConvertsNothingAndCopiesOnlyKeptRows) {
  SourceCounters counters;
  auto rs = Make(200000, 15, &counters);
  EXPECT_EQ(CountRows(*rs), 200000);
  EXPECT_EQ(counters.conversions, 0);
  EXPECT_EQ(counters.cells, 15 * 3);
}

TEST(RecordsetTest, RowsPastTheKeptOnesAreReadInPlace) {
  SourceCounters counters;
  auto rs = Make(10, 2, &counters);
  for (int i = 0; i < 6; ++i) rs->MoveNext();
  EXPECT_EQ(Id(*rs), 6);
  EXPECT_EQ(rs->Field(u"rank").AsInteger(), 61);
}

TEST(RecordsetTest, AKeptFieldIsConvertedOnceWhateverItsName) {
  SourceCounters counters;
  auto rs = Make(3, 2, &counters);
  for (int row = 0; row < 2; ++row) {
    for (int read = 0; read < 3; ++read) {
      EXPECT_EQ(rs->Field(u"rank").AsInteger(), row * 10 + 1);
      EXPECT_EQ(rs->Field(u"RANK").AsInteger(), row * 10 + 1);
    }
    rs->MoveNext();
  }
  EXPECT_EQ(counters.conversions, 2);
  // Back on the kept rows, nothing is converted again.
  rs->MoveFirst();
  EXPECT_EQ(rs->Field(u"rank").AsInteger(), 1);
  EXPECT_EQ(counters.conversions, 2);
  // The row past them is read from the engine each time.
  rs->MoveNext();
  rs->MoveNext();
  EXPECT_EQ(rs->Field(u"rank").AsInteger(), 21);
  EXPECT_EQ(rs->Field(u"rank").AsInteger(), 21);
  EXPECT_EQ(counters.conversions, 4);
}

TEST(RecordsetTest, MoveFirstWithoutMovingNeedsNoKeptRow) {
  SourceCounters counters;
  auto rs = Make(3, 0, &counters);
  rs->MoveFirst();
  EXPECT_EQ(Id(*rs), 0);
  rs->MoveNext();
  EXPECT_EQ(Id(*rs), 1);
  EXPECT_THROW(rs->MoveFirst(), Failure);
}

TEST(RecordsetTest, ReturnsFromKeptRowsToTheEnginesCurrentRow) {
  SourceCounters counters;
  auto rs = Make(5, 1, &counters);
  rs->MoveNext();  // the engine now stands on row 1
  rs->MoveFirst();
  EXPECT_EQ(Id(*rs), 0);
  rs->MoveNext();
  EXPECT_EQ(Id(*rs), 1);
  rs->MoveNext();
  EXPECT_EQ(Id(*rs), 2);
  EXPECT_EQ(counters.fetches, 3);
}

TEST(RecordsetTest, MovingPastTheEndAndReadingThereThrow) {
  SourceCounters counters;
  auto rs = Make(1, 1, &counters);
  rs->MoveNext();
  ASSERT_TRUE(rs->AtEnd());
  EXPECT_THROW(rs->MoveNext(), Failure);
  EXPECT_THROW(rs->Field(u"id"), Failure);
}

struct NameCase {
  const char16_t* asked;
  int column;  // -1: no such column
};

void PrintTo(const NameCase& c, std::ostream* out) { *out << U8(c.asked); }

class RecordsetNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(RecordsetNameTest, FindsColumnsExactlyElseIgnoringAsciiCase) {
  SourceCounters counters;
  KeepingRecordset rs(std::make_unique<FakeSource>(
                          std::vector<std::u16string>{u"Rank", u"rank", u"ken",
                                                      u"職種1", u"KEN"},
                          1, &counters),
                      1);
  if (GetParam().column < 0) {
    EXPECT_THROW(rs.Field(GetParam().asked), Failure);
  } else {
    EXPECT_EQ(rs.Field(GetParam().asked).AsInteger(), GetParam().column);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, RecordsetNameTest,
    testing::Values(NameCase{u"rank", 1}, NameCase{u"Rank", 0},
                    NameCase{u"RANK", 0}, NameCase{u"KEN", 4},
                    NameCase{u"Ken", 2}, NameCase{u"職種1", 3},
                    NameCase{u"職種１", -1}, NameCase{u"rankmemo", -1},
                    NameCase{u"", -1}));

TEST(RecordsetTest, AnEngineErrorWhileMovingThrows) {
  SourceCounters counters;
  KeepingRecordset rs(std::make_unique<FakeSource>(
                          std::vector<std::u16string>{u"id"}, 10, &counters,
                          /*fail_at_row=*/3),
                      5);
  rs.MoveNext();
  rs.MoveNext();
  EXPECT_THROW(rs.MoveNext(), Failure);
}

struct SourceCase {
  const char16_t* source;
  const char16_t* statement;
};

void PrintTo(const SourceCase& c, std::ostream* out) { *out << U8(c.source); }

class StatementForSourceTest : public testing::TestWithParam<SourceCase> {};

TEST_P(StatementForSourceTest, OpensBareTableNamesWhole) {
  EXPECT_EQ(U8(StatementForSource(GetParam().source)),
            U8(GetParam().statement));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, StatementForSourceTest,
    testing::Values(
        SourceCase{u"求人", u"SELECT * FROM 求人"},
        SourceCase{u" 求人\r\n", u"SELECT * FROM 求人"},
        SourceCase{u"jobs_2", u"SELECT * FROM jobs_2"},
        SourceCase{u"SELECT * FROM 求人 WHERE 障専= 0 ORDER BY rank DESC "
                   u"limit 1000;",
                   u"SELECT * FROM 求人 WHERE 障専= 0 ORDER BY rank DESC "
                   u"limit 1000;"},
        SourceCase{u"求人;", u"求人;"}, SourceCase{u"2求人", u"2求人"},
        SourceCase{u"求人　表", u"求人　表"}, SourceCase{u"", u""}));

TEST(SqlTextTest, QuotesOnlyNamesThatNeedIt) {
  EXPECT_EQ(U8(SqlIdentifier(u"始時1")), "始時1");
  EXPECT_EQ(U8(SqlIdentifier(u"rank")), "rank");
  EXPECT_EQ(U8(SqlIdentifier(u"my table")), "\"my table\"");
  EXPECT_EQ(U8(SqlIdentifier(u"a\"b")), "\"a\"\"b\"");
}

TEST(SqlTextTest, InsertStatementNumbersItsParameters) {
  EXPECT_EQ(InsertStatement(u"求人", {u"社名", u"rank", u"始時"}, '$'),
            "INSERT INTO 求人 (社名, rank, 始時) VALUES ($1, $2, $3)");
  EXPECT_EQ(InsertStatement(u"求人", {u"社名"}, '?'),
            "INSERT INTO 求人 (社名) VALUES (?1)");
  EXPECT_THROW(InsertStatement(u"求人", {}, '?'), Failure);
}

TEST(SqlTextTest, BoundDateTimesAreIso) {
  EXPECT_EQ(IsoDateTime(DateTime{2000, 1, 1, 8, 30, 0}), "2000-01-01 08:30:00");
  EXPECT_EQ(IsoDate(DateTime{2026, 12, 20, 8, 30, 0}), "2026-12-20");
}

TEST(SqlTextTest, LongStatementsAreCutBetweenCharacters) {
  std::string sql;
  for (int i = 0; i < 200; ++i) sql += "求";
  std::string cut = StatementForMessage(sql);
  EXPECT_LT(cut.size(), sql.size());
  EXPECT_EQ(U8(U16(cut)), cut);  // still valid UTF-8
  EXPECT_EQ(cut.substr(cut.size() - 3), "...");
}

}  // namespace
}  // namespace qlok
