#include "mail/mail_jobs.h"

#include <cmath>
#include <limits>

#include "results/job_items.h"

namespace qlok {
int64_t MailJobLimit(std::optional<double> daily_maximum) {
  if (!daily_maximum) return 0;
  const double rounded = std::nearbyint(*daily_maximum);  // halves to even
  // A maximum no 32-bit whole number can hold (a hand-made request) is no
  // limit rather than a failure after the first job.
  if (!(rounded >= 1) || rounded > std::numeric_limits<int32_t>::max()) {
    return 0;
  }
  return static_cast<int64_t>(rounded);
}

MailJobs RenderMailJobs(Recordset& jobs, std::optional<double> daily_maximum,
                        const SiteConfig& site) {
  const int64_t limit = MailJobLimit(daily_maximum);
  MailJobs mail;
  while (!jobs.AtEnd()) {
    ++mail.count;
    mail.text += u"\r\n" + JobHeading(mail.count) + u"\r\n";
    mail.text += RenderJobForMail(jobs, site);
    if (mail.count == limit) break;
    jobs.MoveNext();
  }
  return mail;
}

std::u16string RenderJobForMail(const Recordset& job, const SiteConfig& site) {
  return RenderJobItems(job, MailMedium(), site);
}

}  // namespace qlok
