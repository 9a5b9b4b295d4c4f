// The job database on SQLite.
#ifndef QLOK_PLATFORM_SQLITE_CONNECTION_H_
#define QLOK_PLATFORM_SQLITE_CONNECTION_H_

#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/database.h"

namespace qlok {

// Opens the SQLite database file at `path` (creating it when missing only
// with `create_missing`), or an empty database in memory for ":memory:";
// `cache_kib` above 0 bounds its page cache (PRAGMA cache_size).
// Every connection has the collation qlok_time of the working-time columns,
// and a statement that finds the database locked by another connection
// tries again until `lock_deadline` (whose clock must outlive the
// connection), or without one for a minute, before it fails ("database is
// locked"). Throws Failure when SQLite refuses, and "SQLite: the database file
// PATH does not exist" for a missing file that is not to be created.
//
// On the connection, Open runs exactly one statement (a text holding more
// throws Failure); a column declared TIMESTAMP or DATETIME gives date-time
// values and one declared DATE gives dates, read from the stored texts
// (a text that is no date-time stays a text). Recordsets and writers may
// outlive the connection object.
std::unique_ptr<Connection> OpenSqliteConnection(
    const std::string& path, bool create_missing, int cache_kib = 0,
    const std::optional<Deadline>& lock_deadline = std::nullopt);

// Sets SQLite up for a process in which one thread alone uses it: SQLite
// then takes none of its own locks and keeps no memory statistics, which
// saves a few percent of a search. Call it before the first connection is
// opened (later it changes nothing), and only in a program that never uses
// SQLite from two threads: the CGI programs, first thing in main.
void UseSqliteFromOneThread();

}  // namespace qlok

#endif  // QLOK_PLATFORM_SQLITE_CONNECTION_H_
