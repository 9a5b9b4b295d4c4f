// The local clock.
#ifndef QLOK_PLATFORM_CLOCK_H_
#define QLOK_PLATFORM_CLOCK_H_

#include <cstdint>
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

// A clock that only moves forward, whatever is done to the time of day;
// it measures how long something has taken.
class MonotonicClock {
 public:
  virtual ~MonotonicClock() = default;
  // Milliseconds since a fixed point in the past (not a date). Never fails.
  virtual int64_t Milliseconds() = 0;
};

// The machine's monotonic clock.
std::unique_ptr<MonotonicClock> NewSystemMonotonicClock();

// A monotonic clock that moves only when told to; for tests.
class FakeMonotonicClock : public MonotonicClock {
 public:
  int64_t Milliseconds() override { return now_ms_; }
  void Advance(int64_t milliseconds) { now_ms_ += milliseconds; }

 private:
  int64_t now_ms_ = 1000000;
};

// A moment on a monotonic clock by which something must have ended.
class Deadline {
 public:
  // `limit_ms` after `start_ms`, a reading of `clock`.
  Deadline(MonotonicClock& clock, int64_t start_ms, int64_t limit_ms)
      : clock_(&clock), end_ms_(start_ms + limit_ms) {}
  // Milliseconds left; 0 once the deadline has passed.
  int64_t RemainingMs() const {
    const int64_t left = end_ms_ - clock_->Milliseconds();
    return left > 0 ? left : 0;
  }
  // The same clock, `milliseconds` earlier: room kept for what must still
  // happen after the work that this deadline bounds.
  Deadline Earlier(int64_t milliseconds) const {
    return Deadline(*clock_, end_ms_, -milliseconds);
  }

 private:
  MonotonicClock* clock_;
  int64_t end_ms_;
};

}  // namespace qlok

#endif  // QLOK_PLATFORM_CLOCK_H_
