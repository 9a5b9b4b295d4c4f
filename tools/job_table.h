// Writing the job table 求人: creating it and filling it in one transaction.
#ifndef QLOK_TOOLS_JOB_TABLE_H_
#define QLOK_TOOLS_JOB_TABLE_H_

#include <cstddef>
#include <string>
#include <vector>

#include "platform/database.h"
#include "platform/value.h"

namespace qlok {

// Where the rows written by WriteJobs come from.
class JobRowSource {
 public:
  virtual ~JobRowSource() = default;
  // The next row into `row`, one value per column given to WriteJobs.
  // False when there are no more. May throw Failure.
  virtual bool Next(std::vector<Value>& row) = 0;
  // Where the last row came from, put before the database's message when
  // the database refuses that row ("jobs.csv:14"); empty for no place.
  virtual std::string Where() const { return {}; }
};

// Creates the job table and its index from the schema of the connection's
// engine, in one transaction. Throws Failure (with nothing created) when
// the engine refuses, for example because the table exists already.
void CreateJobTable(Connection& db);

// Writes every row of `source` into the job table through one prepared
// statement inside one transaction; with `replace` the table's rows are
// deleted first in the same transaction, so readers see either the old
// rows or the new ones. A word index the table has is kept in the same
// transaction (new rows added, or all rows indexed anew after a replace
// or a change behind the program's back). Returns the number of rows written.
// On any failure the transaction is rolled back, the table keeps what it had,
// and the Failure is thrown again (a refused row with source.Where() before the
// message).
size_t WriteJobs(Connection& db, const std::vector<std::u16string>& columns,
                 bool replace, JobRowSource& source);

}  // namespace qlok

#endif  // QLOK_TOOLS_JOB_TABLE_H_
