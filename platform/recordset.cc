#include "platform/recordset.h"

#include <algorithm>
#include <cstdio>

#include "platform/failure.h"
#include "text/date_time.h"
#include "text/unicode.h"

namespace qlok {
namespace {

std::u16string FoldAsciiCase(std::u16string_view text) {
  std::u16string folded(text);
  for (char16_t& c : folded) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return folded;
}

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

}  // namespace

size_t KeepingRecordset::NameIndex::SlotOf(std::u16string_view name) const {
  uint32_t hash = 2166136261u;  // FNV-1a over the UTF-16 units
  for (char16_t c : name) hash = (hash ^ c) * 16777619u;
  const size_t mask = slots_.size() - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    if (slots_[slot] == 0 || names_[slots_[slot] - 1] == name) return slot;
  }
}

void KeepingRecordset::NameIndex::Add(std::u16string name, size_t index) {
  if (slots_.size() < 2 * (names_.size() + 1)) {
    // At most half full, so that every search ends at an empty slot soon.
    std::vector<uint32_t> old = std::move(slots_);
    slots_.assign(std::max<size_t>(16, old.size() * 2), 0);
    for (uint32_t entry : old) {
      if (entry != 0) slots_[SlotOf(names_[entry - 1])] = entry;
    }
  }
  const size_t slot = SlotOf(name);
  if (slots_[slot] != 0) return;
  names_.push_back(std::move(name));
  columns_.push_back(index);
  slots_[slot] = static_cast<uint32_t>(names_.size());
}

std::optional<size_t> KeepingRecordset::NameIndex::Find(
    std::u16string_view name) const {
  if (slots_.empty()) return std::nullopt;
  const uint32_t entry = slots_[SlotOf(name)];
  if (entry == 0) return std::nullopt;
  return columns_[entry - 1];
}

KeepingRecordset::KeepingRecordset(std::unique_ptr<RowSource> source,
                                   size_t keep_rows)
    : source_(std::move(source)), keep_rows_(keep_rows) {
  FetchNext();
  // The name index is built once per result; the first of two equal names
  // wins, as a lookup by name finds the first such column.
  const std::vector<std::u16string>& names = source_->ColumnNames();
  for (size_t i = 0; i < names.size(); ++i) {
    exact_names_.Add(names[i], i);
    folded_names_.Add(FoldAsciiCase(names[i]), i);
  }
}

void KeepingRecordset::FetchNext() {
  if (!exhausted_) {
    if (source_->Fetch()) {
      if (fetched_ < keep_rows_) {
        size_t columns = source_->ColumnNames().size();
        RawRow row;
        row.reserve(columns);
        for (size_t i = 0; i < columns; ++i) row.push_back(source_->Cell(i));
        kept_.push_back(std::move(row));
        converted_.emplace_back(columns);
      }
      ++fetched_;
    } else {
      exhausted_ = true;
    }
  }
  position_ = fetched_ - (exhausted_ ? 0 : 1);
}

bool KeepingRecordset::AtEnd() const {
  return exhausted_ && position_ == fetched_;
}

void KeepingRecordset::MoveFirst() {
  if (fetched_ == 0) return;  // an empty result stays at its end
  if (!kept_.empty() || (fetched_ == 1 && !exhausted_)) {
    position_ = 0;
    return;
  }
  throw Failure(
      "cannot move back to the first row: the recordset keeps no rows and "
      "has passed it");
}

void KeepingRecordset::MoveNext() {
  if (AtEnd()) throw Failure("cannot move past the end of the rows");
  size_t next = position_ + 1;
  if (next < kept_.size() || (next + 1 == fetched_ && !exhausted_)) {
    position_ = next;
  } else if (next == fetched_) {
    FetchNext();
  } else {
    throw Failure("cannot move to row " + std::to_string(next + 1) +
                  ": the recordset keeps only " + std::to_string(kept_.size()) +
                  " rows and has already passed it");
  }
}

size_t KeepingRecordset::ColumnIndex(std::u16string_view column) const {
  if (std::optional<size_t> exact = exact_names_.Find(column)) return *exact;
  if (std::optional<size_t> folded = folded_names_.Find(FoldAsciiCase(column)))
    return *folded;
  throw Failure("the result has no column " + U8(column));
}

