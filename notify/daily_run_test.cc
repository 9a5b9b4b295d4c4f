// The daily run over a SQLite file: which jobs reach which registration,
// and when the marks move. (The server test runs it on both engines.)
#include "notify/daily_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "jobs/job_fingerprint.h"
#include "jobs/schema.h"
#include "notify/daily_mail.h"
#include "platform/testing/recording_mail_sender.h"
#include "registrations/registration.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// Collects what the run reports.
class Notes : public DailyRunReport {
 public:
  void Done(const Registration& r, int64_t jobs,
            const std::string& failure) override {
    done.push_back(U8(r.address) + " " + std::to_string(jobs) +
                   (failure.empty() ? "" : " failed"));
  }
  std::vector<std::string> done;
};

std::string Body(const std::string& job_type, int maximum) {
  return "_su=ss0\r\naaa=x\r\naa6=1\r\naa8=" + std::to_string(maximum) +
         "\r\naab=0\r\naac=" + job_type + "\r\nasa=2\r\nzzz";
}

class DailyRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::temp_directory_path() /
            ("qlok_notify_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(home_);
    std::filesystem::create_directories(home_);
    db_ = Open();
    db_->Execute(JobTableSchema("sqlite"));
    db_->Execute(RegistrationSchema("sqlite"));
    store_ = NewSqlRegistrationStore(*db_);
  }
  void TearDown() override {
    store_.reset();
    db_.reset();
    std::filesystem::remove_all(home_);
  }

  std::unique_ptr<Connection> Open() {
    return OpenConnection(u"sqlite:jobs.db", home_.string(),
                          DatabaseOptions{0, 0, true});
  }

  void AddJob(const std::u16string& company, const std::u16string& job_type,
              int rank) {
    db_->PrepareInsert(u"求人", {u"社名", u"職種1", u"rank"})
        ->Insert({Value::Text(company), Value::Text(job_type),
                  Value::Integer(rank)});
  }

  Registration Register(const std::u16string& address,
                        const std::string& job_type, int maximum = 100) {
    RegistrationInput input;
    input.address = address;
    input.settings = U16(Body(job_type, maximum));
    input.daily_maximum = maximum;
    return store_->Save(input, today_);
  }

  // One run, as q_lok-admin notify makes it: its own connections.
  DailyRunSummary Run(DailyRunOptions options = {}) {
    std::unique_ptr<Connection> work = Open();
    std::unique_ptr<RegistrationStore> store = NewSqlRegistrationStore(*work);
    std::unique_ptr<JobSweep> sweep = NewJobSweep(*work, Open());
    notes_ = Notes();
    return RunDailyMail(
        *store, *sweep, mail_, sleeper_, clock_, SiteConfig::Defaults(),
        MailRoute{kMatchMailAttempts, MailAccounts()}, options, notes_);
  }

  // The companies of the last mail, in its order.
  std::vector<std::string> LastMailCompanies() {
    std::vector<std::string> names;
    const std::u16string body = mail_.Accepted().back().body;
    for (size_t at = body.find(u"【事業所名】"); at != std::u16string::npos;
         at = body.find(u"【事業所名】", at + 1)) {
      const size_t end = body.find(u"\r\n", at);
      names.push_back(U8(body.substr(at + 6, end - at - 6)));
    }
    return names;
  }

  std::filesystem::path home_;
  std::unique_ptr<Connection> db_;
  std::unique_ptr<RegistrationStore> store_;
  RecordingMailSender mail_;
  FakeSleeper sleeper_;
  DateTime today_{2026, 12, 9, 6, 0, 0};
  FixedClock clock_{today_};
  Notes notes_;
};

TEST_F(DailyRunTest, EachNewJobReachesARegistrationOnce) {
  AddJob(u"前からの事務", u"事務", 90);
  AddJob(u"前からの営業", u"営業", 80);
  Run();  // numbers the jobs there are
  const Registration taro = Register(u"taro@example.jp", "事務");
  AddJob(u"新しい事務B", u"一般事務", 70);
  AddJob(u"新しい事務A", u"経理事務", 95);
  AddJob(u"新しい営業", u"営業", 99);

  DailyRunSummary summary = Run();
  EXPECT_EQ(summary.registrations, 1);
  EXPECT_EQ(summary.mails, 1);
  EXPECT_EQ(summary.jobs, 2);
  EXPECT_EQ(summary.failures, 0);
  ASSERT_EQ(mail_.Accepted().size(), 1u);
  EXPECT_EQ(mail_.Accepted()[0].recipient, u"taro@example.jp");
  EXPECT_EQ(mail_.Accepted()[0].subject, kDailyMailSubject);
  EXPECT_EQ(mail_.Accepted()[0].options.headers,
            MatchMailHeaders(SiteConfig::Defaults(), taro.token));
  EXPECT_EQ(LastMailCompanies(),
            (std::vector<std::string>{"新しい事務A", "新しい事務B"}));
  EXPECT_NE(mail_.Accepted()[0].body.find(u"新しい求人を2件"),
            std::u16string::npos);

  // Again: nothing new. The same jobs reloaded: nothing new either.
  EXPECT_EQ(Run().mails, 0);
  db_->Execute(u"DELETE FROM 求人");
  AddJob(u"新しい事務A", u"経理事務", 95);
  AddJob(u"前からの事務", u"事務", 90);
  AddJob(u"新しい事務B", u"一般事務", 40);  // rank alone changed
  EXPECT_EQ(Run().mails, 0);
  AddJob(u"もっと新しい事務", u"事務", 10);
  EXPECT_EQ(Run().jobs, 1);
  EXPECT_EQ(LastMailCompanies(), std::vector<std::string>{"もっと新しい事務"});
  EXPECT_EQ(mail_.Accepted().size(), 2u);
}

