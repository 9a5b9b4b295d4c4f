// The engine-independent half of the database connections: the recordset
// that keeps the first rows of a result over an engine's forward-only
// cursor, and the SQL texts both engines build the same way.
#ifndef QLOK_PLATFORM_RECORDSET_H_
#define QLOK_PLATFORM_RECORDSET_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/database.h"
#include "platform/value.h"

namespace qlok {

// One field of a row as the engine delivered it, before conversion.
struct RawCell {
  enum class Type : uint8_t { kNull, kInteger, kReal, kText };
  Type type = Type::kNull;
  int64_t integer = 0;
  double real = 0;
  std::string text;  // UTF-8, as delivered

  bool operator==(const RawCell&) const = default;
};
using RawRow = std::vector<RawCell>;

// An engine's forward-only cursor over the rows of one running statement.
class RowSource {
 public:
  virtual ~RowSource() = default;
  // Moves to the next row (the first on the first call). False when there
  // is none; the cursor then stays at its end. Throws Failure for an error
  // of the engine (which may only show when the first row is asked for).
  virtual bool Fetch() = 0;
  // The result's column names, in order; known once Fetch has been called.
  virtual const std::vector<std::u16string>& ColumnNames() const = 0;
  // A field of the row the last successful Fetch reached, as delivered.
  virtual RawCell Cell(size_t column) const = 0;
  // The typed value of a cell of `column`: the column's type in the engine
  // decides how a delivered text is read.
  virtual Value Convert(size_t column, const RawCell& cell) const = 0;
};

// A recordset over a RowSource. Its first `keep_rows` rows are copied as
// they are passed so that MoveFirst can return to them; later rows are read
// from the engine in place and dropped when passed, so memory does not grow
// with the result. Fields are converted only when asked for, so walking the
// rows to count them costs one fetch per row; a field of a kept row is
// converted once, however often it is read (a page reads many twice).
class KeepingRecordset : public Recordset {
 public:
  // Fetches the first row at once, so that an error of the statement shows
  // here. Throws Failure.
  KeepingRecordset(std::unique_ptr<RowSource> source, size_t keep_rows);

  bool AtEnd() const override;
  // Throws Failure when the first row has been dropped (keep_rows 0 and the
  // recordset has moved past it).
  void MoveFirst() override;
  // Throws Failure at the end, and when the next row has been dropped
  // (after MoveFirst, walking past the kept rows while the engine's cursor
  // has already gone further).
  void MoveNext() override;
  Value Field(std::u16string_view column) const override;

 private:
  void FetchNext();
  size_t ColumnIndex(std::u16string_view column) const;

  std::unique_ptr<RowSource> source_;
  size_t keep_rows_;
  std::vector<RawRow> kept_;  // rows 0 .. kept_.size()-1
  // The fields of the kept rows converted so far, by row and column.
  mutable std::vector<std::vector<std::optional<Value>>> converted_;
  size_t fetched_ = 0;      // rows the source has delivered so far
  bool exhausted_ = false;  // the source has reported its end
  size_t position_ = 0;     // the current row; fetched_ when at the end
  // Column names to their indices: a small open-addressing table, looked
  // up by a view of the name without making a string of it (a page looks
  // up some 1,800 fields by name).
  class NameIndex {
   public:
    // Adds `name` for column `index`; the first of two equal names stays.
    void Add(std::u16string name, size_t index);
    // The column of `name`, or nullopt.
    std::optional<size_t> Find(std::u16string_view name) const;

   private:
    size_t SlotOf(std::u16string_view name) const;
    std::vector<std::u16string> names_;
    std::vector<size_t> columns_;
    std::vector<uint32_t> slots_;  // 1 + position in names_, 0 for empty
  };
  NameIndex exact_names_;
  NameIndex folded_names_;
};

// True for a name made only of identifier characters (ASCII letters,
// digits, "_" and anything beyond ASCII) that does not begin with a digit;
// such a name needs no quoting in either engine.
bool IsPlainIdentifier(std::u16string_view text);

// The statement Connection::Open runs for `source`: a bare table name (a
// plain identifier, blanks around it ignored) becomes "SELECT * FROM name";
// anything else is returned exactly as given.
std::u16string StatementForSource(const std::u16string& source);

// A table or column name for a statement: a plain identifier as it is,
// anything else in double quotes with inner double quotes doubled.
std::u16string SqlIdentifier(std::u16string_view name);

// "INSERT INTO table (a, b) VALUES (<p1>, <p2>)" where <pN> is `marker`
// followed by N ("?1" for SQLite, "$1" for PostgreSQL). Throws Failure for
// an empty column list.
std::string InsertStatement(const std::u16string& table,
                            const std::vector<std::u16string>& columns,
                            char marker);

// Bound parameter texts: "2000-01-01 08:30:00" and "2026-12-20".
std::string IsoDateTime(const DateTime& t);
std::string IsoDate(const DateTime& t);

// A statement shortened for a failure message.
std::string StatementForMessage(std::string_view sql);

// The date-time in `column` of the current row of `row`: nothing for null;
// engines give date-times, or the stored text where a result column has no
// declared type (SQLite's RETURNING). Throws Failure naming `table` and the
// column for anything else.
std::optional<DateTime> DateTimeField(const Recordset& row,
                                      std::u16string_view column,
                                      std::string_view table);

}  // namespace qlok

#endif  // QLOK_PLATFORM_RECORDSET_H_
