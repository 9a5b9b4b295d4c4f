#include "grams/gram_index.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <tuple>
#include <vector>

#include "grams/gram_store.h"
#include "platform/failure.h"
#include "platform/transaction.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// Jobs read and indexed at a time: bounded memory for any table size.
constexpr size_t kBatchJobs = 4000;

bool IsSqlite(std::string_view engine) { return engine == "sqlite"; }

std::unique_ptr<GramStore> StoreOf(Connection& db,
                                   const GramIndexOptions& options = {}) {
  if (IsSqlite(db.Engine())) return NewSqliteGramStore(db);
  return NewPostgresGramStore(db, options.min_band_jobs);
}

bool Before(const Gram& a, const Gram& b) {
  return std::make_tuple(a.field, a.first, a.second) <
         std::make_tuple(b.field, b.first, b.second);
}

// The statement that reads the searched columns of the rows above $1 in
// the store's order; paged, at most kBatchJobs of them.
std::u16string ReadStatement(const GramStore& store) {
  const std::u16string key = store.RowKey();
  std::u16string sql = u"SELECT " + key + u" AS qlok_job, rank AS qlok_rank";
  for (const GramColumn& column : GramColumns()) {
    sql += u", ";
    sql += column.name;
  }
  sql += u" FROM 求人 WHERE " + key + u" > $1 ORDER BY " + store.ReadOrder();
  if (!store.ReadsInOnePass()) sql += u" LIMIT " + Digits(kBatchJobs);
  return sql;
}

// The distinct grams of the current row.
JobGrams GramsOfRow(const Recordset& row) {
  JobGrams job;
  job.job = row.Field(u"qlok_job").AsInteger();
  job.rank = row.Field(u"qlok_rank").AsInteger();
  for (const GramColumn& column : GramColumns()) {
    const Value value = row.Field(column.name);
    if (value.IsNull()) continue;
    const std::u16string text = value.ToText();
    for (size_t f = 0; f < kGramFieldCount; ++f) {
      if (column.in_field[f]) {
        AppendTextGrams(static_cast<GramField>(f), text, job.grams);
      }
    }
  }
  std::sort(job.grams.begin(), job.grams.end(), Before);
  job.grams.erase(std::unique(job.grams.begin(), job.grams.end()),
                  job.grams.end());
  return job;
}

// Reads the rows above `after` and hands their grams to the store, a batch
// at a time. A store that reads in one pass gets each batch while the pass
// goes on (SQLite allows writing other tables meanwhile); the others page
// through the rows by row key, each page read to its end first (as a
// PostgreSQL connection needs). Returns the number of rows, or nullopt
// when the store could not index one of them.
std::optional<int64_t> IndexRowsAbove(Connection& db, GramStore& store,
                                      int64_t after) {
  const std::u16string sql = ReadStatement(store);
  const bool one_pass = store.ReadsInOnePass();
  int64_t count = 0;
  std::vector<JobGrams> jobs;
  auto hand_over = [&] {
    if (jobs.empty()) return true;
    if (!store.Add(jobs)) return false;
    count += static_cast<int64_t>(jobs.size());
    after = jobs.back().job;
    jobs.clear();
    return true;
  };
  while (true) {
    std::unique_ptr<Recordset> rows = db.Query(sql, {Value::Integer(after)}, 0);
    if (rows->AtEnd()) return count;
    for (; !rows->AtEnd(); rows->MoveNext()) {
      jobs.push_back(GramsOfRow(*rows));
      if (one_pass && jobs.size() == kBatchJobs && !hand_over()) {
        return std::nullopt;
      }
    }
    rows.reset();
    if (!hand_over()) return std::nullopt;
    if (one_pass) return count;
  }
}

// The row count and highest row key of the job table.
std::pair<int64_t, int64_t> TableExtent(Connection& db,
                                        const std::u16string& key) {
  std::unique_ptr<Recordset> rows = db.Query(
      u"SELECT count(*) AS n, coalesce(max(" + key + u"), 0) AS high FROM 求人",
      {}, 1);
  return {rows->Field(u"n").AsInteger(), rows->Field(u"high").AsInteger()};
}

void WriteState(Connection& db, int64_t rows, int64_t high,
                bool stale = false) {
  const bool sqlite = IsSqlite(db.Engine());
  const std::u16string flag =
      stale ? (sqlite ? u"1" : u"true") : (sqlite ? u"0" : u"false");
  std::unique_ptr<Recordset> done =
      db.Query(u"UPDATE qlok_gram_state SET stale = " + flag +
                   u", rows = $1, high = $2 RETURNING high",
               {Value::Integer(rows), Value::Integer(high)}, 1);
  if (done->AtEnd()) throw Failure("the word index has no state row");
}

}  // namespace