Value KeepingRecordset::Field(std::u16string_view column) const {
  if (AtEnd()) {
    throw Failure("no current row to read the field " + U8(column) + " of");
  }
  size_t index = ColumnIndex(column);
  if (position_ < kept_.size()) {
    std::optional<Value>& value = converted_[position_][index];
    if (!value) value = source_->Convert(index, kept_[position_][index]);
    return *value;
  }
  return source_->Convert(index, source_->Cell(index));
}

bool IsPlainIdentifier(std::u16string_view text) {
  if (text.empty() || (text[0] >= u'0' && text[0] <= u'9')) return false;
  for (char16_t c : text) {
    bool ascii_word = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                      (c >= u'0' && c <= u'9') || c == u'_';
    // Beyond ASCII only letters of scripts count; blanks and signs of the
    // wider ranges (the ideographic space, full-width punctuation) do not.
    bool wide_letter =
        c >= 0x80 && c != 0x3000 && !(c >= 0x3001 && c <= 0x3003) &&
        !(c >= 0xFF01 && c <= 0xFF0F) && !(c >= 0xFF1A && c <= 0xFF20) &&
        !(c >= 0xFF3B && c <= 0xFF40) && !(c >= 0xFF5B && c <= 0xFF65) &&
        c != 0xFEFF;
    if (!ascii_word && !wide_letter) return false;
  }
  return true;
}

std::optional<std::u16string> BareTableName(const std::u16string& source) {
  size_t begin = 0;
  size_t end = source.size();
  while (begin < end && IsBlank(source[begin])) ++begin;
  while (end > begin && IsBlank(source[end - 1])) --end;
  std::u16string_view name(source.data() + begin, end - begin);
  if (!IsPlainIdentifier(name)) return std::nullopt;
  return std::u16string(name);
}

std::u16string StatementForSource(const std::u16string& source) {
  if (std::optional<std::u16string> table = BareTableName(source)) {
    return u"SELECT * FROM " + *table;
  }
  return source;
}

std::u16string SqlIdentifier(std::u16string_view name) {
  if (IsPlainIdentifier(name)) return std::u16string(name);
  std::u16string quoted = u"\"";
  for (char16_t c : name) {
    if (c == u'"') quoted += u'"';
    quoted += c;
  }
  return quoted + u"\"";
}

std::string InsertStatement(const std::u16string& table,
                            const std::vector<std::u16string>& columns,
                            char marker) {
  if (columns.empty()) {
    throw Failure("an insert into " + U8(table) + " needs at least one column");
  }
  std::string names;
  std::string markers;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) {
      names += ", ";
      markers += ", ";
    }
    names += U8(SqlIdentifier(columns[i]));
    markers += marker + std::to_string(i + 1);
  }
  return "INSERT INTO " + U8(SqlIdentifier(table)) + " (" + names +
         ") VALUES (" + markers + ")";
}

std::string IsoDateTime(const DateTime& t) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.year,
                t.month, t.day, t.hour, t.minute, t.second);
  return buffer;
}

std::string IsoDate(const DateTime& t) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", t.year, t.month,
                t.day);
  return buffer;
}

std::string StatementForMessage(std::string_view sql) {
  constexpr size_t kLimit = 300;
  if (sql.size() <= kLimit) return std::string(sql);
  size_t cut = kLimit;
  // Do not cut a UTF-8 sequence in two.
  while (cut > 0 && (static_cast<unsigned char>(sql[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  return std::string(sql.substr(0, cut)) + "...";
}

std::optional<DateTime> DateTimeField(const Recordset& row,
                                      std::u16string_view column,
                                      std::string_view table) {
  const Value value = row.Field(column);
  if (value.IsNull()) return std::nullopt;
  if (value.kind() == Value::Kind::kDateTime ||
      value.kind() == Value::Kind::kDate) {
    return value.AsDateTime();
  }
  if (std::optional<DateTime> t = ParseDateTime(value.ToText())) return t;
  throw Failure(std::string(table) + ": column " + U8(column) +
                " holds no date-time: " + U8(value.ToText()));
}

}  // namespace qlok
