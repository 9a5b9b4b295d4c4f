// The counts behind the limits, on SQLite in memory and on the throw-away
// PostgreSQL server of the test fixture "postgres" (skipped when it does
// not run).
#include "limits/send_counts.h"

#include <gtest/gtest.h>

#include "platform/failure.h"
#include "platform/testing/both_engines.h"

namespace qlok {
namespace {

class SendCountsTest : public BothEnginesTest {
 protected:
  void SetUp() override {
    BothEnginesTest::SetUp();
    if (IsSkipped()) return;
    db_->Execute(SendCountsSchema(db_->Engine()));
    counts_ = NewSqlSendCounts(*db_);
  }
  void TearDown() override {
    counts_.reset();
    BothEnginesTest::TearDown();
  }

  int64_t Rows() {
    auto rows = db_->Query(u"SELECT count(*) AS n FROM send_counts", {}, 1);
    return rows->Field(u"n").AsInteger();
  }

  std::unique_ptr<SendCounts> counts_;
};

const DateTime kNoon{2026, 12, 9, 12, 0, 0};

SendLimit ThreeADay(const std::u16string& address) {
  return {kFirstMailsToAddress, address, 3, kLongestWindowSeconds};
}

TEST_P(SendCountsTest, AllowsUpToTheLimitWithinTheWindow) {
  // Events at these seconds after noon, and whether each is allowed.
  const struct {
    int64_t at;
    bool allowed;
    int64_t retry_after;  // refused: seconds until the next is allowed
  } events[] = {
      {0, true, 0},        {60, true, 0},     {120, true, 0},
      {180, false, 86220}, {86399, false, 1}, {86400, true, 0},
      {86401, false, 59},  {86460, true, 0},  {86519, false, 1},
  };
  for (const auto& e : events) {
    const DateTime at = AddSeconds(kNoon, e.at);
    const Taken taken = counts_->Take(ThreeADay(u"taro@example.jp"), at);
    EXPECT_EQ(taken.allowed, e.allowed) << "at +" << e.at;
    if (!e.allowed) {
      EXPECT_EQ(SecondsUntil(at, taken.free_at), e.retry_after)
          << "at +" << e.at;
    }
  }
}

TEST_P(SendCountsTest, KindsAndKeysCountApart) {
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(counts_->Take(ThreeADay(u"a@example.jp"), kNoon).allowed);
  }
  EXPECT_FALSE(counts_->Take(ThreeADay(u"a@example.jp"), kNoon).allowed);
  EXPECT_TRUE(counts_->Take(ThreeADay(u"b@example.jp"), kNoon).allowed);
  EXPECT_TRUE(
      counts_->Take({kListMailsToAddress, u"a@example.jp", 3, 86400}, kNoon)
          .allowed);
}

TEST_P(SendCountsTest, AnHourWindowForgetsAfterAnHour) {
  const SendLimit two_an_hour{kRegistrationsFromClient, u"192.0.2.7", 2, 3600};
  EXPECT_TRUE(counts_->Take(two_an_hour, kNoon).allowed);
  EXPECT_TRUE(counts_->Take(two_an_hour, kNoon).allowed);
  const Taken refused = counts_->Take(two_an_hour, AddSeconds(kNoon, 10));
  EXPECT_FALSE(refused.allowed);
  EXPECT_EQ(refused.free_at, AddSeconds(kNoon, 3600));
  EXPECT_TRUE(counts_->Take(two_an_hour, AddSeconds(kNoon, 3601)).allowed);
}

TEST_P(SendCountsTest, RefusedAndGivenBackEventsLeaveNoCount) {
  const SendLimit one{kFirstMailsToAddress, u"a@example.jp", 1, 3600};
  const Taken first = counts_->Take(one, kNoon);
  ASSERT_TRUE(first.allowed);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(counts_->Take(one, kNoon).allowed);
  EXPECT_EQ(Rows(), 1);
  counts_->GiveBack(first.id);
  EXPECT_EQ(Rows(), 0);
  EXPECT_TRUE(counts_->Take(one, kNoon).allowed);
}

TEST_P(SendCountsTest, CountsOlderThanADayAreRemoved) {
  for (int i = 0; i < 3; ++i) {
    counts_->Take(ThreeADay(u"k" + std::u16string(1, u'0' + i)), kNoon);
  }
  EXPECT_EQ(Rows(), 3);
  counts_->Take(ThreeADay(u"other"), AddSeconds(kNoon, 86401));
  EXPECT_EQ(Rows(), 1);
}

TEST_P(SendCountsTest, ALimitThatAllowsNothingOrAnOverlongWindowThrows) {
  EXPECT_THROW(counts_->Take({kFirstMailsToAddress, u"a", 0, 60}, kNoon),
               Failure);
  EXPECT_THROW(counts_->Take({kFirstMailsToAddress, u"a", 1, 86401}, kNoon),
               Failure);
}

QLOK_ON_BOTH_ENGINES(SendCountsTest);

}  // namespace
}  // namespace qlok
