#include "search/turn_number.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "platform/failure.h"
#include "text/date_time.h"
#include "text/unicode.h"

namespace qlok {
namespace {

constexpr char16_t kApp[] = u"MyApp";
constexpr char16_t kSection[] = u"Startup_j";
constexpr char16_t kJun[] = u"jun";
constexpr char16_t kLatest[] = u"tyokuzen";
constexpr int kFirstTurn = 100;
// How many numbers below the current one keep their keys.
constexpr int kKeptTurns = 1000;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Rounds to the nearest whole number, halves to the even neighbour,
// whatever rounding mode the process is in.
double RoundHalfEven(double value) {
  const double down = std::floor(value);
  const double rest = value - down;
  if (rest > 0.5) return down + 1;
  if (rest < 0.5) return down;
  return std::fmod(down, 2.0) == 0 ? down : down + 1;
}

}  // namespace

std::optional<int> ParseTurnNumber(std::u16string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  text = text.substr(begin, end - begin);

  // Check the shape in full before converting, so that "12abc", "inf" or
  // "0x10" are not numbers; the ASCII copy is what the converter reads.
  std::string ascii;
  size_t i = 0;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    if (text[i] == u'-') ascii += '-';
    ++i;
  }
  size_t mantissa_digits = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i, ++mantissa_digits)
    ascii += static_cast<char>(text[i]);
  if (i < text.size() && text[i] == u'.') {
    ascii += '.';
    for (++i; i < text.size() && IsDigit(text[i]); ++i, ++mantissa_digits)
      ascii += static_cast<char>(text[i]);
  }
  if (mantissa_digits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ascii += 'e';
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
      ascii += static_cast<char>(text[i++]);
    size_t exponent_digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++exponent_digits)
      ascii += static_cast<char>(text[i]);
    if (exponent_digits == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;

  double value = 0;
  const auto [stop, error] =
      std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  // A huge exponent overflows (out of range); a tiny one is zero.
  if (error == std::errc::result_out_of_range) {
    if (ascii.find_first_of("123456789") == std::string::npos) return 0;
    const size_t e = ascii.find('e');
    if (e != std::string::npos && ascii[e + 1] == '-') return 0;
    return std::nullopt;
  }
  if (error != std::errc() || stop != ascii.data() + ascii.size())
    return std::nullopt;
  const double rounded = RoundHalfEven(value);
  if (!(rounded >= std::numeric_limits<int32_t>::min() &&
        rounded <= std::numeric_limits<int32_t>::max()))
    return std::nullopt;
  return static_cast<int>(rounded);
}

namespace {

using Sync = SettingsStore::Sync;

// Removes the keys of turn numbers long finished, so that the store stays
// bounded. Runs while the store's lock is held. While requests overlap the
// numbers only grow, and taking `turn` removes the keys of the number
// kKeptTurns below it. When the count starts again at 100 no request of the
// run before is still running: the keys that run left, the kKeptTurns
// numbers up to its last one (`last`, the "jun" it left), all go but those
// of 100, which this turn writes anew. So the section holds the keys of at
// most kKeptTurns numbers.
void ForgetFinishedTurns(SettingsStore& settings, int turn,
                         bool count_started_again, std::optional<int> last) {
  auto forget = [&settings](int64_t number) {
    const std::u16string key = Digits(number);
    IgnoringFailure([&] { settings.Remove(kApp, kSection, key); });
    IgnoringFailure([&] { settings.Remove(kApp, kSection, key + u"time"); });
  };
  if (!count_started_again) {
    forget(static_cast<int64_t>(turn) - kKeptTurns);
    return;
  }
  if (!last) return;
  const int64_t first = std::max<int64_t>(
      kFirstTurn + 1, static_cast<int64_t>(*last) - kKeptTurns + 1);
  for (int64_t number = first; number <= *last; ++number) forget(number);
}

// True when "jun" holds exactly `text`, `read` being what it read with the
// fallback "100". A missing key reads as the fallback too: when the two
// agree, a second read with another fallback tells them apart.
bool JunHolds(SettingsStore& settings, const std::u16string& read,
              const std::u16string& text) {
  if (read != text) return false;
  if (text != u"100") return true;
  bool holds = false;
  IgnoringFailure(
      [&] { holds = settings.Read(kApp, kSection, kJun, u"") == text; });
  return holds;
}

}  // namespace

int AssignTurnNumber(SettingsStore& settings, ProcessInfo& processes,
                     Clock& clock, std::chrono::milliseconds lock_patience) {
  // Past the lock, every step below runs on its own; what one of them
  // throws is dropped and the next one runs with the values reached so
  // far.
  int turn = kFirstTurn;
  bool others_running = true;
  std::optional<int> stored;
  std::optional<int64_t> process_id;
  std::optional<std::u16string> now;
  {
    // The claim: the instance test, "jun" read and "jun" written, while the
    // store's lock is held, so that concurrent requests claim one after the
    // other and never take the same number. A store that cannot be locked
    // in time throws: the request is not numbered at all.
    const std::unique_ptr<SettingsStore::Lock> lock =
        settings.LockExclusively(lock_patience);
    IgnoringFailure(
        [&] { others_running = processes.AnotherInstanceRunning(); });
    // A "jun" that cannot be read or is no number counts as nothing; one
    // past the largest number counts as no number either. Alone, it only
    // tells which keys the run before left.
    std::optional<std::u16string> stored_text;
    IgnoringFailure([&] {
      stored_text = settings.Read(kApp, kSection, kJun, u"100");
      stored = ParseTurnNumber(*stored_text);
    });
    if (others_running) {
      turn = stored && *stored < std::numeric_limits<int32_t>::max()
                 ? *stored + 1
                 : 1;
    }
    // The next request counts on from "jun": it must survive a crash. The
    // key is only ever written durably, so a "jun" that holds the number
    // already (every request that runs alone takes 100) is on the disk,
    // and the costly synced write is left out.
    const std::u16string jun = Digits(turn);
    if (!stored_text || !JunHolds(settings, *stored_text, jun)) {
      IgnoringFailure(
          [&] { settings.Write(kApp, kSection, kJun, jun, Sync::kDurable); });
    }
    ForgetFinishedTurns(settings, turn, !others_running, stored);
  }
  // The other keys are only a trace that nothing reads back.
  const std::u16string turn_key = Digits(turn);
  IgnoringFailure([&] { process_id = processes.CurrentProcessId(); });
  IgnoringFailure([&] {
    if (process_id)
      settings.Write(kApp, kSection, turn_key, Digits(*process_id),
                     Sync::kAtomic);
  });
  IgnoringFailure([&] { now = FormatGeneral(clock.Now()); });
  IgnoringFailure([&] {
    if (now)
      settings.Write(kApp, kSection, turn_key + u"time", *now, Sync::kAtomic);
  });
  IgnoringFailure([&] {
    if (now) settings.Write(kApp, kSection, kLatest, *now, Sync::kAtomic);
  });
  return turn;
}

}  // namespace qlok
