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
// alone. A new job table gets its word index (grams/gram_index.h). Returns what
// was created ("the job table 求人", "the registration tables"). Throws
// Failure, creating nothing, when both exist or the engine refuses.
std::vector<std::string> CreateSiteTables(Connection& db);

}  // namespace qlok

#endif  // QLOK_TOOLS_SITE_TABLES_H_
