#include "mail/mail_jobs.h"

#include <cmath>

#include "results/job_items.h"

namespace qlok {
int64_t MailJobLimit(std::optional<double> daily_maximum) {
  if (!daily_maximum) return kMailJobCeiling;
  const double rounded = std::nearbyint(*daily_maximum);  // halves to even
  // Written so that a value that is not a number also falls outside.
  if (!(rounded >= 1 && rounded <= kMailJobCeiling)) return kMailJobCeiling;
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