GramIndexState ReadGramIndexState(Connection& db) {
  GramIndexState state;
  if (!TableExists(db, std::u16string(kGramStateTable))) return state;
  // PostgreSQL: 2 for an index laid out by an earlier version, without
  // bands, which searches cannot read.
  const std::u16string readable =
      IsSqlite(db.Engine())
          ? u"1"
          : u"CASE WHEN to_regclass('qlok_gram_bands') IS NULL THEN 2 WHEN "
            u"has_table_privilege('qlok_grams', 'SELECT') AND "
            u"has_table_privilege('qlok_gram_bands', 'SELECT') THEN 1 ELSE 0 "
            u"END";
  std::unique_ptr<Recordset> rows = db.Query(
      u"SELECT CASE WHEN stale THEN 1 ELSE 0 END AS stale, rows, high, " +
          readable + u" AS readable FROM qlok_gram_state",
      {}, 1);
  if (rows->AtEnd()) return state;
  state.exists = true;
  state.stale = rows->Field(u"stale").AsInteger() != 0;
  state.rows = rows->Field(u"rows").AsInteger();
  state.high = rows->Field(u"high").AsInteger();
  const int64_t readable_flag = rows->Field(u"readable").AsInteger();
  state.earlier_layout = readable_flag == 2;
  state.stale = state.stale || state.earlier_layout;
  state.readable = readable_flag == 1;
  return state;
}

void CreateGramIndex(Connection& db, const GramIndexOptions& options) {
  std::unique_ptr<GramStore> store = StoreOf(db, options);
  store->Create();
  const auto [rows, high] = TableExtent(db, store->RowKey());
  bool indexed = true;
  if (rows != 0) {
    indexed = IndexRowsAbove(db, *store, std::numeric_limits<int64_t>::min())
                  .has_value();
    store->Finish(true);
  }
  WriteState(db, rows, high, !indexed);
}

int64_t UpdateGramIndex(Connection& db, const GramIndexState& before,
                        bool rebuild, const GramIndexOptions& options) {
  if (!before.exists) return 0;
  std::unique_ptr<GramStore> store = StoreOf(db, options);
  const auto [rows, high] = TableExtent(db, store->RowKey());
  // More new jobs than indexed ones: building the whole index in one go
  // (one sorted write of each list, one GIN build) costs less than adding
  // to it.
  rebuild = rebuild || before.stale || rows - before.rows > before.rows;
  if (rebuild) store->StartOver();
  const std::optional<int64_t> indexed = IndexRowsAbove(
      db, *store, rebuild ? std::numeric_limits<int64_t>::min() : before.high);
  store->Finish(rebuild);
  WriteState(db, rows, high, !indexed);
  return indexed.value_or(0);
}

int64_t RebuildGramIndex(Connection& db, const GramIndexOptions& options) {
  int64_t indexed = 0;
  InTransaction(db, [&] {
    GramIndexState before = ReadGramIndexState(db);
    if (!before.exists) {
      StoreOf(db, options)->Create();
      before.exists = true;
    }
    indexed = UpdateGramIndex(db, before, /*rebuild=*/true, options);
  });
  return indexed;
}

void RemoveGramIndex(Connection& db) {
  InTransaction(db, [&] { StoreOf(db)->Remove(); });
}

GramIndexState StartKeepingGramIndex(Connection& db) {
  const GramIndexState state = ReadGramIndexState(db);
  if (!IsSqlite(db.Engine()) && state.exists) KeepPostgresIndexFresh(db);
  return state;
}

std::optional<std::string> GramIndexProblem(Connection& db) {
  const GramIndexState state = ReadGramIndexState(db);
  const std::string reindex =
      "; searches scan the whole table until \"q_lok-admin reindex\" "
      "rebuilds it";
  if (!state.exists) return "the word index is missing" + reindex;
  if (state.earlier_layout) {
    return "the word index was built by an earlier version" + reindex;
  }
  if (!state.readable) {
    return std::string(
        "this user may not read the word index (qlok_grams, "
        "qlok_gram_bands); searches scan "
        "the whole table until it is granted");
  }
  if (state.stale) {
    return "the job table was changed by hand since the word index was "
           "kept" +
           reindex;
  }
  const auto [rows, high] = TableExtent(db, StoreOf(db)->RowKey());
  if (rows != state.rows || high != state.high) {
    return "the word index was kept for " + std::to_string(state.rows) +
           " jobs up to row " + std::to_string(state.high) +
           ", the job table has " + std::to_string(rows) + " up to row " +
           std::to_string(high) + reindex;
  }
  return std::nullopt;
}

std::u16string TableCountExpression(const GramIndexState& state) {
  const std::u16string count = u"(SELECT count(*) FROM 求人)";
  if (!state.exists) return count;
  // The state row is read only while it is fresh; else the engine counts
  // (coalesce evaluates no further than its first value that is not null).
  return u"coalesce((SELECT rows FROM qlok_gram_state WHERE NOT stale), " +
         count + u")";
}

LikeDialect DialectOf(std::string_view engine) {
  return IsSqlite(engine) ? LikeDialect::kSqlite : LikeDialect::kPostgresql;
}

std::u16string_view RowKeyColumn(std::string_view engine) {
  return IsSqlite(engine) ? u"rowid" : u"qlok_row";
}

JobSource TableSource(std::string_view engine, bool numbered) {
  JobSource source;
  if (IsSqlite(engine) || numbered) {
    source.order += u", ";
    source.order += RowKeyColumn(engine);
  }
  return source;
}

JobSource CandidateSource(std::string_view engine, const GramQuery& query) {
  return IsSqlite(engine) ? SqliteCandidates(query) : PostgresCandidates(query);
}

}  // namespace qlok
