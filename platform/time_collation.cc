#include "platform/time_collation.h"

#include <string.h>

// Uses nothing of the standard C++ library, only memcmp of the C library,
// so that the loadable extension needs nothing but this file.

namespace {

bool IsLeap(long long year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(long long year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a civil date of the proleptic calendar.
long long DaysFromCivil(long long year, int month, int day) {
  long long y = year - (month <= 2 ? 1 : 0);
  long long era = (y >= 0 ? y : y - 399) / 400;
  long long yoe = y - era * 400;
  long long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

struct Cursor {
  const unsigned char* p;
  const unsigned char* end;
};

// Reads 1 to `max_digits` decimal digits.
bool ReadNumber(Cursor* c, int max_digits, int* out) {
  int digits = 0;
  int value = 0;
  while (c->p < c->end && *c->p >= '0' && *c->p <= '9' && digits < max_digits) {
    value = value * 10 + (*c->p - '0');
    ++c->p;
    ++digits;
  }
  *out = value;
  return digits > 0;
}

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t'; }

}  // namespace

extern "C" int qlok_time_parse(int length, const void* text,
                               long long* seconds) {
  if (text == nullptr || length < 0) return 0;
  Cursor c = {static_cast<const unsigned char*>(text),
              static_cast<const unsigned char*>(text) + length};
  while (c.p < c.end && IsBlank(*c.p)) ++c.p;
  while (c.end > c.p && IsBlank(c.end[-1])) --c.end;

  int year, month, day, hour = 0, minute = 0, second = 0;
  if (!ReadNumber(&c, 4, &year)) return 0;
  if (c.p >= c.end || (*c.p != '/' && *c.p != '-')) return 0;
  unsigned char separator = *c.p++;
  if (!ReadNumber(&c, 2, &month)) return 0;
  if (c.p >= c.end || *c.p != separator) return 0;
  ++c.p;
  if (!ReadNumber(&c, 2, &day)) return 0;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return 0;
  }
  if (c.p < c.end) {
    if (*c.p != ' ' && *c.p != 'T') return 0;
    ++c.p;
    while (c.p < c.end && *c.p == ' ') ++c.p;
    if (!ReadNumber(&c, 2, &hour)) return 0;
    if (c.p >= c.end || *c.p != ':') return 0;
    ++c.p;
    if (!ReadNumber(&c, 2, &minute)) return 0;
    if (c.p < c.end && *c.p == ':') {
      ++c.p;
      if (!ReadNumber(&c, 2, &second)) return 0;
      if (c.p < c.end && *c.p == '.') {
        ++c.p;
        int fraction;
        if (!ReadNumber(&c, 9, &fraction)) return 0;
      }
    }
    if (c.p != c.end) return 0;
    if (hour > 23 || minute > 59 || second > 59) return 0;
  }
  *seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600LL +
             minute * 60LL + second;
  return 1;
}

extern "C" int qlok_time_compare(int length1, const void* text1, int length2,
                                 const void* text2) {
  long long t1 = 0, t2 = 0;
  int ok1 = qlok_time_parse(length1, text1, &t1);
  int ok2 = qlok_time_parse(length2, text2, &t2);
  if (ok1 && ok2) return t1 < t2 ? -1 : (t1 > t2 ? 1 : 0);
  if (ok1) return -1;
  if (ok2) return 1;
  // Neither is a date-time: byte order, the shorter text first on a tie.
  int shorter = length1 < length2 ? length1 : length2;
  int byte_order = shorter > 0 ? memcmp(text1, text2, shorter) : 0;
  if (byte_order != 0) return byte_order < 0 ? -1 : 1;
  return length1 < length2 ? -1 : (length1 > length2 ? 1 : 0);
}
