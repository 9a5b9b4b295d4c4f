// The machine's clock, read in the local time zone of the process.
#include "platform/clock.h"

#include <time.h>

#include <memory>

namespace qlok {
namespace {

class SystemClock : public Clock {
 public:
  SystemClock() { ::tzset(); }

  DateTime Now() override {
    const time_t now = ::time(nullptr);
    struct tm local {};
    if (::localtime_r(&now, &local) == nullptr) {
      // Only a clock beyond the years struct tm can hold gets here; the
      // time as UTC is the best answer that still never fails.
      return FromSecondsSinceEpoch(static_cast<int64_t>(now));
    }
    DateTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    // A leap second (60) is written as the last second of its minute.
    t.second = local.tm_sec > 59 ? 59 : local.tm_sec;
    return t;
  }
};

class SystemMonotonicClock : public MonotonicClock {
 public:
  int64_t Milliseconds() override {
    struct timespec now;
    // CLOCK_MONOTONIC cannot fail with a valid address.
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  }
};

}  // namespace

std::unique_ptr<Clock> NewSystemClock() {
  return std::make_unique<SystemClock>();
}

std::unique_ptr<MonotonicClock> NewSystemMonotonicClock() {
  return std::make_unique<SystemMonotonicClock>();
}

}  // namespace qlok
