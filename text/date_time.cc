#include "text/date_time.h"

#include <cstdint>

#include "text/unicode.h"

namespace qlok {
namespace {

bool IsLeap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Reads an unsigned decimal number of 1 to `max_digits` digits at `pos`.
bool ReadNumber(std::u16string_view s, size_t& pos, int max_digits, int& out) {
  int digits = 0;
  int value = 0;
  while (pos < s.size() && s[pos] >= u'0' && s[pos] <= u'9' &&
         digits < max_digits) {
    value = value * 10 + (s[pos] - u'0');
    ++pos;
    ++digits;
  }
  out = value;
  return digits > 0;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

int64_t DaysFromCivil(int year, int month, int day) {
  // Howard Hinnant's days_from_civil.
  int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int64_t SecondsSinceEpoch(const DateTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 +
         t.minute * 60 + t.second;
}

DateTime FromSecondsSinceEpoch(int64_t seconds) {
  int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  int64_t rest = seconds - days * 86400;
  // Howard Hinnant's civil_from_days.
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  DateTime t;
  t.year = static_cast<int>(y + (m <= 2 ? 1 : 0));
  t.month = static_cast<int>(m);
  t.day = static_cast<int>(d);
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

DateTime AddSeconds(const DateTime& t, int64_t seconds) {
  return FromSecondsSinceEpoch(SecondsSinceEpoch(t) + seconds);
}

int Weekday(const DateTime& t) {
  int64_t days = DaysFromCivil(t.year, t.month, t.day);
  // 1970-01-01 was a Thursday.
  int64_t w = (days + 4) % 7;
  return static_cast<int>(w < 0 ? w + 7 : w);
}

namespace {

// Appends `value` in decimal digits, zero-padded to `width` characters.
void AppendNumber(std::u16string& out, int value, int width) {
  // The digits of the magnitude, last first; a 64-bit magnitude holds
  // that of the smallest int.
  char16_t digits[12];
  int count = 0;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value)
                                 : static_cast<uint64_t>(value);
  do {
    digits[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  if (value < 0) out += u'-';
  // The zeros go between the sign and the digits, the sign counting
  // towards the width, as printf's "%0Nd" writes them.
  for (int pad = width - count - (value < 0 ? 1 : 0); pad > 0; --pad)
    out += u'0';
  while (count > 0) out += digits[--count];
}

}  // namespace

std::u16string FormatDate(const DateTime& t) {
  std::u16string out;
  out.reserve(10);
  AppendNumber(out, t.year, 4);
  out += u'/';
  AppendNumber(out, t.month, 2);
  out += u'/';
  AppendNumber(out, t.day, 2);
  return out;
}

std::u16string FormatTimeOfDay(const DateTime& t) {
  std::u16string out;
  out.reserve(8);
  AppendNumber(out, t.hour, 0);
  out += u':';
  AppendNumber(out, t.minute, 2);
  out += u':';
  AppendNumber(out, t.second, 2);
  return out;
}

std::u16string FormatGeneral(const DateTime& t) {
  if (t.hour == 0 && t.minute == 0 && t.second == 0) return FormatDate(t);
  return FormatDate(t) + u" " + FormatTimeOfDay(t);
}

std::optional<DateTime> ParseDateTime(std::u16string_view s) {
  size_t pos = 0;
  while (pos < s.size() && IsBlank(s[pos])) ++pos;
  size_t end = s.size();
  while (end > pos && IsBlank(s[end - 1])) --end;
  s = s.substr(0, end);

  DateTime t;
  t.hour = t.minute = t.second = 0;
  if (!ReadNumber(s, pos, 4, t.year)) return std::nullopt;
  if (pos >= s.size() || (s[pos] != u'/' && s[pos] != u'-')) {
    return std::nullopt;
  }
  char16_t separator = s[pos++];
  if (!ReadNumber(s, pos, 2, t.month)) return std::nullopt;
  if (pos >= s.size() || s[pos] != separator) return std::nullopt;
  ++pos;
  if (!ReadNumber(s, pos, 2, t.day)) return std::nullopt;
  if (t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month)) {
    return std::nullopt;
  }
  if (pos == s.size()) return t;

  if (s[pos] != u' ' && s[pos] != u'T') return std::nullopt;
  ++pos;
  while (pos < s.size() && s[pos] == u' ') ++pos;
  if (!ReadNumber(s, pos, 2, t.hour)) return std::nullopt;
  if (pos >= s.size() || s[pos] != u':') return std::nullopt;
  ++pos;
  if (!ReadNumber(s, pos, 2, t.minute)) return std::nullopt;
  if (pos < s.size() && s[pos] == u':') {
    ++pos;
    if (!ReadNumber(s, pos, 2, t.second)) return std::nullopt;
    if (pos < s.size() && s[pos] == u'.') {
      ++pos;
      int fraction;
      if (!ReadNumber(s, pos, 9, fraction)) return std::nullopt;
    }
  }
  if (pos != s.size()) return std::nullopt;
  if (t.hour > 23 || t.minute > 59 || t.second > 59) return std::nullopt;
  return t;
}

}  // namespace qlok
