#include "platform/value.h"

#include <cmath>

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

const char* KindName(Value::Kind kind) {
  switch (kind) {
    case Value::Kind::kNull:
      return "null";
    case Value::Kind::kInteger:
      return "integer";
    case Value::Kind::kDouble:
      return "double";
    case Value::Kind::kText:
      return "text";
    case Value::Kind::kDateTime:
      return "date-time";
    case Value::Kind::kDate:
      return "date";
  }
  return "unknown";
}

}  // namespace

int64_t Value::AsInteger() const {
  if (kind_ == Kind::kInteger) return std::get<int64_t>(payload_);
  if (kind_ == Kind::kDouble) {
    double v = std::get<double>(payload_);
    // Halves go to the even neighbour, as the platform rounded; a value
    // outside the 64-bit range has no whole number to give.
    double rounded = std::nearbyint(v);
    if (!std::isfinite(rounded) || rounded < -9223372036854775808.0 ||
        rounded >= 9223372036854775808.0) {
      throw Failure("number out of the range of whole numbers: " +
                    U8(FormatNumber(v)));
    }
    return static_cast<int64_t>(rounded);
  }
  throw Failure(std::string("a ") + KindName(kind_) + " value is not a number");
}

double Value::AsDouble() const {
  if (kind_ == Kind::kDouble) return std::get<double>(payload_);
  if (kind_ == Kind::kInteger) {
    return static_cast<double>(std::get<int64_t>(payload_));
  }
  throw Failure(std::string("a ") + KindName(kind_) + " value is not a number");
}

const DateTime& Value::AsDateTime() const {
  if (kind_ == Kind::kDateTime || kind_ == Kind::kDate) {
    return std::get<DateTime>(payload_);
  }
  throw Failure(std::string("a ") + KindName(kind_) +
                " value is not a date-time");
}

std::u16string Value::ToText() const {
  switch (kind_) {
    case Kind::kNull:
      return {};
    case Kind::kInteger:
      return Digits(std::get<int64_t>(payload_));
    case Kind::kDouble:
      return FormatNumber(std::get<double>(payload_));
    case Kind::kText:
      return std::get<std::u16string>(payload_);
    case Kind::kDateTime:
      return FormatGeneral(std::get<DateTime>(payload_));
    case Kind::kDate:
      return FormatDate(std::get<DateTime>(payload_));
  }
  return {};
}

}  // namespace qlok
