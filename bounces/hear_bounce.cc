#include "bounces/hear_bounce.h"

#include <optional>

#include "text/unicode.h"

namespace qlok {

std::string LeftAloneLine(const BounceReading& reading) {
  switch (reading.kind) {
    case BounceReading::kNotABounce:
      return "not a bounce (" + reading.what + "), left alone";
    case BounceReading::kMalformed:
      return "not a readable bounce (" + reading.what + "), left alone";
    case BounceReading::kNoFailure:
      return "a delivery notification without a failure (" + reading.what +
             "), left alone";
    case BounceReading::kSoft:
      return "a soft bounce (" + reading.what + "), not counted";
    case BounceReading::kHard:
      break;
  }
  return "";
}

BounceOutcome HearBounce(const BounceReading& reading,
                         RegistrationStore& registrations,
                         ConsentStore& consents, const SiteConfig& site,
                         const DateTime& now) {
  BounceOutcome outcome;
  if (reading.kind != BounceReading::kHard) {
    outcome.line = LeftAloneLine(reading);
    return outcome;
  }
  const std::optional<Registration> registration =
      reading.token.empty() ? std::nullopt
                            : registrations.FindByToken(reading.token);
  if (!registration) {
    outcome.line = "a hard bounce (" + reading.what +
                   ") of no known registration, left alone";
    return outcome;
  }
  const int count = consents.CountHardBounce(registration->id, now);
  outcome.counted = true;
  const std::string whose = U8(registration->address) + " number " +
                            std::to_string(registration->number);
  outcome.line = "hard bounce " + std::to_string(count) + " of " +
                 std::to_string(site.bounces_to_stop) + " for " + whose + " (" +
                 reading.what + ")";
  if (count >= site.bounces_to_stop && registration->active) {
    outcome.stopped = registrations.StopByToken(registration->token, now);
    if (outcome.stopped) {
      consents.NoteStop(registration->id, kStoppedForBounces);
      outcome.line += "; the registration is stopped";
    }
  }
  return outcome;
}

}  // namespace qlok
