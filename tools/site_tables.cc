#include "tools/site_tables.h"

#include "grams/gram_index.h"
#include "jobs/job_columns.h"
#include "jobs/schema.h"
#include "platform/failure.h"
#include "platform/transaction.h"
#include "registrations/registration_store.h"
#include "text/unicode.h"

namespace qlok {

std::vector<std::string> CreateSiteTables(Connection& db) {
  std::u16string schema;
  std::vector<std::string> made;
  const bool new_jobs = !TableExists(db, std::u16string(kJobTable));
  if (new_jobs) {
    schema += JobTableSchema(db.Engine()) + u"\n";
    made.push_back("the job table " + U8(kJobTable));
  }
  if (!TableExists(db, u"registrations")) {
    schema += RegistrationSchema(db.Engine());
    made.push_back("the registration tables");
  }
  if (made.empty()) {
    throw Failure("the job table " + U8(kJobTable) +
                  " and the registration tables exist already; nothing "
                  "was changed (import --replace and generate --replace "
                  "replace the jobs)");
  }
  InTransaction(db, [&] {
    db.Execute(schema);
    if (new_jobs) CreateGramIndex(db);
  });
  if (new_jobs) made.push_back("the word index of " + U8(kJobTable));
  return made;
}

}  // namespace qlok
