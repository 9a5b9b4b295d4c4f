// Whether a table and its columns are in a database, asked the same way on
// every engine: by reading no row of them. Names are written into the SQL
// unquoted, as the programs' own statements write them (so PostgreSQL
// folds ASCII letters to lower case alike), and must be plain identifiers.
#ifndef QLOK_TOOLS_TABLE_PROBE_H_
#define QLOK_TOOLS_TABLE_PROBE_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/database.h"

namespace qlok {

// Nothing when `table` can be read; else the engine's message (a table
// that does not exist, a connection that broke). Never throws.
std::optional<std::string> TableProblem(Connection& db,
                                        std::u16string_view table);

// The names of `columns` that `table` does not have, in their order. A
// table that cannot be read lacks them all. Never throws.
std::vector<std::u16string> MissingColumns(
    Connection& db, std::u16string_view table,
    const std::vector<std::u16string>& columns);

}  // namespace qlok

#endif  // QLOK_TOOLS_TABLE_PROBE_H_
