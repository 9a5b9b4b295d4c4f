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

}  // namespace

std::unique_ptr<Clock> NewSystemClock() {
  return std::make_unique<SystemClock>();
}

}  // namespace qlok
