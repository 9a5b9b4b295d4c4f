// The counts behind the site's sending limits, kept in the site's database
// (table send_counts of limits/schema/*.sql), so that every web host of a
// site on PostgreSQL sees the same counts.
//
// Each event is one row; a limit allows an event while fewer than `limit`
// events of the same kind and key lie within the window before it. Rows
// are numbered as they are written, and an event counts only the rows
// numbered before it, so two requests that count at once never both take
// the last place. Counts older than a day (the longest window) are removed
// as new ones are taken. Every call throws Failure when the database
// refuses (for example when the table has not been created: "q_lok-admin
// init").
#ifndef QLOK_LIMITS_SEND_COUNTS_H_
#define QLOK_LIMITS_SEND_COUNTS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/database.h"
#include "text/date_time.h"

namespace qlok {

// The statements that create the table send_counts on the engine named as
// Connection::Engine() names it, for one call of Connection::Execute. They
// fail when the table exists. Throws Failure for any other engine name.
std::u16string SendCountsSchema(std::string_view engine);

// What is counted.
inline constexpr char16_t kFirstMailsToAddress[] = u"address";
inline constexpr char16_t kRegistrationsFromClient[] = u"client";
inline constexpr char16_t kListMailsToAddress[] = u"list";

// The longest window a limit may have: counts older than this are removed.
inline constexpr int64_t kLongestWindowSeconds = 24 * 60 * 60;

// One limit: at most `limit` events of `kind` for `counted` within
// `window_seconds` (at most kLongestWindowSeconds).
struct SendLimit {
  std::u16string kind;
  std::u16string counted;
  int limit = 1;
  int64_t window_seconds = kLongestWindowSeconds;
};

// The answer to one event.
struct Taken {
  bool allowed = false;
  int64_t id = 0;  // allowed: the event's row, for GiveBack
  // Refused: when the oldest event of the window leaves it, so that the
  // next one is allowed again (at the earliest).
  DateTime free_at;
};

class SendCounts {
 public:
  virtual ~SendCounts() = default;

  // Counts one event of `limit` at `now` when the limit allows it;
  // a refused event leaves no count.
  virtual Taken Take(const SendLimit& limit, const DateTime& now) = 0;

  // Removes the count of an allowed event (whose action was not taken
  // after all, because another limit refused it).
  virtual void GiveBack(int64_t id) = 0;
};

// The counts on an open connection (which must outlive them).
std::unique_ptr<SendCounts> NewSqlSendCounts(Connection& db);

// The seconds from `now` until `free_at`, at least 1: a Retry-After.
int64_t SecondsUntil(const DateTime& now, const DateTime& free_at);

}  // namespace qlok

#endif  // QLOK_LIMITS_SEND_COUNTS_H_
