#include "tools/site_tables.h"

#include "consent/consent_store.h"
#include "grams/gram_index.h"
#include "jobs/job_columns.h"
#include "jobs/schema.h"
#include "limits/send_counts.h"
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
  const bool had_registrations = TableExists(db, u"registrations");
  if (!had_registrations) {
    schema += RegistrationSchema(db.Engine());
    made.push_back("the registration tables");
  }
  // The tables of the safeguards come beside the registrations; a site
  // made before them gets them from init too, and its registrations keep
  // their daily mail (they count as confirmed earlier).
  bool adopt = false;
  if (!TableExists(db, u"registration_consent")) {
    schema += u"\n" + ConsentSchema(db.Engine());
    made.push_back("the consent table");
    adopt = had_registrations;
  }
  if (!TableExists(db, u"send_counts")) {
    schema += u"\n" + SendCountsSchema(db.Engine());
    made.push_back("the send counts");
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
    if (adopt) {
      const int64_t adopted =
          NewSqlConsentStore(db)->AdoptEarlierRegistrations();
      made.push_back("consent rows for " + std::to_string(adopted) +
                     " registrations made before it (counted as confirmed)");
    }
  });
  if (new_jobs) made.push_back("the word index of " + U8(kJobTable));
  return made;
}

}  // namespace qlok
