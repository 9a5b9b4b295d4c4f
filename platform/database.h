// The job database behind one small interface, whichever engine the
// connection string names: SQLite (embedded, the default) or PostgreSQL.
//
// All calls throw Failure on any error of the engine, with the engine's own
// message; nothing returns an error code.
#ifndef QLOK_PLATFORM_DATABASE_H_
#define QLOK_PLATFORM_DATABASE_H_

#include <cstddef>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/value.h"

namespace qlok {

// The rows of one statement, read row by row, field by field.
class Recordset {
 public:
  virtual ~Recordset() = default;
  // True when there is no current row: the result is empty or the last row
  // has been passed.
  virtual bool AtEnd() const = 0;
  // Back to the first row, without running the statement again. Throws
  // Failure when rows the recordset no longer holds would be needed (see
  // Connection::Open).
  virtual void MoveFirst() = 0;
  // To the next row. Throws Failure at the end.
  virtual void MoveNext() = 0;
  // A field of the current row by column name (exact, or else without
  // regard to ASCII letter case). Throws Failure at the end or for a column
  // the result does not have.
  virtual Value Field(std::u16string_view column) const = 0;
};

// Writes rows into one table through one prepared statement.
class RowWriter {
 public:
  virtual ~RowWriter() = default;
  // Inserts one row: one value per column named when the writer was made.
  virtual void Insert(const std::vector<Value>& row) = 0;
};

class Connection {
 public:
  static constexpr size_t kKeepAll = std::numeric_limits<size_t>::max();

  virtual ~Connection() = default;
  // Runs `source`, a SELECT statement or the bare name of a table (which
  // opens the whole table, without order or limit), exactly as given.
  // The statement runs once. Rows are read as the recordset moves; the first
  // `keep_rows` rows are held in memory so that MoveFirst can return to them,
  // later rows are dropped once passed, so memory does not grow with the
  // result.
  virtual std::unique_ptr<Recordset> Open(const std::u16string& source,
                                          size_t keep_rows) = 0;
  // Runs statements that return no rows (schema, transactions).
  virtual void Execute(const std::u16string& sql) = 0;
  // Runs one statement with bound parameters, for statements that carry
  // values from outside (a visitor's address, a token): `sql` names them
  // $1, $2, ... (the same text on both engines), $N being parameters[N-1],
  // and no value is ever spliced into the text. Every parameter must be
  // named. Gives the statement's rows as Open does (`keep_rows` alike); a
  // statement without rows (INSERT, UPDATE or DELETE without RETURNING)
  // has run once this returns and gives an empty recordset. Read a result
  // to its end before the next statement on the connection.
  virtual std::unique_ptr<Recordset> Query(const std::u16string& sql,
                                           const std::vector<Value>& parameters,
                                           size_t keep_rows) = 0;
  // From now on refuses every statement of this connection that would
  // change `table` (insert, update, delete, drop, alter, index, trigger),
  // for the programs that only read it. SQLite refuses such a statement
  // when it is prepared; on PostgreSQL the database role's privileges
  // decide and this changes nothing.
  virtual void RefuseChangesTo(const std::u16string& table) = 0;
  // A writer of rows into `table`, one value per column of `columns`.
  virtual std::unique_ptr<RowWriter> PrepareInsert(
      const std::u16string& table,
      const std::vector<std::u16string>& columns) = 0;
  // The engine's name, "sqlite" or "postgresql".
  virtual std::string Engine() const = 0;
};

// The table `source` names when it is a bare table name as Connection::Open
// takes it (a plain identifier, blanks around it ignored); nullopt for a
// statement.
std::optional<std::u16string> BareTableName(const std::u16string& source);

// How connections are opened.
struct DatabaseOptions {
  // PostgreSQL: the seconds a connection may take to open (libpq waits at
  // least 2; a connect_timeout in the URI itself takes precedence) and the
  // seconds one statement may run (the server cancels it then); 0 sets no
  // limit.
  int connect_timeout_seconds = 0;
  int statement_timeout_seconds = 0;
  // SQLite: create the database file when it does not exist. Only the
  // operator's "init" does; everywhere else a missing file is a Failure that
  // names it, and nothing is left behind.
  bool create_missing = false;
  // SQLite: the most memory the connection's page cache takes, in KiB; 0
  // keeps SQLite's own default (2,000 KiB). A search reads each page of the
  // job table about once, so a cache that large only fills up with pages
  // that are not read again: every one of them is memory the process must
  // be given (a page fault) and keeps.
  int sqlite_cache_kib = 0;
  // SQLite: a statement that finds the database locked by another
  // connection waits for it until this deadline (a request's time budget),
  // whose clock must outlive the connections; without one, a minute.
  std::optional<Deadline> sqlite_lock_deadline = std::nullopt;
};

// Opens the database a connection string names:
//   "sqlite:PATH"  SQLite; a relative PATH is taken from `site_home`,
//                  ":memory:" opens an empty database in memory;
//   "postgresql://..." or "postgres://..."  PostgreSQL, the URI as it stands.
// Throws Failure for any other string and when the engine refuses.
std::unique_ptr<Connection> OpenConnection(
    const std::u16string& connection_string, const std::string& site_home,
    const DatabaseOptions& options = {});

// True when the connection's database has a table `name` that an
// unqualified name reaches. Throws Failure when the engine refuses.
bool TableExists(Connection& db, const std::u16string& name);

// Opens connections; the request handler gets one so that tests can hand in
// databases that fail on demand.
class Databases {
 public:
  virtual ~Databases() = default;
  virtual std::unique_ptr<Connection> Open(
      const std::u16string& connection_string) = 0;
};

// Opens through OpenConnection with the given site home and options.
std::unique_ptr<Databases> NewDatabases(const std::string& site_home,
                                        const DatabaseOptions& options = {});

}  // namespace qlok

#endif  // QLOK_PLATFORM_DATABASE_H_
