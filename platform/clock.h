// The local clock.
#ifndef QLOK_PLATFORM_CLOCK_H_
#define QLOK_PLATFORM_CLOCK_H_

#include <memory>

#include "text/date_time.h"

namespace qlok {

class Clock {
 public:
  virtual ~Clock() = default;
  // The current local date and time, to the second. Never fails.
  virtual DateTime Now() = 0;
};

// The machine's clock in the local time zone of the process (TZ).
std::unique_ptr<Clock> NewSystemClock();

// A clock that always answers the time it was given; for tests.
class FixedClock : public Clock {
 public:
  explicit FixedClock(DateTime now) : now_(now) {}
  DateTime Now() override { return now_; }
  void Set(DateTime now) { now_ = now; }

 private:
  DateTime now_;
};

}  // namespace qlok

#endif  // QLOK_PLATFORM_CLOCK_H_
