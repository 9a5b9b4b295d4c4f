#include "platform/clock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/mail_sender.h"

namespace qlok {
namespace {

// Sets TZ for the life of the object and puts the old value back after.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (old_) {
      ::setenv("TZ", old_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

TEST(SystemClockTest, ReadsLocalTimeOfTheZoneInTz) {
  struct Case {
    const char* zone;
    int64_t offset_seconds;  // local time minus UTC
  };
  const std::vector<Case> cases = {
      {"UTC0", 0},
      {"JST-9", 9 * 3600},
      {"EST5", -5 * 3600},
      {"IST-5:30", 5 * 3600 + 1800},
  };
  for (const Case& c : cases) {
    ScopedTimeZone zone(c.zone);
    auto clock = NewSystemClock();
    const int64_t before = ::time(nullptr);
    const DateTime now = clock->Now();
    const int64_t after = ::time(nullptr);
    const int64_t local = SecondsSinceEpoch(now);
    EXPECT_GE(local, before + c.offset_seconds) << c.zone;
    EXPECT_LE(local, after + c.offset_seconds) << c.zone;
  }
}

void IgnoreSignal(int) {}

TEST(SystemSleeperTest, SleepsTheWholeTimeEvenWhenInterrupted) {
  // A timer signal arrives in the middle of the pause; the pause goes on.
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;
  struct sigaction old_action;
  ASSERT_EQ(::sigaction(SIGALRM, &action, &old_action), 0);
  struct itimerval timer {};
  timer.it_value.tv_usec = 50000;

  struct Case {
    int milliseconds;
    bool interrupt;
    int at_least;
    int at_most;
  };
  const std::vector<Case> cases = {
      {0, false, 0, 100},      {-5, false, 0, 100},
      {120, false, 120, 2000}, {1200, false, 1200, 4000},
      {250, true, 250, 2000},
  };
  auto sleeper = NewSystemSleeper();
  for (const Case& c : cases) {
    if (c.interrupt) ::setitimer(ITIMER_REAL, &timer, nullptr);
    const auto start = std::chrono::steady_clock::now();
    sleeper->Sleep(c.milliseconds);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    EXPECT_GE(took, c.at_least) << c.milliseconds;
    EXPECT_LE(took, c.at_most) << c.milliseconds;
  }
  ::sigaction(SIGALRM, &old_action, nullptr);
}

}  // namespace
}  // namespace qlok
