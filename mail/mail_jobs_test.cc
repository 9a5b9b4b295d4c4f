#include "mail/mail_jobs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "results/job_items.h"
#include "results/job_rows_testing.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using testing_jobs::JobRow;
using testing_jobs::JobRows;
using testing_jobs::T;

std::vector<JobRow> NumberedRows(int rows) {
  std::vector<JobRow> result;
  for (int i = 1; i <= rows; ++i) {
    JobRow row = testing_jobs::QuietJobRow();
    row[u"社名"] = T(u"会社" + Digits(i));
    result.push_back(row);
  }
  return result;
}

struct LimitCase {
  const char* name;
  std::optional<double> daily_maximum;
  int rows;
  int64_t jobs;
};

void PrintTo(const LimitCase& c, std::ostream* out) { *out << c.name; }

class MailJobsTest : public testing::TestWithParam<LimitCase> {};

TEST_P(MailJobsTest, StopsAtTheDailyMaximum) {
  const LimitCase& c = GetParam();
  JobRows rows(NumberedRows(c.rows));
  const MailJobs mail = RenderMailJobs(rows, c.daily_maximum, SiteConfig{});
  EXPECT_EQ(mail.count, c.jobs);
  const std::u16string last = u"【求人" + Digits(c.jobs) + u"】";
  const std::u16string next = u"【求人" + Digits(c.jobs + 1) + u"】";
  EXPECT_NE(mail.text.find(last), std::u16string::npos);
  EXPECT_EQ(mail.text.find(next), std::u16string::npos);
  EXPECT_NE(mail.text.find(u"【事業所名】会社" + Digits(c.jobs) + u"\r\n"),
            std::u16string::npos);
  EXPECT_EQ(mail.text.find(u"【事業所名】会社" + Digits(c.jobs + 1) + u"\r\n"),
            std::u16string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, MailJobsTest,
    testing::Values(
        LimitCase{"TenOf25", 10, 25, 10}, LimitCase{"HundredOf3", 100, 3, 3},
        LimitCase{"HundredOf150", 100, 150, 100}, LimitCase{"OneOf5", 1, 5, 1},
        LimitCase{"HalfRoundsToEvenDown", 2.5, 5, 2},
        LimitCase{"HalfRoundsToEvenUp", 3.5, 5, 4},
        LimitCase{"JustAboveHalfRoundsUpToOne", 0.6, 5, 1},
        // A hand-made request cannot have more than 100 jobs mailed.
        LimitCase{"ZeroIsAHundred", 0, 150, 100},
        LimitCase{"BelowOneHalfIsAHundred", 0.5, 150, 100},
        LimitCase{"NegativeIsAHundred", -3, 150, 100},
        LimitCase{"AbsentIsAHundred", std::nullopt, 150, 100},
        LimitCase{"NotANumberIsAHundred", std::nan(""), 150, 100},
        LimitCase{"AboveAHundredIsAHundred", 101, 150, 100},
        LimitCase{"HundredAndAHalfRoundsToAHundred", 100.5, 150, 100},
        LimitCase{"Beyond32BitsIsAHundred", 3e9, 150, 100},
        LimitCase{"InfinityIsAHundred", HUGE_VAL, 150, 100}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MailJobsTest, HeadingHasBreaksAroundIt) {
  JobRows rows(NumberedRows(2));
  const MailJobs mail = RenderMailJobs(rows, std::nullopt, SiteConfig{});
  JobRows again(NumberedRows(2));
  const std::u16string first = RenderJobForMail(again, SiteConfig{});
  again.MoveNext();
  const std::u16string second = RenderJobForMail(again, SiteConfig{});
  EXPECT_EQ(U8(mail.text),
            U8(u"\r\n＝＝＝＝＝＝＝＝【求人1】＝＝＝＝＝＝＝＝\r\n" + first +
               u"\r\n＝＝＝＝＝＝＝＝【求人2】＝＝＝＝＝＝＝＝\r\n" + second));
  EXPECT_EQ(first.find(u"\r\n【事業所名】会社1\r\n"), 0u);
  EXPECT_EQ(first.find(u"<BR>"), std::u16string::npos);
}

TEST(MailJobsTest, EmptyResultIsNoJobs) {
  JobRows rows({});
  const MailJobs mail = RenderMailJobs(rows, 10, SiteConfig{});
  EXPECT_EQ(mail.count, 0);
  EXPECT_TRUE(mail.text.empty());
}

}  // namespace
}  // namespace qlok
