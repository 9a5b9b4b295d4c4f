// Bounces acting on registrations, on SQLite in memory and on the
// throw-away PostgreSQL server of the test fixture "postgres" (skipped when
// it does not run).
#include "bounces/hear_bounce.h"

#include <gtest/gtest.h>

#include "jobs/schema.h"
#include "platform/testing/both_engines.h"

namespace qlok {
namespace {

class HearBounceTest : public BothEnginesTest {
 protected:
  void SetUp() override {
    BothEnginesTest::SetUp();
    if (IsSkipped()) return;
    db_->Execute(JobTableSchema(db_->Engine()));
    db_->Execute(RegistrationSchema(db_->Engine()));
    db_->Execute(ConsentSchema(db_->Engine()));
    registrations_ = NewSqlRegistrationStore(*db_);
    consents_ = NewSqlConsentStore(*db_);
    RegistrationInput input;
    input.address = u"nobody@example.jp";
    input.settings = u"aaa=nobody@example.jp";
    taro_ = registrations_->Save(input, kNow);
    consents_->Record(taro_.id, true, {}, kNow, kConfirmedBySite);
    site_.bounces_to_stop = 3;
  }
  void TearDown() override {
    consents_.reset();
    registrations_.reset();
    BothEnginesTest::TearDown();
  }

  BounceReading Reading(BounceReading::Kind kind, const std::string& token) {
    BounceReading reading;
    reading.kind = kind;
    reading.token = token;
    reading.status = kind == BounceReading::kHard ? "5.1.1" : "4.2.2";
    reading.what = "status " + reading.status + " for nobody@example.jp";
    return reading;
  }

  static constexpr DateTime kNow{2026, 12, 10, 7, 0, 0};
  std::unique_ptr<RegistrationStore> registrations_;
  std::unique_ptr<ConsentStore> consents_;
  SiteConfig site_ = SiteConfig::Defaults();
  Registration taro_;
};

TEST_P(HearBounceTest, ThreeHardBouncesStopTheRegistration) {
  // Messages in order, and what each leaves.
  const struct {
    BounceReading::Kind kind;
    bool own_token;
    bool counted;
    bool stopped;
    int hard_bounces_after;
    const char* line_start;
  } steps[] = {
      {BounceReading::kNotABounce, true, false, false, 0, "not a bounce"},
      {BounceReading::kMalformed, true, false, false, 0, "not a readable"},
      {BounceReading::kSoft, true, false, false, 0, "a soft bounce"},
      {BounceReading::kNoFailure, true, false, false, 0, "a delivery"},
      {BounceReading::kHard, false, false, false, 0, "a hard bounce"},
      {BounceReading::kHard, true, true, false, 1, "hard bounce 1 of 3"},
      {BounceReading::kHard, true, true, false, 2, "hard bounce 2 of 3"},
      {BounceReading::kHard, true, true, true, 3, "hard bounce 3 of 3"},
      // Stopped already: counted, not stopped again.
      {BounceReading::kHard, true, true, false, 4, "hard bounce 4 of 3"},
  };
  for (const auto& step : steps) {
    const BounceOutcome outcome = HearBounce(
        Reading(step.kind, step.own_token ? taro_.token : std::string(32, 'f')),
        *registrations_, *consents_, site_, kNow);
    EXPECT_EQ(outcome.counted, step.counted) << outcome.line;
    EXPECT_EQ(outcome.stopped, step.stopped) << outcome.line;
    EXPECT_EQ(outcome.line.rfind(step.line_start, 0), 0u) << outcome.line;
    EXPECT_EQ(consents_->Find(taro_.id)->hard_bounces, step.hard_bounces_after);
  }
  const Registration stopped = *registrations_->FindByToken(taro_.token);
  EXPECT_FALSE(stopped.active);
  EXPECT_EQ(stopped.stopped, kNow);
  EXPECT_EQ(consents_->Find(taro_.id)->stop_reason, kStoppedForBounces);
}

QLOK_ON_BOTH_ENGINES(HearBounceTest);

}  // namespace
}  // namespace qlok