TEST_F(DailyRunTest, TheSweepReadsEveryJobOnceAcrossItsBatches) {
  db_->Execute(u"BEGIN");
  auto writer = db_->PrepareInsert(u"求人", {u"社名", u"職種1", u"rank"});
  for (int i = 0; i < 4100; ++i) {
    writer->Insert({Value::Text(u"既存" + Digits(i)), Value::Text(u"事務"),
                    Value::Integer(i % 90)});
  }
  writer.reset();
  db_->Execute(u"COMMIT");
  EXPECT_EQ(Run().sweep.new_jobs, 4100);
  Register(u"taro@example.jp", "事務");
  AddJob(u"新1", u"事務", 95);
  AddJob(u"新2", u"事務", 94);
  const DailyRunSummary summary = Run();
  EXPECT_EQ(summary.sweep.jobs, 4102);
  EXPECT_EQ(summary.sweep.new_jobs, 2);
  EXPECT_EQ(LastMailCompanies(), (std::vector<std::string>{"新1", "新2"}));
}

TEST_F(DailyRunTest, AGivenUpMailGoesWithTheNextRun) {
  Run();
  Register(u"taro@example.jp", "事務");
  AddJob(u"一件目", u"事務", 50);
  mail_.answer = u"451 try later";
  DailyRunSummary summary = Run();
  EXPECT_EQ(summary.failures, 1);
  EXPECT_EQ(summary.mails, 0);
  EXPECT_EQ(notes_.done, std::vector<std::string>{"taro@example.jp 1 failed"});
  mail_.answer = u"";
  AddJob(u"二件目", u"事務", 60);
  summary = Run();
  EXPECT_EQ(summary.failures, 0);
  EXPECT_EQ(LastMailCompanies(),
            (std::vector<std::string>{"二件目", "一件目"}));
}

TEST_F(DailyRunTest, AJobIsForgottenOnlyLongAfterItWentAndNoSerialRepeats) {
  const auto day = [&](int n) {
    clock_.Set(AddSeconds(today_, int64_t{n} * 24 * 60 * 60));
  };
  AddJob(u"長く載る事務", u"事務", 50);
  Run();
  Register(u"taro@example.jp", "事務");
  // Listed for 70 days, missing from one import, back the next day: it was
  // seen all along, so it is not new.
  day(70);
  db_->Execute(u"DELETE FROM 求人");
  EXPECT_EQ(Run().mails, 0);
  day(71);
  AddJob(u"長く載る事務", u"事務", 50);
  EXPECT_EQ(Run().mails, 0);

  // The newest job is mailed, then leaves the table for good. Forgotten
  // after 60 days, it must not hand its serial to the next new job, which
  // the registration's mark already covers.
  AddJob(u"一番新しい事務", u"事務", 60);
  EXPECT_EQ(Run().jobs, 1);
  db_->Execute(u"DELETE FROM 求人 WHERE 社名 = '一番新しい事務'");
  day(72);
  Run();
  day(140);
  Run();
  AddJob(u"その後の事務", u"事務", 70);
  EXPECT_EQ(Run().jobs, 1);
  EXPECT_EQ(LastMailCompanies(), std::vector<std::string>{"その後の事務"});

  // A job gone for more than 60 days is forgotten: back again, it is new.
  db_->Execute(u"DELETE FROM 求人 WHERE 社名 = '長く載る事務'");
  day(141);
  Run();
  day(202);
  Run();
  AddJob(u"長く載る事務", u"事務", 50);
  EXPECT_EQ(Run().jobs, 1);
  EXPECT_EQ(LastMailCompanies(), std::vector<std::string>{"長く載る事務"});
}

TEST_F(DailyRunTest, ARegistrationStoppedDuringTheRunGetsNoMail) {
  Run();
  Register(u"first@example.jp", "事務");
  const Registration later = Register(u"later@example.jp", "事務");
  AddJob(u"新しい事務", u"事務", 50);
  // The visitor stops the later registration while the run mails the
  // first, after the run has read both.
  mail_.on_accept = [&] { store_->StopByToken(later.token, today_); };
  const DailyRunSummary summary = Run();
  EXPECT_EQ(summary.mails, 1);
  EXPECT_EQ(summary.failures, 0);
  ASSERT_EQ(mail_.Accepted().size(), 1u);
  EXPECT_EQ(mail_.Accepted()[0].recipient, u"first@example.jp");
}

