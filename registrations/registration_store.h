// The registrations for the daily job-match mail, kept in the database the
// connection string names (tables of registrations/schema/*.sql).
//
// A registration is keyed by its address and registration number (1 to 5);
// its token, 128 random bits, is the key of the links in its mails: the
// manage page finds and stops a registration by it. The token is never
// stored as it is (registrations/token_seal.h): the table keeps its
// SHA-256, looked up by the hash of the token given, and the token sealed
// under the site's token key, which the store unseals for the mails' links.
// Every statement binds the values it carries; none is spliced into SQL text.
// All calls throw Failure when the database refuses (for example when the
// tables have not been created: "q_lok-admin init").
#ifndef QLOK_REGISTRATIONS_REGISTRATION_STORE_H_
#define QLOK_REGISTRATIONS_REGISTRATION_STORE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/database.h"
#include "platform/text_files.h"
#include "text/date_time.h"

namespace qlok {

// The statements that create the tables of the registrations (registrations/
// schema/*.sql, built into the program): registrations, seen_jobs and
// address_lookups, on the engine named as Connection::Engine() names it
// ("sqlite" or "postgresql"), for one call of Connection::Execute. They
// fail when the tables exist. Throws Failure for any other engine name.
std::u16string RegistrationSchema(std::string_view engine);

// The most jobs one daily mail carries.
inline constexpr int kMostDailyJobs = 100;

// One registration as stored.
struct Registration {
  int64_t id = 0;
  std::u16string address;
  int number = 1;  // the registration number, 1 to 5
  // The registration record: the request's settings as name=value lines
  // (registrations/registration.h turns it back into a search).
  std::u16string settings;
  int daily_maximum = kMostDailyJobs;  // 1 to 100
  DateTime created;
  DateTime changed;  // when the conditions were last stored
  bool active = true;
  std::optional<DateTime> stopped;  // when it was stopped, while stopped
  std::string token;                // 32 lower-case hexadecimal digits
  // The high-water mark: jobs with a serial up to it (seen_jobs) have been
  // sent, or were there when the registration was made.
  int64_t mark = 0;
  // Fingerprints of the first match mail's jobs, which the next daily mail
  // leaves out; emptied when the mark moves.
  std::vector<std::string> sent_jobs;
  std::optional<DateTime> last_mailed;  // the last daily mail accepted

  bool operator==(const Registration&) const = default;
};

// What a registration through the search page stores.
struct RegistrationInput {
  std::u16string address;
  int number = 1;  // 1 to 5
  std::u16string settings;
  int daily_maximum = kMostDailyJobs;  // 1 to 100
  std::vector<std::string> sent_jobs;  // fingerprints of the first mail
};

// Which registrations a page of Registrations() holds.
struct RegistrationFilter {
  bool active_only = false;
  std::u16string address;  // empty: every address
};

// Figures for the operator.
struct RegistrationCounts {
  int64_t active = 0;
  int64_t stopped = 0;
  std::array<int64_t, 5> active_by_number{};  // numbers 1 to 5
};

class RegistrationStore {
 public:
  virtual ~RegistrationStore() = default;

  // Stores a registration made at `now`. A new address and number gets a
  // fresh token, its mark at the newest job serial and `sent_jobs`. An
  // address and number already stored get the new settings, daily maximum,
  // mark and sent jobs, are active again and keep their token and created
  // time. Returns the registration as stored. Throws Failure for a number
  // outside 1 to 5 or a daily maximum outside 1 to 100.
  virtual Registration Save(const RegistrationInput& input,
                            const DateTime& now) = 0;

  // The registration whose token is `token`, active or stopped; nullopt
  // for an unknown token (also for a text that is no token).
  virtual std::optional<Registration> FindByToken(std::string_view token) = 0;

  // Stops the registration of `token` at `now`. True when an active
  // registration was stopped; false for an unknown token or one already
  // stopped.
  virtual bool StopByToken(std::string_view token, const DateTime& now) = 0;

  // Stops the active registrations of `address` (only number `number` when
  // given) at `now`; returns how many were stopped.
  virtual int Stop(const std::u16string& address, std::optional<int> number,
                   const DateTime& now) = 0;

  // The registrations of `address`, active and stopped, by number.
  virtual std::vector<Registration> ListByAddress(
      const std::u16string& address) = 0;

  // Counts one lookup of `address` on the day of `now` and returns that
  // day's lookups so far, this one included; for a rate limit such as
  // site.conf [manage] lookups_per_day.
  virtual int CountLookup(const std::u16string& address,
                          const DateTime& now) = 0;

  // Up to `limit` registrations that pass `filter`, with an id above
  // `after_id`, by id: walking page by page keeps memory flat however many
  // there are.
  virtual std::vector<Registration> Registrations(
      const RegistrationFilter& filter, int64_t after_id, size_t limit) = 0;

  // Moves the mark of registration `id` to `mark` and empties its sent
  // jobs; `mailed` (when given) becomes its last mail. Only when the
  // registration is unchanged since `changed`: a registration stored anew
  // meanwhile has a mark of its own. True when the mark moved.
  virtual bool MoveMark(int64_t id, const DateTime& changed, int64_t mark,
                        std::optional<DateTime> mailed) = 0;

  // The lowest mark of the registrations that pass `filter`; nullopt when
  // there are none. Jobs with a serial above it are all a daily run needs.
  virtual std::optional<int64_t> LowestMark(
      const RegistrationFilter& filter) = 0;

  virtual RegistrationCounts Count() = 0;
};

// The store on an open connection (which must outlive it). `new_token`
// makes the token of a new registration; by default NewRandomToken.
// `token_key` gives the site's token key (LoadTokenKey) when a token is
// first sealed or unsealed, and what it throws fails that call; without
// one the tokens are sealed under an empty key (for tests).
std::unique_ptr<RegistrationStore> NewSqlRegistrationStore(
    Connection& db, std::function<std::string()> new_token = nullptr,
    std::function<std::string()> token_key = nullptr);

// The site's token key: the first line of pw/token_key (64 hexadecimal
// digits). Throws Failure, saying to run "q_lok-admin migrate", when the
// file is missing or holds no key.
std::string LoadTokenKey(TextFiles& files);

}  // namespace qlok

#endif  // QLOK_REGISTRATIONS_REGISTRATION_STORE_H_
