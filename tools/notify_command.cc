#include "tools/notify_command.h"

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <limits>
#include <memory>

#include "consent/consent_store.h"
#include "jobs/job_fingerprint.h"
#include "jobs/schema.h"
#include "mail/kept_mail.h"
#include "notify/daily_run.h"
#include "notify/job_sweep.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/smtp_mail_sender.h"
#include "platform/text_files.h"
#include "registrations/registration_store.h"
#include "site/site_config.h"
#include "site/smtp_settings.h"
#include "text/unicode.h"
#include "tools/admin_commands.h"

namespace qlok {
namespace {

// Reports the run on the operator's streams: failures as lines, the dry
// run's findings, and, on a terminal, a counter that rewrites its line.
class OperatorReport : public DailyRunReport {
 public:
  OperatorReport(const NotifyArguments& arguments, std::ostream& out,
                 std::ostream& err)
      : arguments_(arguments),
        out_(out),
        err_(err),
        progress_(&err == &std::cerr && ::isatty(STDERR_FILENO) == 1) {}

  void Waiting() override {
    err_ << "q_lok-admin notify: another run holds the lock; waiting for "
            "it to end\n";
    err_.flush();
  }

  void Started(const SweepCounts&, int64_t registrations) override {
    total_ = registrations;
    Counter(true);
  }

  void Done(const Registration& r, int64_t jobs,
            const std::string& failure) override {
    ++done_;
    if (jobs > 0 && failure.empty()) {
      ++mails_;
      jobs_ += jobs;
    }
    if (!failure.empty() || (arguments_.dry_run && jobs > 0)) ClearCounter();
    if (!failure.empty()) {
      ++failures_;
      err_ << "q_lok-admin notify: " << U8(r.address) << " number " << r.number
           << ": " << failure << "\n";
      err_.flush();
    } else if (arguments_.dry_run && jobs > 0) {
      out_ << U8(r.address) << " number " << r.number << ": " << jobs
           << (jobs == 1 ? " job\n" : " jobs\n");
      out_.flush();
    }
    Counter(false);
  }

  void Finish() { ClearCounter(); }

 private:
  // The counter line, at most every tenth of a second.
  void Counter(bool now) {
    if (!progress_) return;
    const auto at = std::chrono::steady_clock::now();
    if (!now && done_ != total_ &&
        at - last_ < std::chrono::milliseconds(100)) {
      return;
    }
    last_ = at;
    err_ << "\rnotify: " << done_ << "/" << total_ << " registrations, "
         << mails_ << (arguments_.dry_run ? " mails to send, " : " mails, ")
         << jobs_ << " jobs, " << failures_ << " failures   ";
    err_.flush();
    shown_ = true;
  }

  void ClearCounter() {
    if (!shown_) return;
    err_ << "\r" << std::string(78, ' ') << "\r";
    err_.flush();
    shown_ = false;
  }

