#include "tools/job_table.h"

#include <memory>
#include <string>

#include "grams/gram_index.h"
#include "jobs/job_columns.h"
#include "jobs/schema.h"
#include "platform/failure.h"
#include "platform/transaction.h"

namespace qlok {

void CreateJobTable(Connection& db) {
  const std::u16string schema = JobTableSchema(db.Engine());
  InTransaction(db, [&] { db.Execute(schema); });
}

size_t WriteJobs(Connection& db, const std::vector<std::u16string>& columns,
                 bool replace, JobRowSource& source) {
  size_t count = 0;
  InTransaction(db, [&] {
    const GramIndexState index = StartKeepingGramIndex(db);
    if (replace) db.Execute(u"DELETE FROM " + std::u16string(kJobTable));
    std::unique_ptr<RowWriter> writer =
        db.PrepareInsert(std::u16string(kJobTable), columns);
    std::vector<Value> row;
    while (source.Next(row)) {
      try {
        writer->Insert(row);
      } catch (const Failure& failure) {
        const std::string where = source.Where();
        if (where.empty()) throw;
        throw Failure(where + ": " + failure.what());
      }
      ++count;
    }
    writer.reset();
    UpdateGramIndex(db, index, replace);
  });
  return count;
}

}  // namespace qlok
