// q_lok-admin notify: the daily run of the job-match mail (notify/).
#ifndef QLOK_TOOLS_NOTIFY_COMMAND_H_
#define QLOK_TOOLS_NOTIFY_COMMAND_H_

#include <ostream>
#include <string>

namespace qlok {

struct NotifyArguments {
  std::string home;                  // the site home
  std::u16string connection_string;  // the site's database
  bool dry_run = false;              // --dry-run
  std::string only;                  // --only ADDRESS; empty for all
};

// Deletes first, with their data, the registrations never confirmed within
// [registration] confirm_days and those stopped more than keep_stopped_days
// ago (a line on `out` says how many; not with --dry-run). Then runs the
// daily mail of the site, for the confirmed registrations alone
// (consent/consent_store.h), and ends with a summary line on `out`
// ("notify: R registrations, M mails, J jobs, F failures"); while it runs,
// a counter on `err` when that is standard error on a terminal. With --dry-run
// it lists on `out` who would get how many jobs and changes nothing. Each
// failure leaves one line on `err`. The run stops early after [notify]
// give_up_after registrations in a row whose mail reached no relay, after
// [notify] time_limit seconds, or at a mark that cannot be stored; a
// second line then says why and how many registrations are left for the
// next run. Returns kAdminDone, or kAdminFailed when any mail was given
// up, any registration failed or the run stopped early. Throws Failure
// when the run cannot be made (database, site.conf).
int RunNotify(const NotifyArguments& arguments, std::ostream& out,
              std::ostream& err);

// After jobs were loaded (import, generate): numbers the job contents the
// daily mail has not seen (table seen_jobs), so that a registration made
// from now on starts after them and its daily mails never carry a job that
// was there when it was made. Waits while a daily run holds the lock.
// Writes "numbered N new jobs for the daily mail" to `out`; does nothing
// on a database without the registration tables. Never throws: the jobs
// are loaded whatever happens here, so a failure is a warning on `err`
// (the next daily run numbers them).
void NumberNewJobs(const std::string& home,
                   const std::u16string& connection_string, std::ostream& out,
                   std::ostream& err);

}  // namespace qlok

#endif  // QLOK_TOOLS_NOTIFY_COMMAND_H_
