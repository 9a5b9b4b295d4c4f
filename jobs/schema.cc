#include "jobs/schema.h"

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {

// The schema files as they stand, from the source generated at build time.
namespace embedded_texts {
extern const char kJobTableSqlite[];
extern const char kJobTablePostgresql[];
}  // namespace embedded_texts

std::u16string JobTableSchema(std::string_view engine) {
  if (engine == "sqlite") return U16(embedded_texts::kJobTableSqlite);
  if (engine == "postgresql") return U16(embedded_texts::kJobTablePostgresql);
  throw Failure("no job table schema for the engine " + std::string(engine));
}

}  // namespace qlok
