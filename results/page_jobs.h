// The sample jobs of the result page: the first jobs of the result, each as
// one block of HTML lines (breaks "<BR>"), for a search without an e-mail
// address.
#ifndef QLOK_RESULTS_PAGE_JOBS_H_
#define QLOK_RESULTS_PAGE_JOBS_H_

#include <cstdint>
#include <string>

#include "platform/database.h"
#include "site/site_config.h"

namespace qlok {

// The sample jobs from the current row of `jobs` on, in order, at most
// kSampleJobLimit (15) of them: for each, "<HR>" and its block, numbered
// from 1. The recordset is left on the last job shown (or at its end), so
// that it is never moved past the rows it keeps for the page. Throws Failure
// as RenderJobForPage does, or when moving to the next row fails.
std::u16string RenderSampleJobs(Recordset& jobs, const SiteConfig& site);

// The block of the current row: "<BR>", the heading with `counter`, then
// the items (results/job_items.h). Throws Failure when the row lacks a
// column or the map link of the head office fails.
std::u16string RenderJobForPage(const Recordset& job, int64_t counter,
                                const SiteConfig& site);

}  // namespace qlok

#endif  // QLOK_RESULTS_PAGE_JOBS_H_
