// The jobs of the first match mail as plain text (breaks CR LF), for a
// registration whose search found jobs.
#ifndef QLOK_MAIL_MAIL_JOBS_H_
#define QLOK_MAIL_MAIL_JOBS_H_

#include <cstdint>
#include <optional>
#include <string>

#include "platform/database.h"
#include "site/site_config.h"

namespace qlok {

struct MailJobs {
  std::u16string text;  // the job text of the mail
  int64_t count = 0;    // the number of jobs in it
};

// The most jobs one mail holds: the largest daily maximum the form offers.
inline constexpr int64_t kMailJobCeiling = 100;

// The number of jobs that ends the mail: the daily maximum rounded to the
// nearest whole number (halves to even) when that lies from 1 to 100;
// otherwise (absent, not a number, below 1 or above 100, all possible only
// in a hand-made request) 100, so that no request can have the whole table
// mailed.
int64_t MailJobLimit(std::optional<double> daily_maximum);

// The jobs from the current row of `jobs` on, in order, each as CR LF, its
// heading numbered from 1, CR LF and its text, up to MailJobLimit of the
// daily maximum. The recordset is left on the last job rendered when the
// limit stopped the loop, at its end otherwise. Throws Failure as
// RenderJobForMail does, or when moving to the next row fails.
MailJobs RenderMailJobs(Recordset& jobs, std::optional<double> daily_maximum,
                        const SiteConfig& site);

// The text of the current row, without its heading (results/job_items.h).
// Throws Failure when the row lacks a column or the map link of the head
// office fails.
std::u16string RenderJobForMail(const Recordset& job, const SiteConfig& site);

}  // namespace qlok

#endif  // QLOK_MAIL_MAIL_JOBS_H_
