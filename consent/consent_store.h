// The consent kept for each registration (table registration_consent of
// consent/schema/*.sql, beside the registrations): when and from where it
// was asked for, when and how it was confirmed, and the hard bounces heard
// for it. Daily mails go only to confirmed registrations; what is never
// confirmed, and what was stopped, is deleted after a while with its data.
//
// Every statement binds the values it carries. All calls throw Failure
// when the database refuses (for example when the table has not been
// created: "q_lok-admin init").
#ifndef QLOK_CONSENT_CONSENT_STORE_H_
#define QLOK_CONSENT_CONSENT_STORE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/database.h"
#include "text/date_time.h"

namespace qlok {

// The statements that create registration_consent on the engine named as
// Connection::Engine() names it, for one call of Connection::Execute. They
// fail when the table exists. Throws Failure for any other engine name.
std::u16string ConsentSchema(std::string_view engine);

// How a registration was confirmed.
inline constexpr char16_t kConfirmedByLink[] = u"link";
inline constexpr char16_t kConfirmedBySite[] = u"site";
inline constexpr char16_t kConfirmedEarlier[] = u"earlier";

// Why the site stopped a registration.
inline constexpr char16_t kStoppedForBounces[] = u"bounces";

// The request that asked for a registration.
struct ConsentRequest {
  std::u16string client;      // REMOTE_ADDR
  std::u16string user_agent;  // HTTP_USER_AGENT
  std::u16string page;        // HTTP_REFERER

  bool operator==(const ConsentRequest&) const = default;
};

struct Consent {
  int64_t registration_id = 0;
  DateTime made;
  std::optional<DateTime> confirmed;
  std::u16string confirmed_how;
  ConsentRequest request;
  int hard_bounces = 0;
  std::u16string stop_reason;

  bool operator==(const Consent&) const = default;
};

// What an expiry removed.
struct Expired {
  int64_t unconfirmed = 0;
  int64_t stopped = 0;
};

class ConsentStore {
 public:
  virtual ~ConsentStore() = default;

  // Records the request for registration `id`, saved at `now`. `fresh`
  // (the registration is new, or was stopped before this request) starts
  // it anew: made at `now`, the request's facts, no bounces, confirmed at
  // `now` by `confirmed_how` when that is not empty, else unconfirmed. A
  // registration made again while active keeps what it has (a waiting one
  // keeps its clock); one without a row gets a fresh one. Returns the row.
  virtual Consent Record(int64_t id, bool fresh, const ConsentRequest& request,
                         const DateTime& now,
                         std::u16string_view confirmed_how) = 0;

  // The row of registration `id`; nullopt when it has none.
  virtual std::optional<Consent> Find(int64_t id) = 0;

  // Confirms registration `id` at `now` by the manage page's link (a
  // registration without a row gets one). True when it was waiting; false
  // when it was confirmed before.
  virtual bool Confirm(int64_t id, const DateTime& now) = 0;

  // Counts one hard bounce of registration `id` (a row is made when it has
  // none); returns its hard bounces so far.
  virtual int CountHardBounce(int64_t id, const DateTime& now) = 0;

  // Notes why the site stopped registration `id`.
  virtual void NoteStop(int64_t id, std::u16string_view reason) = 0;

  // Deletes, with their rows here, the registrations never confirmed and
  // made before `unconfirmed_before` (also those without a row), and those
  // stopped before `stopped_before`; then the rows of registrations that are
  // gone.
  virtual Expired Expire(const DateTime& unconfirmed_before,
                         const DateTime& stopped_before) = 0;

  // Gives every registration that has no row one confirmed `earlier` as of
  // its creation: registrations made before the site asked for
  // confirmations keep their daily mail. Returns how many rows it made.
  virtual int64_t AdoptEarlierRegistrations() = 0;
};

// The store on an open connection (which must outlive it) that holds the
// registration tables too.
std::unique_ptr<ConsentStore> NewSqlConsentStore(Connection& db);

}  // namespace qlok

#endif  // QLOK_CONSENT_CONSENT_STORE_H_
