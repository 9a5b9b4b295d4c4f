#include "results/page_jobs.h"

#include <gtest/gtest.h>

#include <memory>

#include "jobs/job_columns.h"
#include "jobs/schema.h"
#include "results/data_access.h"
#include "results/job_items.h"
#include "results/job_rows_testing.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using testing_jobs::JobRows;
using testing_jobs::N;
using testing_jobs::T;

size_t Count(const std::u16string& text, std::u16string_view part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::u16string::npos;
       at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

TEST(PageJobsTest, BlockIsBreakHeadingAndItems) {
  JobRows rows({testing_jobs::QuietJobRow()});
  const std::u16string block = RenderJobForPage(rows, 7, SiteConfig{});
  EXPECT_EQ(U8(block), U8(u"<BR>＝＝＝＝＝＝＝＝【求人7】＝＝＝＝＝＝＝＝" +
                          RenderJobItems(rows, PageMedium(), SiteConfig{})));
}

// The request handler's own path: the recordset keeps the fifteen rows the
// page shows, is walked to count all forty, and is rewound.
TEST(PageJobsTest, FortyRowsShowFifteenInQueryOrder) {
  std::unique_ptr<Connection> db = OpenConnection(u"sqlite::memory:", "/tmp");
  db->Execute(JobTableSchema(db->Engine()));
  std::unique_ptr<RowWriter> writer =
      db->PrepareInsert(std::u16string(kJobTable), {u"社名", u"rank"});
  for (int i = 1; i <= 40; ++i) {
    writer->Insert({T(u"会社" + Digits(i)), N(100 - i)});
  }
  const std::u16string query = u"SELECT * FROM 求人 ORDER BY rank DESC";
  std::unique_ptr<Recordset> jobs = OpenJobQuery(*db, query, kSampleJobLimit);
  ASSERT_EQ(CountHits(*jobs, query), 40);

  const std::u16string page = RenderSampleJobs(*jobs, SiteConfig{});
  EXPECT_EQ(Count(page, u"<HR>"), 15u);
  size_t last = 0;
  for (int k = 1; k <= 15; ++k) {
    const size_t heading = page.find(u"【求人" + Digits(k) + u"】");
    const size_t company = page.find(u"【事業所名】会社" + Digits(k) + u"<BR>");
    ASSERT_NE(heading, std::u16string::npos) << k;
    EXPECT_GT(company, heading) << k;
    EXPECT_GT(heading, last) << k;
    last = company;
  }
  EXPECT_EQ(page.find(u"【求人16】"), std::u16string::npos);
  EXPECT_EQ(page.find(u"会社16"), std::u16string::npos);
}

}  // namespace
}  // namespace qlok
