#include "tools/job_import.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "platform/failure.h"
#include "text/date_time.h"
#include "text/unicode.h"
#include "tools/job_table.h"

namespace qlok {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

Value ParseWholeNumber(std::string_view field) {
  std::string_view text = Trimmed(field);
  bool negative = false;
  size_t pos = 0;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
    negative = text[pos] == '-';
    ++pos;
  }
  if (pos == text.size()) {
    throw Failure("not a whole number: " + std::string(field));
  }
  int64_t magnitude = 0;
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c < '0' || c > '9') {
      throw Failure("not a whole number: " + std::string(field));
    }
    magnitude = magnitude * 10 + (c - '0');
    // Both engines keep these columns as 32-bit integers.
    if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) {
      throw Failure("whole number out of range: " + std::string(field));
    }
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) {
    throw Failure("whole number out of range: " + std::string(field));
  }
  return Value::Integer(value);
}

// Every line break of a text as CR LF.
std::u16string WithCrLfBreaks(std::u16string text) {
  if (text.find_first_of(u"\r\n") == std::u16string::npos) return text;
  std::u16string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      out += u"\r\n";
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool HasDatePart(std::string_view text) {
  return text.find('/') != std::string_view::npos ||
         text.find('-') != std::string_view::npos;
}

Value ParseWorkingTime(std::string_view field) {
  std::string_view text = Trimmed(field);
  std::optional<DateTime> t;
  if (HasDatePart(text)) {
    t = ParseDateTime(U16(text));
  } else if (text.find(':') != std::string_view::npos) {
    t = ParseDateTime(u"2000/01/01 " + U16(text));
  }
  if (!t) throw Failure("not a time: " + std::string(field));
  if (t->year != 2000 || t->month != 1 || (t->day != 1 && t->day != 2)) {
    throw Failure("not a working time on 2000/01/01 or 2000/01/02: " +
                  std::string(field));
  }
  return Value::DateTimeOf(*t);
}

Value ParseDate(std::string_view field) {
  std::string_view text = Trimmed(field);
  std::optional<DateTime> t;
  if (HasDatePart(text)) t = ParseDateTime(U16(text));
  if (!t || t->hour != 0 || t->minute != 0 || t->second != 0) {
    throw Failure("not a date: " + std::string(field));
  }
  return Value::DateOf(*t);
}

// The table's name for a header name: exact, or else without regard to
// ASCII letter case; nullopt for no column.
std::optional<JobColumn> FindColumn(std::u16string_view name) {
  for (const JobColumn& column : JobColumns()) {
    if (column.name == name) return column;
  }
  for (const JobColumn& column : JobColumns()) {
    if (column.name.size() == name.size() &&
        FindIgnoringAsciiCase(column.name, name) == 0) {
      return column;
    }
  }
  return std::nullopt;
}

class CsvRows : public JobRowSource {
 public:
  explicit CsvRows(JobCsvReader& reader) : reader_(reader) {}
  bool Next(std::vector<Value>& row) override { return reader_.Next(row); }
  std::string Where() const override { return reader_.Where(); }

 private:
  JobCsvReader& reader_;
};

}  // namespace

Value ParseJobField(ColumnKind kind, std::string_view field) {
  if (field.empty()) return Value();
  switch (kind) {
    case ColumnKind::kText:
      return Value::Text(WithCrLfBreaks(U16(field)));
    case ColumnKind::kInteger:
    case ColumnKind::kFlag:
    case ColumnKind::kCode:
      return ParseWholeNumber(field);
    case ColumnKind::kDateTime:
      return ParseWorkingTime(field);
    case ColumnKind::kDate:
      return ParseDate(field);
  }
  throw Failure("unknown column kind");
}

std::string JobFieldText(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kNull:
      return {};
    case Value::Kind::kInteger:
      return U8(Digits(value.AsInteger()));
    case Value::Kind::kText:
    case Value::Kind::kDateTime:
    case Value::Kind::kDate:
      return U8(value.ToText());
    case Value::Kind::kDouble:
      break;
  }
  throw Failure("no job column holds a fractional number");
}

JobCsvReader::JobCsvReader(std::istream& in, std::string name)
    : csv_(in, name), name_(std::move(name)) {
  CsvRecord header;
  if (!csv_.Next(header)) {
    throw Failure(name_ + ":1: no header naming the columns");
  }
  const std::string where = name_ + ":" + std::to_string(header.line) + ": ";
  for (const std::string& field : header.fields) {
    if (field.empty()) throw Failure(where + "a column without a name");
    std::optional<JobColumn> column = FindColumn(U16(field));
    if (!column) {
      throw Failure(where + "unknown column \"" + field + "\"");
    }
    for (const std::u16string& known : columns_) {
      if (known == column->name) {
        throw Failure(where + "column " + U8(column->name) + " named twice");
      }
    }
    columns_.emplace_back(column->name);
    kinds_.push_back(column->kind);
  }
}

bool JobCsvReader::Next(std::vector<Value>& row) {
  if (!csv_.Next(record_)) return false;
  if (record_.fields.size() != columns_.size()) {
    throw Failure(Where() + ": " + std::to_string(record_.fields.size()) +
                  " fields where the header names " +
                  std::to_string(columns_.size()) + " columns");
  }
  row.clear();
  row.reserve(columns_.size());
  for (size_t i = 0; i < columns_.size(); ++i) {
    try {
      row.push_back(ParseJobField(kinds_[i], record_.fields[i]));
      // A job without a rank ranks 0, after every ranked job.
      if (row.back().IsNull() && columns_[i] == u"rank") {
        row.back() = Value::Integer(0);
      }
    } catch (const Failure& failure) {
      throw Failure(Where() + ": column " + U8(columns_[i]) + ": " +
                    failure.what());
    }
  }
  return true;
}

std::string JobCsvReader::Where() const {
  return name_ + ":" + std::to_string(record_.line);
}

size_t ImportJobs(Connection& db, std::istream& in, const std::string& name,
                  bool replace) {
  JobCsvReader reader(in, name);
  CsvRows rows(reader);
  return WriteJobs(db, reader.columns(), replace, rows);
}

}  // namespace qlok
