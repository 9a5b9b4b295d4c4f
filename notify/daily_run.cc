#include "notify/daily_run.h"

#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mail/delivery.h"
#include "mail/mail_jobs.h"
#include "notify/daily_mail.h"
#include "notify/new_jobs.h"
#include "registrations/job_fingerprint.h"
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
bool StillAsRead(RegistrationStore& store, const Registration& read) {
  const std::optional<Registration> now = store.FindByToken(read.token);
  return now && now->active && now->changed == read.changed;
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
  const int64_t high = summary.sweep.high;
  report.Started(summary.sweep, ActiveCount(store, options.only));

  int64_t after = 0;
  while (true) {
    const std::vector<Registration> page =
        store.Registrations(filter, after, kPage);
    if (page.empty()) break;
    for (const Registration& registration : page) {
      after = registration.id;
      ++summary.registrations;
      int64_t count = 0;
      std::string failure;
      try {
        const MailJobs jobs = NewJobsOf(registration, sweep, site);
        count = jobs.count;
        if (options.dry_run) {
          if (count > 0) {
            ++summary.mails;
            summary.jobs += count;
          }
        } else if (count == 0) {
          if (registration.mark < high) {
            store.MoveMark(registration.id, registration.changed, high,
                           std::nullopt);
          }
        } else if (!StillAsRead(store, registration)) {
          // Stopped or changed on the manage page since the run read it:
          // not a job more under the conditions it had.
          count = 0;
        } else {
          const Mail mail{
              registration.address, kDailyMailSubject,
              ComposeDailyMail(jobs.text, count, site, registration.token),
              MatchMailHeaders(site, registration.token)};
          const std::u16string answer = DeliverMail(
              route.attempts, sender, sleeper, site, route.accounts, mail);
          if (answer.empty()) {
            ++summary.mails;
            summary.jobs += count;
            try {
              store.MoveMark(registration.id, registration.changed, high,
                             clock.Now());
            } catch (const std::exception& error) {
              failure = std::string(
                            "the mail went out, but its jobs were "
                            "not marked as sent, so the next run "
                            "sends them again: ") +
                        error.what();
            }
          } else {
            failure = "the mail was given up: " + U8(answer);
          }
        }
      } catch (const std::exception& error) {
        failure = error.what();
      }
      if (!failure.empty()) ++summary.failures;
      report.Done(registration, count, failure);
    }
  }
  return summary;
}

}  // namespace qlok
