#include "notify/daily_run.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bounces/verp.h"
#include "jobs/job_fingerprint.h"
#include "mail/delivery.h"
#include "mail/mail_jobs.h"
#include "notify/daily_mail.h"
#include "notify/new_jobs.h"
#include "registrations/registration.h"
#include "search/query_builder.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// Registrations are read this many at a time, so memory stays flat however
// many there are.
constexpr size_t kPage = 200;

// True while `read` is active and its conditions unchanged in `store`: a
// run takes minutes, and a visitor who stops the mails meanwhile gets none.
// Found by its address and number, not its token: a token unsealed under
// another key than the site's would find nothing, and no mail would go.
bool StillAsRead(RegistrationStore& store, const Registration& read) {
  for (const Registration& now : store.ListByAddress(read.address)) {
    if (now.id == read.id) return now.active && now.changed == read.changed;
  }
  return false;
}

int64_t ActiveCount(RegistrationStore& store, const std::u16string& only) {
  if (only.empty()) return store.Count().active;
  int64_t count = 0;
  for (const Registration& r : store.ListByAddress(only)) count += r.active;
  return count;
}

// The new jobs of one registration rendered as the first mail renders
// them; the rest of the candidates is read to its end so that the
// connection is free for the next statement.
MailJobs NewJobsOf(const Registration& registration, JobSweep& sweep,
                   const SiteConfig& site) {
  const std::u16string query =
      BuildQuery(RequestOfSettings(registration.settings));
  std::unique_ptr<Recordset> candidates = sweep.Candidates(query);
  NewJobsOnly fresh(*candidates, registration.mark, registration.sent_jobs);
  const MailJobs jobs = RenderMailJobs(fresh, registration.daily_maximum, site);
  while (!candidates->AtEnd()) candidates->MoveNext();
  return jobs;
}

// What became of one registration in the run: the jobs of its mail (0:
// none was due), whether a relay took the mail (a dry run: whether one
// would go), and, when something failed, why.
struct Served {
  int64_t jobs = 0;
  bool mailed = false;
  std::string failure;
  bool mark_failed = false;  // its mark could not be stored
  bool no_relay = false;     // its mail was given up, no relay reached
};

// One run over the registrations: what every registration is served with.
class DailyRun {
 public:
  DailyRun(RegistrationStore& store, JobSweep& sweep, MailSender& sender,
           Sleeper& sleeper, Clock& clock, const SiteConfig& site,
           const MailRoute& route, const DailyRunOptions& options, int64_t high)
      : store_(store),
        sweep_(sweep),
        sender_(sender),
        sleeper_(sleeper),
        clock_(clock),
        site_(site),
        route_(route),
        options_(options),
        high_(high) {}

  // Mails `registration` its new jobs, if it has any, and moves its mark
  // to the run's high number; a dry run only counts. Never throws: what
  // fails is told in the result.
  Served Serve(const Registration& registration) {
    Served served;
    try {
      const MailJobs jobs = NewJobsOf(registration, sweep_, site_);
      served.jobs = jobs.count;
      if (options_.dry_run) {
        served.mailed = jobs.count > 0;
        return served;
      }
      if (jobs.count == 0) {
        if (registration.mark < high_) {
          served.mark_failed = true;
          store_.MoveMark(registration.id, registration.changed, high_,
                          std::nullopt);
          served.mark_failed = false;
        }
        return served;
      }
      if (!StillAsRead(store_, registration)) {
        // Stopped or changed on the manage page since the run read it: not
        // a job more under the conditions it had.
        served.jobs = 0;
        return served;
      }
      MailAndMark(registration, jobs, served);
    } catch (const std::exception& error) {
      served.failure = error.what();
    }
    return served;
  }

