#include "platform/database.h"

#include "platform/failure.h"
#include "platform/postgres_connection.h"
#include "platform/sqlite_connection.h"
#include "text/unicode.h"

namespace qlok {
namespace {

class SiteDatabases : public Databases {
 public:
  SiteDatabases(std::string site_home, const DatabaseOptions& options)
      : site_home_(std::move(site_home)), options_(options) {}

  std::unique_ptr<Connection> Open(
      const std::u16string& connection_string) override {
    return OpenConnection(connection_string, site_home_, options_);
  }

 private:
  std::string site_home_;
  DatabaseOptions options_;
};

}  // namespace

std::unique_ptr<Connection> OpenConnection(
    const std::u16string& connection_string, const std::string& site_home,
    const DatabaseOptions& options) {
  std::string text = U8(connection_string);
  constexpr std::string_view kSqlite = "sqlite:";
  if (text.starts_with(kSqlite)) {
    std::string path = text.substr(kSqlite.size());
    if (path.empty()) {
      throw Failure("the connection string \"sqlite:\" names no file");
    }
    if (path != ":memory:" && path[0] != '/') {
      std::string home = site_home.empty() ? "." : site_home;
      if (home.back() != '/') home += '/';
      path = home + path;
    }
    return OpenSqliteConnection(path, options.create_missing,
                                options.sqlite_cache_kib,
                                options.sqlite_lock_deadline);
  }
  if (text.starts_with("postgresql://") || text.starts_with("postgres://")) {
    return OpenPostgresConnection(text, options);
  }
  // The text itself stays out of the message: it may hold a password.
  throw Failure(
      "the connection string is neither \"sqlite:PATH\" nor a "
      "\"postgresql://\" or \"postgres://\" URI");
}

std::unique_ptr<Databases> NewDatabases(const std::string& site_home,
                                        const DatabaseOptions& options) {
  return std::make_unique<SiteDatabases>(site_home, options);
}

bool TableExists(Connection& db, const std::u16string& name) {
  const std::u16string sql =
      db.Engine() == "sqlite"
          ? u"SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = $1"
          : u"SELECT 1 WHERE to_regclass(quote_ident($1)) IS NOT NULL";
  std::unique_ptr<Recordset> rows = db.Query(sql, {Value::Text(name)}, 1);
  const bool exists = !rows->AtEnd();
  while (!rows->AtEnd()) rows->MoveNext();
  return exists;
}

}  // namespace qlok