TEST_F(DailyRunTest, TheDailyMaximumStoppedAndOnlyAndDryRuns) {
  Run();
  Register(u"one@example.jp", "事務", 1);
  Register(u"all@example.jp", "事務");
  Register(u"stopped@example.jp", "事務");
  store_->Stop(u"stopped@example.jp", std::nullopt, today_);
  for (int i = 0; i < 3; ++i) AddJob(u"事務" + Digits(i), u"事務", 10 + i);

  DailyRunSummary dry = Run({true, u""});
  EXPECT_EQ(dry.mails, 2);
  EXPECT_EQ(dry.jobs, 4);
  EXPECT_TRUE(mail_.Accepted().empty());
  EXPECT_EQ(notes_.done,
            (std::vector<std::string>{"one@example.jp 1", "all@example.jp 3"}));
  // A dry run changes nothing: the real run finds the same.
  DailyRunSummary only = Run({false, u"one@example.jp"});
  EXPECT_EQ(only.registrations, 1);
  EXPECT_EQ(LastMailCompanies(), std::vector<std::string>{"事務2"});
  DailyRunSummary rest = Run();
  EXPECT_EQ(rest.mails, 1);
  EXPECT_EQ(mail_.Accepted().back().recipient, u"all@example.jp");
  EXPECT_EQ(LastMailCompanies(),
            (std::vector<std::string>{"事務2", "事務1", "事務0"}));
}

TEST_F(DailyRunTest, TheFirstMailsJobsAreNotSentAgain) {
  Run();
  AddJob(u"初回に載った", u"事務", 50);
  AddJob(u"初回に漏れた", u"事務", 40);
  // Registered after an import the daily run has not seen yet; the first
  // mail carried one of the jobs.
  RegistrationInput input;
  input.address = u"taro@example.jp";
  input.settings = U16(Body("事務", 100));
  input.sent_jobs = {
      JobFingerprint(*db_->Open(u"SELECT * FROM 求人 WHERE rank = 50", 1))};
  store_->Save(input, today_);
  Run();
  EXPECT_EQ(LastMailCompanies(), std::vector<std::string>{"初回に漏れた"});
}

}  // namespace
}  // namespace qlok

namespace qlok {
namespace {

TEST_F(DailyRunTest, OnlyRegistrationsThatMayBeMailedAreMailed) {
  Run();
  const Registration confirmed = Register(u"yes@example.jp", "事務");
  const Registration waiting = Register(u"wait@example.jp", "事務");
  AddJob(u"新しい事務", u"事務", 90);
  DailyRunOptions options;
  options.may_mail = [&](const Registration& r) {
    return r.id == confirmed.id;
  };
  const DailyRunSummary summary = Run(options);
  EXPECT_EQ(summary.registrations, 1);
  EXPECT_EQ(summary.mails, 1);
  ASSERT_EQ(mail_.Accepted().size(), 1u);
  EXPECT_EQ(mail_.Accepted()[0].recipient, u"yes@example.jp");
  // Once it may be mailed, the waiting one gets the jobs since it was made.
  options.may_mail = nullptr;
  EXPECT_EQ(Run(options).mails, 1);
  EXPECT_EQ(mail_.Accepted().back().recipient, u"wait@example.jp");
  EXPECT_EQ(LastMailCompanies(), (std::vector<std::string>{"新しい事務"}));
}

TEST_F(DailyRunTest, TheDailyMailNamesItsSenderAndItsBounceAddress) {
  Run();
  const Registration taro = Register(u"taro@example.jp", "事務");
  AddJob(u"新しい事務", u"事務", 90);
  SiteConfig site = SiteConfig::Defaults();
  site.bounce_address = u"bounces@jobs.test";
  site.operator_name = u"株式会社例";
  std::unique_ptr<Connection> work = Open();
  std::unique_ptr<RegistrationStore> store = NewSqlRegistrationStore(*work);
  std::unique_ptr<JobSweep> sweep = NewJobSweep(*work, Open());
  RunDailyMail(*store, *sweep, mail_, sleeper_, clock_, site,
               MailRoute{kMatchMailAttempts, MailAccounts()}, {}, notes_);
  ASSERT_EQ(mail_.Accepted().size(), 1u);
  EXPECT_EQ(mail_.Accepted()[0].options.envelope_sender,
            "bounces+" + taro.token + "@jobs.test");
  EXPECT_NE(
      mail_.Accepted()[0].body.find(u"【配信元】\r\n運営者：株式会社例\r\n"),
      std::u16string::npos);
}

}  // namespace
}  // namespace qlok
