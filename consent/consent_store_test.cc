// The consent kept for registrations, on SQLite in memory and on the
// throw-away PostgreSQL server of the test fixture "postgres" (skipped when
// it does not run).
#include "consent/consent_store.h"

#include <gtest/gtest.h>

#include "jobs/schema.h"
#include "platform/testing/both_engines.h"
#include "registrations/registration_store.h"

namespace qlok {
namespace {

class ConsentStoreTest : public BothEnginesTest {
 protected:
  void SetUp() override {
    BothEnginesTest::SetUp();
    if (IsSkipped()) return;
    db_->Execute(JobTableSchema(db_->Engine()));
    db_->Execute(RegistrationSchema(db_->Engine()));
    db_->Execute(ConsentSchema(db_->Engine()));
    registrations_ = NewSqlRegistrationStore(*db_);
    consent_ = NewSqlConsentStore(*db_);
  }
  void TearDown() override {
    consent_.reset();
    registrations_.reset();
    BothEnginesTest::TearDown();
  }

  Registration Save(const std::u16string& address, int number,
                    const DateTime& at) {
    RegistrationInput input;
    input.address = address;
    input.number = number;
    input.settings = u"aaa=" + address;
    return registrations_->Save(input, at);
  }

  std::unique_ptr<RegistrationStore> registrations_;
  std::unique_ptr<ConsentStore> consent_;
};

const DateTime kDay1{2026, 12, 1, 9, 0, 0};
const DateTime kDay2{2026, 12, 2, 9, 0, 0};
const DateTime kDay9{2026, 12, 9, 9, 0, 0};
const ConsentRequest kFirst{u"192.0.2.7", u"Mozilla/5.0", u"https://a.test/"};
const ConsentRequest kSecond{u"198.51.100.1", u"curl/8", u""};

TEST_P(ConsentStoreTest, ARequestAgainWhileWaitingKeepsTheClock) {
  const Registration r = Save(u"a@example.jp", 1, kDay1);
  const Consent first = consent_->Record(r.id, true, kFirst, kDay1, u"");
  EXPECT_EQ(first.made, kDay1);
  EXPECT_FALSE(first.confirmed);
  EXPECT_EQ(first.request, kFirst);
  // The same address and number again, still waiting: nothing changes.
  const Consent again = consent_->Record(r.id, false, kSecond, kDay2, u"");
  EXPECT_EQ(again, first);
  EXPECT_EQ(consent_->Find(r.id), first);
}

TEST_P(ConsentStoreTest, ConfirmationHappensOnceAndAFreshRequestStartsAgain) {
  const Registration r = Save(u"a@example.jp", 1, kDay1);
  consent_->Record(r.id, true, kFirst, kDay1, u"");
  EXPECT_TRUE(consent_->Confirm(r.id, kDay2));
  EXPECT_FALSE(consent_->Confirm(r.id, kDay9));
  Consent c = *consent_->Find(r.id);
  EXPECT_EQ(c.confirmed, kDay2);
  EXPECT_EQ(c.confirmed_how, kConfirmedByLink);
  EXPECT_EQ(consent_->CountHardBounce(r.id, kDay2), 1);
  // Stopped and asked for again: a new consent is needed.
  c = consent_->Record(r.id, true, kSecond, kDay9, u"");
  EXPECT_FALSE(c.confirmed);
  EXPECT_EQ(c.made, kDay9);
  EXPECT_EQ(c.request, kSecond);
  EXPECT_EQ(c.hard_bounces, 0);
  // A site that confirms otherwise.
  c = consent_->Record(r.id, true, kSecond, kDay9, kConfirmedBySite);
  EXPECT_EQ(c.confirmed, kDay9);
  EXPECT_EQ(c.confirmed_how, kConfirmedBySite);
  // A registration whose consent was not kept is confirmed all the same.
  const Registration bare = Save(u"b@example.jp", 1, kDay1);
  EXPECT_TRUE(consent_->Confirm(bare.id, kDay9));
  EXPECT_EQ(consent_->Find(bare.id)->confirmed, kDay9);
}

TEST_P(ConsentStoreTest, ExpiryDeletesTheUnconfirmedAndTheLongStopped) {
  const struct {
    const char16_t* address;
    bool confirmed;
    std::optional<DateTime> stopped;
    bool kept;
  } cases[] = {
      {u"waiting-old@example.jp", false, std::nullopt, false},
      {u"confirmed-old@example.jp", true, std::nullopt, true},
      {u"stopped-long-ago@example.jp", true, kDay1, false},
      {u"stopped-lately@example.jp", true, kDay9, true},
      {u"no-row@example.jp", false, std::nullopt, false},
  };
  std::vector<int64_t> ids;
  for (const auto& c : cases) {
    const Registration r = Save(c.address, 1, kDay1);
    if (std::u16string(c.address) != u"no-row@example.jp") {
      consent_->Record(r.id, true, kFirst, kDay1, u"");
    }
    if (c.confirmed) consent_->Confirm(r.id, kDay1);
    if (c.stopped) registrations_->Stop(c.address, std::nullopt, *c.stopped);
    ids.push_back(r.id);
  }
  const Expired expired = consent_->Expire(kDay2, kDay2);
  EXPECT_EQ(expired.unconfirmed, 2);
  EXPECT_EQ(expired.stopped, 1);
  for (size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(consent_->Find(ids[i]).has_value(), cases[i].kept) << i;
    EXPECT_EQ(registrations_->ListByAddress(cases[i].address).size(),
              cases[i].kept ? 1u : 0u);
  }
}

TEST_P(ConsentStoreTest, EarlierRegistrationsAreAdoptedAsConfirmed) {
  const Registration old = Save(u"old@example.jp", 1, kDay1);
  const Registration recorded = Save(u"new@example.jp", 1, kDay2);
  consent_->Record(recorded.id, true, kFirst, kDay2, u"");
  EXPECT_EQ(consent_->AdoptEarlierRegistrations(), 1);
  EXPECT_EQ(consent_->AdoptEarlierRegistrations(), 0);
  const Consent adopted = *consent_->Find(old.id);
  EXPECT_EQ(adopted.confirmed, kDay1);
  EXPECT_EQ(adopted.confirmed_how, kConfirmedEarlier);
  EXPECT_FALSE(consent_->Find(recorded.id)->confirmed);
}

QLOK_ON_BOTH_ENGINES(ConsentStoreTest);

}  // namespace
}  // namespace qlok
