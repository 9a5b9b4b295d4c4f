// The schema of the job table 求人 for each engine.
//
// The schema files jobs/schema/sqlite.sql and jobs/schema/postgresql.sql
// are built into the program; they create the table with
// every column of JobColumns() (jobs/job_columns.h) and an index on
// rank. Column types: text TEXT; whole number, flag and code INTEGER; the
// six working-time columns date-times (SQLite: TIMESTAMP with the
// collation qlok_time; PostgreSQL: TIMESTAMP); 募集締切日 and 採用予定日
// DATE.
#ifndef QLOK_JOBS_SCHEMA_H_
#define QLOK_JOBS_SCHEMA_H_

#include <string>
#include <string_view>

#include "platform/database.h"

namespace qlok {

// The statements that create the job table and its index on the engine
// named as Connection::Engine() names it ("sqlite" or "postgresql"), for
// one call of Connection::Execute. They fail when the table exists. Throws
// Failure for any other engine name.
std::u16string JobTableSchema(std::string_view engine);

}  // namespace qlok

#endif  // QLOK_JOBS_SCHEMA_H_
