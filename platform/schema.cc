#include "platform/schema.h"

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {

// The schema files as they stand, from the source generated at build time.
namespace schema_files {
extern const char kSqlite[];
extern const char kPostgresql[];
extern const char kRegistrationsSqlite[];
extern const char kRegistrationsPostgresql[];
}  // namespace schema_files

std::u16string JobTableSchema(std::string_view engine) {
  if (engine == "sqlite") return U16(schema_files::kSqlite);
  if (engine == "postgresql") return U16(schema_files::kPostgresql);
  throw Failure("no job table schema for the engine " + std::string(engine));
}

std::u16string RegistrationSchema(std::string_view engine) {
  if (engine == "sqlite") return U16(schema_files::kRegistrationsSqlite);
  if (engine == "postgresql") {
    return U16(schema_files::kRegistrationsPostgresql);
  }
  throw Failure("no registration schema for the engine " + std::string(engine));
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
