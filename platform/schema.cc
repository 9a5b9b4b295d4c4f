#include "platform/schema.h"

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {

// The schema files as they stand, from the source generated at build time.
namespace schema_files {
extern const char kSqlite[];
extern const char kPostgresql[];
}  // namespace schema_files

std::u16string JobTableSchema(std::string_view engine) {
  if (engine == "sqlite") return U16(schema_files::kSqlite);
  if (engine == "postgresql") return U16(schema_files::kPostgresql);
  throw Failure("no job table schema for the engine " + std::string(engine));
}

}  // namespace qlok
