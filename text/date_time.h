// Calendar dates and times of day as plain values, and their text forms.
//
// The program works in local time throughout; no time zone is consulted.
// Everything here is pure.
#ifndef QLOK_TEXT_DATE_TIME_H_
#define QLOK_TEXT_DATE_TIME_H_

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qlok {

struct DateTime {
  int year = 2000;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;

  auto operator<=>(const DateTime&) const = default;
};

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int year, int month, int day);
// Seconds since 1970-01-01 00:00:00 of `t` read as if it were UTC.
int64_t SecondsSinceEpoch(const DateTime& t);
// The inverse of SecondsSinceEpoch.
DateTime FromSecondsSinceEpoch(int64_t seconds);
// `t` moved by a number of seconds (negative moves back), across days,
// months and years as the calendar has them.
DateTime AddSeconds(const DateTime& t, int64_t seconds);
// 0 for Sunday .. 6 for Saturday.
int Weekday(const DateTime& t);

// The general date-and-time form: "2000/01/02 5:00:00" (hour without a
// leading zero); a value at exactly midnight is written as the date alone,
// "2000/01/02".
std::u16string FormatGeneral(const DateTime& t);
// The date alone: "2026/12/20".
std::u16string FormatDate(const DateTime& t);
// The time of day alone: "8:30:05" (hour without a leading zero).
std::u16string FormatTimeOfDay(const DateTime& t);

// Reads a date-time in any form a stored or quoted stamp takes:
// "2000/01/01 8:30:00", "2000/1/1 8:30", "2000/01/02" (midnight),
// "2000-01-01 08:30:00", "2000-01-01T08:30:00" and ISO forms with fractional
// seconds (dropped). Blanks around the text are ignored. nullopt when the
// text is no valid date-time (for example minute 60 or 30 February).
std::optional<DateTime> ParseDateTime(std::u16string_view text);

}  // namespace qlok

#endif  // QLOK_TEXT_DATE_TIME_H_
