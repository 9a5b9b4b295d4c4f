// The schema of the job table 求人 for each engine.
//
// The schema files platform/schema/sqlite.sql and platform/schema/
// postgresql.sql are built into the program; they create the table with
// every column of JobColumns() (results/job_columns.h) and an index on
// rank. Column types: text TEXT; whole number, flag and code INTEGER; the
// six working-time columns date-times (SQLite: TIMESTAMP with the
// collation qlok_time; PostgreSQL: TIMESTAMP); 募集締切日 and 採用予定日
// DATE.
#ifndef QLOK_PLATFORM_SCHEMA_H_
#define QLOK_PLATFORM_SCHEMA_H_

#include <string>
#include <string_view>

#include "platform/database.h"

namespace qlok {

// The statements that create the job table and its index on the engine
// named as Connection::Engine() names it ("sqlite" or "postgresql"), for
// one call of Connection::Execute. They fail when the table exists. Throws
// Failure for any other engine name.
std::u16string JobTableSchema(std::string_view engine);

// The statements that create the tables of the registrations for the
// daily mail (platform/schema/registrations_*.sql): registrations,
// seen_jobs and address_lookups. The same contract as JobTableSchema.
std::u16string RegistrationSchema(std::string_view engine);

// True when the connection's database has a table `name` that an
// unqualified name reaches. Throws Failure when the engine refuses.
bool TableExists(Connection& db, const std::u16string& name);

}  // namespace qlok

#endif  // QLOK_PLATFORM_SCHEMA_H_
