// The engine-specific half of the word index (grams/gram_index.h): where the
// grams are kept and how candidates are asked for. One implementation per
// engine, in gram_store_sqlite.cc and gram_store_postgresql.cc.
#ifndef QLOK_GRAMS_GRAM_STORE_H_
#define QLOK_GRAMS_GRAM_STORE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "grams/gram_index.h"
#include "grams/grams.h"
#include "platform/database.h"

namespace qlok {

// The distinct grams of one job.
struct JobGrams {
  int64_t job = 0;
  int64_t rank = 0;
  std::vector<Gram> grams;
};

class GramStore {
 public:
  virtual ~GramStore() = default;
  // The row key column of the job table.
  virtual std::u16string RowKey() const = 0;
  // The order in which Add wants the jobs, and whether the rows may be
  // read in one pass while the store writes (else they are paged through
  // by row key, which must then be the order).
  virtual std::u16string ReadOrder() const = 0;
  virtual bool ReadsInOnePass() const = 0;
  // Creates the tables, the triggers and (PostgreSQL) the row key column.
  virtual void Create() = 0;
  // Drops whatever Create made but the row key column; what is missing is
  // passed over.
  virtual void Remove() = 0;
  // Before a rebuild: starts the index over without grams.
  virtual void StartOver() = 0;
  // Adds the grams of some jobs, in the order ReadOrder names.
  // False, with nothing added, when one of them cannot be indexed (the
  // index is then of no use until rebuilt).
  virtual bool Add(const std::vector<JobGrams>& jobs) = 0;
  // After the adding: whatever makes the index fast to read.
  virtual void Finish(bool rebuilt) = 0;
};

std::unique_ptr<GramStore> NewSqliteGramStore(Connection& db);
// `min_band_jobs`: see GramIndexOptions.
std::unique_ptr<GramStore> NewPostgresGramStore(Connection& db,
                                                int64_t min_band_jobs);

// Where the rows of a search over the candidates of `query` come from.
JobSource SqliteCandidates(const GramQuery& query);
JobSource PostgresCandidates(const GramQuery& query);

// PostgreSQL: from now on to the end of the transaction, the program's own
// writes to the job table do not mark the index stale.
void KeepPostgresIndexFresh(Connection& db);

// The name of the table that holds the state of the index (both engines).
inline constexpr std::u16string_view kGramStateTable = u"qlok_gram_state";

}  // namespace qlok

#endif  // QLOK_GRAMS_GRAM_STORE_H_
