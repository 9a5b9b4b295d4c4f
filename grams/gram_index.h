// The word index of the job table 求人, kept by the program in the site's
// database beside the table: for every job, the grams (grams/grams.h) of
// the columns the search compares with like. A search with words reads the
// index for the jobs that may match and runs its conditions over those
// alone; the answers are the scan's.
//
// The index knows how many rows and which highest row key it last saw, and
// a change of the job table made by anything but the program (a row
// inserted, updated or deleted by hand, TRUNCATE) marks it stale through a
// trigger: searches then scan the table, as they did before the index,
// until `q_lok-admin reindex` rebuilds it.
//
// SQLite: a contentless FTS5 table (no positions) whose documents are the
// grams as ASCII tokens, under a key made of the job's rank and rowid (so
// that the index lists candidates in the order a search shows them); jobs
// with a rowid of 2^31 or more or a rank beyond 32 bits leave the index
// stale (so on PostgreSQL). PostgreSQL: a table of (job's qlok_row, its
// order key of rank and row, its band, array of 32-bit gram keys mixed
// with the band's salt) with a GIN index, and the bands (runs of jobs in
// the order of every answer) in a table of their own; the job table gets
// the identity column qlok_row, an index on it and, from the first
// rebuild, one on (rank DESC, qlok_row), the order of every answer.
//
// Every function throws Failure when the engine refuses; the writing ones
// run in the caller's transaction unless they say otherwise.
#ifndef QLOK_GRAMS_GRAM_INDEX_H_
#define QLOK_GRAMS_GRAM_INDEX_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "grams/grams.h"
#include "platform/database.h"

namespace qlok {

struct GramIndexState {
  bool exists = false;  // the index and its state row are there
  bool stale = false;   // the job table changed behind the program's back
  int64_t rows = 0;     // rows of the job table when it was last kept
  int64_t high = 0;     // the highest row key it holds
  // The connection's user may read the index (PostgreSQL: a role without
  // the grant scans the table instead of failing).
  bool readable = true;
  // PostgreSQL: the index was laid out by an earlier version (it counts as
  // stale, so that the next write of the job table or `reindex` builds it
  // anew).
  bool earlier_layout = false;
};

// How the index is built. PostgreSQL cuts the jobs into bands of some
// 1/256 of the table each, at least min_band_jobs and at most 4,096 jobs
// (tests cut small tables into many bands with a smaller minimum); SQLite
// has no bands.
struct GramIndexOptions {
  int64_t min_band_jobs = 1024;
};

// The state of the connection's index; `exists` false when there is none.
GramIndexState ReadGramIndexState(Connection& db);

// Creates the empty index, its state (fresh, no rows) and the triggers on
// the job table, which must exist and be empty of rows the index lacks
// (init calls it right after creating the table).
void CreateGramIndex(Connection& db, const GramIndexOptions& options = {});

// Before the program writes jobs in a transaction: the state of the index
// as it was (for UpdateGramIndex); from now on to the end of the
// transaction the program's own writes do not count as changes behind its
// back.
GramIndexState StartKeepingGramIndex(Connection& db);

// After the program has written jobs in the current transaction, brings
// the index up to date: `before` is the state read before the writes. A
// stale index (or any with `rebuild`, or when the new rows outnumber the
// indexed ones) is filled anew from every row, a fresh one given the rows
// above `before.high`; a database without the index is left without it. Returns
// the rows indexed.
int64_t UpdateGramIndex(Connection& db, const GramIndexState& before,
                        bool rebuild, const GramIndexOptions& options = {});

// Rebuilds the index from every row of the job table in one transaction of
// its own, creating it when missing. Returns the rows indexed.
int64_t RebuildGramIndex(Connection& db, const GramIndexOptions& options = {});

// Removes the index, its state and its triggers (PostgreSQL keeps the
// column qlok_row); searches then scan the table. Nothing to remove is no
// failure. In one transaction of its own.
void RemoveGramIndex(Connection& db);

// What is wrong with the index, in words for the operator, or nullopt when
// it agrees with the job table: missing or marked stale (searches then
// scan the table), or its count of rows or highest row key no longer those
// of the table (a change the triggers did not see).
std::optional<std::string> GramIndexProblem(Connection& db);

// An SQL expression that counts the rows of the job table, for a
// connection whose index is in `state`: the count the index keeps while
// it is fresh (the program's writes keep it in their transaction, any other
// write marks it stale), else count(*). Evaluated in the statement it
// stands in, so the count and the rows are of one state of the table.
std::u16string TableCountExpression(const GramIndexState& state);

// How the connection's engine reads like patterns.
LikeDialect DialectOf(std::string_view engine);

// The column that numbers the job table's rows in the order they were
// inserted: rowid on SQLite, qlok_row on PostgreSQL (which only a database
// with the index has).
std::u16string_view RowKeyColumn(std::string_view engine);

// Where a search statement takes its rows from and in which order:
//   SELECT columns FROM from WHERE narrowing AND conditions ORDER BY order
// (without "narrowing AND" when it is empty). Every order gives the jobs
// best rank first and jobs of equal rank in the order of their row keys.
struct JobSource {
  std::u16string columns = u"*";
  std::u16string from = u"求人";
  std::u16string narrowing;
  std::u16string order = u"rank DESC";
};

// The whole table, ties by the row key when there is one (SQLite always;
// PostgreSQL when `numbered`: the index has numbered the rows).
JobSource TableSource(std::string_view engine, bool numbered);

// The jobs the index names for `query`, which must restrict, in the order
// of the result: SQLite's index gives its candidates in that order (its
// document keys are rank and row key), PostgreSQL's are sorted by their
// order key band by band; the statement then reads each candidate's job in
// turn and stops once it has its rows.
JobSource CandidateSource(std::string_view engine, const GramQuery& query);

}  // namespace qlok

#endif  // QLOK_GRAMS_GRAM_INDEX_H_