  const NotifyArguments& arguments_;
  std::ostream& out_;
  std::ostream& err_;
  int64_t total_ = 0, done_ = 0, mails_ = 0, jobs_ = 0, failures_ = 0;
  const bool progress_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

// Deletes the registrations never confirmed within [registration]
// confirm_days and those stopped more than keep_stopped_days ago, with
// their data, and says so when there were any.
void ExpireRegistrations(ConsentStore& consents, const SiteConfig& site,
                         Clock& clock, std::ostream& out) {
  constexpr int64_t kDay = 24 * 60 * 60;
  const DateTime now = clock.Now();
  const Expired expired =
      consents.Expire(AddSeconds(now, -kDay * site.confirm_days),
                      AddSeconds(now, -kDay * site.keep_stopped_days));
  if (expired.unconfirmed == 0 && expired.stopped == 0) return;
  out << "notify: deleted " << expired.unconfirmed
      << " registrations never confirmed within " << site.confirm_days
      << " days and " << expired.stopped << " stopped more than "
      << site.keep_stopped_days << " days ago\n";
}

}  // namespace

int RunNotify(const NotifyArguments& arguments, std::ostream& out,
              std::ostream& err) {
  const SiteConfig site = LoadSiteConfig(arguments.home + "/site.conf");
  // The run's statements may take long over many jobs: no statement limit.
  DatabaseOptions database;
  database.connect_timeout_seconds = site.database_connect_timeout;
  std::unique_ptr<Connection> work =
      OpenConnection(arguments.connection_string, arguments.home, database);
  std::unique_ptr<TextFiles> key_files = NewSiteTextFiles(arguments.home);
  std::unique_ptr<RegistrationStore> store = NewSqlRegistrationStore(
      *work, nullptr, [&key_files] { return LoadTokenKey(*key_files); });
  std::unique_ptr<JobSweep> sweep = NewJobSweep(
      *work,
      OpenConnection(arguments.connection_string, arguments.home, database));
  std::unique_ptr<TextFiles> files = NewSiteTextFiles(arguments.home);
  const MailRoute route = MatchMailRoute(*files);
  std::unique_ptr<MailSender> sender = NewSmtpMailSender(SmtpSettingsFor(site));
  std::unique_ptr<Sleeper> sleeper = NewSystemSleeper();
  std::unique_ptr<Clock> clock = NewSystemClock();

  std::unique_ptr<ConsentStore> consents = NewSqlConsentStore(*work);
  if (!arguments.dry_run) ExpireRegistrations(*consents, site, *clock, out);

  OperatorReport report(arguments, out, err);
  std::unique_ptr<MonotonicClock> monotonic = NewSystemMonotonicClock();
  DailyRunOptions options;
  options.dry_run = arguments.dry_run;
  options.only = U16(arguments.only);
  options.give_up_after = site.notify_give_up_after;
  options.deadline.emplace(*monotonic, monotonic->Milliseconds(),
                           site.notify_time_limit * int64_t{1000});
  // Daily mails go only to what the owner of the address confirmed.
  options.may_mail = [&consents](const Registration& registration) {
    const std::optional<Consent> consent = consents->Find(registration.id);
    return consent && consent->confirmed;
  };
  const DailyRunSummary summary = RunDailyMail(
      *store, *sweep, *sender, *sleeper, *clock, site, route, options, report);
  report.Finish();
  out << (arguments.dry_run ? "notify --dry-run: " : "notify: ")
      << summary.registrations << " registrations, " << summary.mails
      << (arguments.dry_run ? " mails to send, " : " mails, ") << summary.jobs
      << " jobs, " << summary.failures << " failures (" << summary.sweep.jobs
      << " jobs in the table, " << summary.sweep.new_jobs
      << " seen for the first time)\n";
  if (!summary.stopped.empty()) {
    out << "notify: stopped: " << summary.stopped << "; " << summary.left
        << (summary.left == 1 ? " registration is" : " registrations are")
        << " left for the next run\n";
  }
  out.flush();
  return summary.failures > 0 || !summary.stopped.empty() ? kAdminFailed
                                                          : kAdminDone;
}

void NumberNewJobs(const std::string& home,
                   const std::u16string& connection_string, std::ostream& out,
                   std::ostream& err) {
  try {
    std::unique_ptr<Connection> work = OpenConnection(connection_string, home);
    if (!TableExists(*work, u"seen_jobs")) return;
    std::unique_ptr<JobSweep> sweep =
        NewJobSweep(*work, OpenConnection(connection_string, home));
    sweep->Lock([&] {
      out << "waiting for the daily run to end before numbering the jobs\n";
      out.flush();
    });
    const SweepCounts counts =
        sweep->Sweep(std::numeric_limits<int64_t>::max(), JobFingerprint,
                     NewSystemClock()->Now(), true);
    out << "numbered " << counts.new_jobs << " new jobs for the daily mail\n";
  } catch (const std::exception& failure) {
    err << "q_lok-admin: warning: the jobs were loaded but not numbered for "
           "the daily mail (the next notify run numbers them): "
        << failure.what() << "\n";
  }
}

}  // namespace qlok
