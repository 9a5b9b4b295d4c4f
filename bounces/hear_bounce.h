// What a bounce does to its registration: a hard bounce is counted, and
// after [mail] bounces_to_stop of them the registration is stopped, with
// the reason kept beside its consent.
#ifndef QLOK_BOUNCES_HEAR_BOUNCE_H_
#define QLOK_BOUNCES_HEAR_BOUNCE_H_

#include <string>

#include "bounces/bounce_message.h"
#include "consent/consent_store.h"
#include "registrations/registration_store.h"
#include "site/site_config.h"
#include "text/date_time.h"

namespace qlok {

struct BounceOutcome {
  bool counted = false;  // a hard bounce counted against a registration
  bool stopped = false;  // ... and the registration stopped by it
  std::string line;      // one line for the operator
};

// The line of a reading that is no hard bounce, which is left alone
// without looking at the database; the empty text for a hard bounce.
std::string LeftAloneLine(const BounceReading& reading);

// Acts on `reading` at `now`: anything but a hard bounce of a known
// registration is left alone (the line says what it was). Throws Failure
// when the database refuses.
BounceOutcome HearBounce(const BounceReading& reading,
                         RegistrationStore& registrations,
                         ConsentStore& consents, const SiteConfig& site,
                         const DateTime& now);

}  // namespace qlok

#endif  // QLOK_BOUNCES_HEAR_BOUNCE_H_
