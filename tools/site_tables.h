// Creating the tables of a site: the job table 求人 and the tables of the
// registrations for the daily mail.
#ifndef QLOK_TOOLS_SITE_TABLES_H_
#define QLOK_TOOLS_SITE_TABLES_H_

#include <string>
#include <vector>

#include "platform/database.h"

namespace qlok {

// Creates, in one transaction, whichever of the two sets of tables the
// database lacks: the job table (with its index) and the registration
// tables; a site whose job table exists gets the registration tables
// alone. A new job table gets its word index (grams/gram_index.h). The
// consent table and the send counts are created beside them whenever they
// are missing; when the registrations were there before, each of them gets a
// consent row confirmed as of its creation. Returns what was created ("the
// job table 求人", "the registration tables", "the consent table", ...).
// Throws Failure, creating nothing, when all exist or the engine refuses.
std::vector<std::string> CreateSiteTables(Connection& db);

}  // namespace qlok

#endif  // QLOK_TOOLS_SITE_TABLES_H_