 private:
  // Sends the daily mail of `jobs` and marks them as sent.
  void MailAndMark(const Registration& registration, const MailJobs& jobs,
                   Served& served) {
    Mail mail{
        registration.address, kDailyMailSubject,
        ComposeDailyMail(jobs.text, jobs.count, site_, registration.token),
        MatchMailHeaders(site_, registration.token)};
    mail.envelope_sender =
        VerpAddress(site_.bounce_address, registration.token);
    const std::u16string answer =
        DeliverMail(route_.attempts, sender_, sleeper_, site_, route_.accounts,
                    mail, options_.deadline ? &*options_.deadline : nullptr);
    if (!answer.empty()) {
      served.failure = "the mail was given up: " + U8(answer);
      served.no_relay = ReachedNoRelay(answer);
      return;
    }
    served.mailed = true;
    try {
      store_.MoveMark(registration.id, registration.changed, high_,
                      clock_.Now());
    } catch (const std::exception& error) {
      served.mark_failed = true;
      served.failure = std::string(
                           "the mail went out, but its jobs were not marked as "
                           "sent, so the next run sends them again: ") +
                       error.what();
    }
  }

  RegistrationStore& store_;
  JobSweep& sweep_;
  MailSender& sender_;
  Sleeper& sleeper_;
  Clock& clock_;
  const SiteConfig& site_;
  const MailRoute& route_;
  const DailyRunOptions& options_;
  const int64_t high_;
};

// Why the run stops before its next registration, or the empty text.
std::string ReasonToStop(const DailyRunOptions& options,
                         int unreached_in_a_row) {
  if (options.give_up_after > 0 &&
      unreached_in_a_row >= options.give_up_after) {
    return std::to_string(unreached_in_a_row) +
           " mails in a row reached no relay";
  }
  if (options.deadline && options.deadline->RemainingMs() == 0) {
    return "the run's time limit was spent";
  }
  return "";
}

}  // namespace

DailyRunSummary RunDailyMail(RegistrationStore& store, JobSweep& sweep,
                             MailSender& sender, Sleeper& sleeper, Clock& clock,
                             const SiteConfig& site, const MailRoute& route,
                             const DailyRunOptions& options,
                             DailyRunReport& report) {
  sweep.Lock([&] { report.Waiting(); });
  const RegistrationFilter filter{true, options.only};
  const DateTime started = clock.Now();
  // Only jobs above the lowest mark can be new to anyone; with no
  // registration the sweep still numbers the jobs it sees, so that later
  // registrations start from them.
  const int64_t lowest =
      store.LowestMark(filter).value_or(std::numeric_limits<int64_t>::max());
  DailyRunSummary summary;
  summary.sweep =
      sweep.Sweep(lowest, JobFingerprint, started, !options.dry_run);

  const int64_t active = ActiveCount(store, options.only);
  report.Started(summary.sweep, active);

  DailyRun run(store, sweep, sender, sleeper, clock, site, route, options,
               summary.sweep.high);
  int64_t after = 0;
  int unreached_in_a_row = 0;
  for (std::vector<Registration> page = store.Registrations(filter, 0, kPage);
       !page.empty() && summary.stopped.empty();
       page = store.Registrations(filter, after, kPage)) {
    for (const Registration& registration : page) {
      summary.stopped = ReasonToStop(options, unreached_in_a_row);
      if (!summary.stopped.empty()) break;
      after = registration.id;
      if (options.may_mail && !options.may_mail(registration)) continue;
      ++summary.registrations;
      const Served served = run.Serve(registration);
      if (served.mailed) {
        ++summary.mails;
        summary.jobs += served.jobs;
      }
      if (!served.failure.empty()) ++summary.failures;
      unreached_in_a_row = served.no_relay ? unreached_in_a_row + 1 : 0;
      report.Done(registration, served.jobs, served.failure);
      if (served.mark_failed) {
        summary.stopped =
            "a mark could not be stored, so the database fails; the run "
            "stopped rather than mail jobs it could not mark as sent";
        break;
      }
    }
  }
  if (!summary.stopped.empty()) {
    summary.left = std::max<int64_t>(0, active - summary.registrations);
  }
  return summary;
}

}  // namespace qlok
