#include "results/page_jobs.h"

#include "results/data_access.h"
#include "results/job_items.h"

namespace qlok {

std::u16string RenderSampleJobs(Recordset& jobs, const SiteConfig& site) {
  std::u16string page;
  for (int64_t counter = 1; !jobs.AtEnd(); ++counter) {
    page += u"<HR>";
    page += RenderJobForPage(jobs, counter, site);
    // The last sample stays current: the recordset keeps only the rows the
    // page shows, and a move past them would fail.
    if (counter == static_cast<int64_t>(kSampleJobLimit)) break;
    jobs.MoveNext();
  }
  return page;
}

std::u16string RenderJobForPage(const Recordset& job, int64_t counter,
                                const SiteConfig& site) {
  return u"<BR>" + JobHeading(counter) +
         RenderJobItems(job, PageMedium(), site);
}

}  // namespace qlok
