// The limits of registrations through the search page: how many first
// match mails one address gets a day ([registration]
// mails_per_address_per_day) and how many registrations one client makes an
// hour ([registration] per_client_per_hour), and the page of a refusal.
#ifndef QLOK_SEARCH_PAGE_REGISTRATION_LIMITS_H_
#define QLOK_SEARCH_PAGE_REGISTRATION_LIMITS_H_

#include <cstdint>
#include <optional>
#include <string>

#include "limits/send_counts.h"
#include "site/site_config.h"
#include "text/date_time.h"

namespace qlok {

struct LimitRefusal {
  DateTime free_at;         // when a registration is allowed again
  int64_t retry_after = 1;  // seconds from now until then
  std::string reason;       // for the error log: which limit, how many
};

// Counts one registration of `address` from `client` (REMOTE_ADDR) at `now`
// against both limits: the client's first, then the address's (compared
// as CountedAddress). When either refuses, nothing stays counted and the
// refusal says when the refusing limit allows one again. Throws Failure
// when the counts cannot be read or written.
std::optional<LimitRefusal> TakeRegistrationPlace(SendCounts& counts,
                                                  const SiteConfig& site,
                                                  const std::u16string& address,
                                                  const std::u16string& client,
                                                  const DateTime& now);

// The page body of a refused registration: too many registrations were
// made, none was made now and nothing was mailed, and from when to try
// again (`free_at`, to the minute, rounded up).
std::u16string TooManyRegistrationsPage(const DateTime& free_at);

// The header lines of a refusal, each ending in CR LF:
// "Status: 429 Too Many Requests" and "Retry-After: N".
std::u16string TooManyRequestsHeaders(int64_t retry_after);

}  // namespace qlok

#endif  // QLOK_SEARCH_PAGE_REGISTRATION_LIMITS_H_
