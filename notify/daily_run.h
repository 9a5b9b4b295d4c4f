// The daily run of the job-match mail: each active registration gets, in
// one mail, the jobs its conditions match that are new to it since it was
// made or since its last daily mail, at most its daily maximum, best
// first; no mail when there is none.
//
// A job reaches a registration at most once: jobs are known by the
// fingerprint of their content (a reload of the same jobs brings nothing
// new), each registration keeps a high-water mark of the jobs it has had,
// and the mark moves only when its mail was accepted, so a mail given up
// goes out with the next run and an interrupted run can simply be run
// again. Two runs on one database never overlap (JobSweep::Lock).
#ifndef QLOK_NOTIFY_DAILY_RUN_H_
#define QLOK_NOTIFY_DAILY_RUN_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "mail/kept_mail.h"
#include "notify/job_sweep.h"
#include "platform/clock.h"
#include "platform/mail_sender.h"
#include "registrations/registration_store.h"
#include "site/site_config.h"

namespace qlok {

struct DailyRunOptions {
  // Sends nothing and changes nothing; reports who would get how many jobs.
  bool dry_run = false;
  // Only the registrations of this address; empty for all.
  std::u16string only;
  // The run stops after this many registrations in a row whose mail
  // reached no relay (ReachedNoRelay); 0 never stops for that.
  int give_up_after = 0;
  // The run stops once this has passed (a mail under way may take what
  // remains of it, at most); none: no limit.
  std::optional<Deadline> deadline;
  // Whether a registration may be mailed (its owner confirmed it); the
  // others are passed over, neither mailed nor counted. Empty: all may.
  std::function<bool(const Registration&)> may_mail;
};

struct DailyRunSummary {
  int64_t registrations = 0;  // active registrations looked at
  int64_t mails = 0;          // mails accepted (dry run: that would go)
  int64_t jobs = 0;           // jobs in them
  int64_t failures = 0;       // mails given up and registrations that failed
  SweepCounts sweep;
  // Why the run stopped before the last registration; empty when it did
  // not. The registrations not reached wait for the next run.
  std::string stopped;
  int64_t left = 0;  // active registrations the run did not reach
};

// What the run tells as it goes; every call has a default that does
// nothing.
class DailyRunReport {
 public:
  virtual ~DailyRunReport() = default;
  // Another run holds the lock; this one waits for it.
  virtual void Waiting() {}
  // The job table has been swept; about `registrations` follow.
  virtual void Started(const SweepCounts&, int64_t registrations) {}
  // One registration is done: `jobs` new jobs (0: no mail), and the
  // reason when its mail was given up or it could not be served.
  virtual void Done(const Registration&, int64_t jobs,
                    const std::string& failure) {}
};

// Runs once over the registrations of `store` and the job table behind
// `sweep`, delivering each mail along `route` (the match mail's attempts
// and logins). Throws
// Failure when the database fails outside one registration's part (the
// lock, the sweep, reading the registrations); a registration that fails
// is counted and reported, and the run goes on, but for three reasons
// that stop it (summary.stopped): a mark that cannot be stored (the mail
// went out, and the database fails: going on would send every later mail
// again on the next run), `give_up_after` registrations in a row whose
// mail reached no relay, and the deadline.
DailyRunSummary RunDailyMail(RegistrationStore& store, JobSweep& sweep,
                             MailSender& sender, Sleeper& sleeper, Clock& clock,
                             const SiteConfig& site, const MailRoute& route,
                             const DailyRunOptions& options,
                             DailyRunReport& report);

}  // namespace qlok

#endif  // QLOK_NOTIFY_DAILY_RUN_H_
