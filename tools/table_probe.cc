#include "tools/table_probe.h"

#include <exception>
#include <memory>

namespace qlok {
namespace {

// `name` as a quoted SQL identifier, which both engines take.
std::u16string Quoted(std::u16string_view name) {
  std::u16string out = u"\"";
  for (char16_t c : name) {
    if (c == u'"') out += u'"';
    out += c;
  }
  return out + u"\"";
}

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
  return StatementProblem(db,
                          u"SELECT * FROM " + Quoted(table) + u" WHERE 1 = 0");
}

std::vector<std::u16string> MissingColumns(
    Connection& db, std::u16string_view table,
    const std::vector<std::u16string>& columns) {
  if (TableProblem(db, table)) return columns;
  std::vector<std::u16string> missing;
  for (const std::u16string& column : columns) {
    if (StatementProblem(db, u"SELECT " + Quoted(column) + u" FROM " +
                                 Quoted(table) + u" WHERE 1 = 0")) {
      missing.push_back(column);
    }
  }
  return missing;
}

}  // namespace qlok
