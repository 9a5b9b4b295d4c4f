#include "tools/job_table.h"

#include <memory>
#include <string>

#include "platform/failure.h"
#include "platform/schema.h"
#include "results/job_columns.h"

namespace qlok {
namespace {

// Runs `body` between BEGIN and COMMIT; whatever fails rolls the
// transaction back (a failing rollback is ignored so that the first
// failure is the one reported) and is thrown again.
template <typename Body>
void InTransaction(Connection& db, Body&& body) {
  db.Execute(u"BEGIN");
  try {
    body();
    db.Execute(u"COMMIT");
  } catch (...) {
    IgnoringFailure([&] { db.Execute(u"ROLLBACK"); });
    throw;
  }
}

}  // namespace

void CreateJobTable(Connection& db) {
  const std::u16string schema = JobTableSchema(db.Engine());
  InTransaction(db, [&] { db.Execute(schema); });
}

size_t WriteJobs(Connection& db, const std::vector<std::u16string>& columns,
                 bool replace, JobRowSource& source) {
  size_t count = 0;
  InTransaction(db, [&] {
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
  });
  return count;
}

}  // namespace qlok
