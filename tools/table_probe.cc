#include "tools/table_probe.h"

#include <exception>
#include <memory>

namespace qlok {
namespace {

// The engine's message when `select` cannot run, else nothing.
std::optional<std::string> StatementProblem(Connection& db,
                                            const std::u16string& select) {
  try {
    std::unique_ptr<Recordset> rows = db.Open(select, 0);
    rows->AtEnd();
    return std::nullopt;
  } catch (const std::exception& failure) {
    return std::string(failure.what());
  }
}

}  // namespace

std::optional<std::string> TableProblem(Connection& db,
                                        std::u16string_view table) {
  return StatementProblem(
      db, u"SELECT * FROM " + std::u16string(table) + u" WHERE 1 = 0");
}

std::vector<std::u16string> MissingColumns(
    Connection& db, std::u16string_view table,
    const std::vector<std::u16string>& columns) {
  if (TableProblem(db, table)) return columns;
  std::vector<std::u16string> missing;
  for (const std::u16string& column : columns) {
    if (StatementProblem(db, u"SELECT " + column + u" FROM " +
                                 std::u16string(table) + u" WHERE 1 = 0")) {
      missing.push_back(column);
    }
  }
  return missing;
}

}  // namespace qlok
