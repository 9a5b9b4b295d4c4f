// One field value of a database row.
#ifndef QLOK_PLATFORM_VALUE_H_
#define QLOK_PLATFORM_VALUE_H_

#include <cstdint>
#include <string>
#include <variant>

#include "text/date_time.h"

namespace qlok {

class Value {
 public:
  enum class Kind { kNull, kInteger, kDouble, kText, kDateTime, kDate };

  Value() = default;  // null
  static Value Integer(int64_t v) { return Value(Kind::kInteger, v); }
  static Value Double(double v) { return Value(Kind::kDouble, v); }
  static Value Text(std::u16string v) {
    return Value(Kind::kText, std::move(v));
  }
  static Value DateTimeOf(const DateTime& v) {
    return Value(Kind::kDateTime, v);
  }
  // A calendar date; its time of day is ignored.
  static Value DateOf(const DateTime& v) {
    return Value(Kind::kDate, DateTime{v.year, v.month, v.day});
  }

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::kNull; }
  bool IsNumber() const {
    return kind_ == Kind::kInteger || kind_ == Kind::kDouble;
  }

  // The number of an integer or double value (a double is rounded to the
  // nearest whole number, halves to even). Throws Failure for other kinds.
  int64_t AsInteger() const;
  // The number of an integer or double value. Throws Failure otherwise.
  double AsDouble() const;
  // The date-time of a date-time or date value. Throws Failure otherwise.
  const DateTime& AsDateTime() const;

  // The value's text form, as the original platform converted values to
  // text: null gives the empty text; numbers plain digits ("-1", "3.5");
  // texts themselves; a date-time the general form "2000/01/01 8:30:00"
  // (the date alone at exactly midnight); a date "2026/12/20".
  std::u16string ToText() const;

  // Length in UTF-16 code units of ToText(); 0 for null.
  size_t TextLength() const { return ToText().size(); }

  bool operator==(const Value&) const = default;

 private:
  using Payload =
      std::variant<std::monostate, int64_t, double, std::u16string, DateTime>;
  Value(Kind kind, Payload payload)
      : kind_(kind), payload_(std::move(payload)) {}

  Kind kind_ = Kind::kNull;
  Payload payload_;
};

}  // namespace qlok

#endif  // QLOK_PLATFORM_VALUE_H_
