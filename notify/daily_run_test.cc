// The daily run over a SQLite file: which jobs reach which registration,
// and when the marks move. (The server test runs it on both engines.)
#include "notify/daily_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>

#include "jobs/job_fingerprint.h"
#include "jobs/schema.h"
#include "notify/daily_mail.h"
#include "platform/failure.h"
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

// A store whose marks fail from the `works`-th + 1 on, as on a full disk;
// everything else goes to the real store.
class MarksFailAfter : public RegistrationStore {
 public:
  MarksFailAfter(RegistrationStore& real, int works)
      : real_(real), works_(works) {}
  Registration Save(const RegistrationInput& input,
                    const DateTime& now) override {
    return real_.Save(input, now);
  }
  std::optional<Registration> FindByToken(std::string_view token) override {
    return real_.FindByToken(token);
  }
  bool StopByToken(std::string_view token, const DateTime& now) override {
    return real_.StopByToken(token, now);
  }
  int Stop(const std::u16string& address, std::optional<int> number,
           const DateTime& now) override {
    return real_.Stop(address, number, now);
  }
  std::vector<Registration> ListByAddress(
      const std::u16string& address) override {
    return real_.ListByAddress(address);
  }
  int CountLookup(const std::u16string& address, const DateTime& now) override {
    return real_.CountLookup(address, now);
  }
  std::vector<Registration> Registrations(const RegistrationFilter& filter,
                                          int64_t after_id,
                                          size_t limit) override {
    return real_.Registrations(filter, after_id, limit);
  }
  bool MoveMark(int64_t id, const DateTime& changed, int64_t mark,
                std::optional<DateTime> mailed) override {
    if (works_-- <= 0) throw Failure("database or disk is full");
    return real_.MoveMark(id, changed, mark, mailed);
  }
  std::optional<int64_t> LowestMark(const RegistrationFilter& filter) override {
    return real_.LowestMark(filter);
  }
  RegistrationCounts Count() override { return real_.Count(); }

 private:
  RegistrationStore& real_;
  int works_;
};

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

  // One run, as q_lok-admin notify makes it: its own connections; with
  // `marks_work`, a store whose marks fail after that many.
  DailyRunSummary Run(DailyRunOptions options = {},
                      std::optional<int> marks_work = std::nullopt) {
    std::unique_ptr<Connection> work = Open();
    std::unique_ptr<RegistrationStore> store = NewSqlRegistrationStore(*work);
    std::optional<MarksFailAfter> failing;
    if (marks_work) failing.emplace(*store, *marks_work);
    std::unique_ptr<JobSweep> sweep = NewJobSweep(*work, Open());
    notes_ = Notes();
    return RunDailyMail(
        failing ? static_cast<RegistrationStore&>(*failing) : *store, *sweep,
        mail_, sleeper_, clock_, SiteConfig::Defaults(),
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

TEST_F(DailyRunTest, TheRunStopsInTimeAndLeavesTheRestForTheNextRun) {
  // Eight registrations, each due a mail. What stops the run, and how many
  // registrations it leaves; those then go with the next run.
  struct Case {
    const char* name;
    std::u16string answer;  // of every relay; empty: accepted
    int give_up_after;
    int64_t time_limit_ms;  // 0: none
    std::optional<int> marks_work;
    int64_t looked_at;
    int64_t left;
  } cases[] = {
      {"silent relays: five in a row", u"Timeout was reached", 5, 0, {}, 5, 3},
      {"unreachable relays: two in a row",
       u"Failed to connect to 127.0.0.1 port 25: Connection refused",
       2,
       0,
       {},
       2,
       6},
      // A relay that answers and refuses reaches a relay: no stop.
      {"refusing relay goes on", u"550 no such user", 5, 0, {}, 8, 0},
      // Each silent mail takes 5 attempts of 20 s on the run's clock.
      {"time limit", u"Timeout was reached", 100, 250000, {}, 3, 5},
      {"a mark that cannot be stored", u"", 5, 0, 2, 3, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    mail_ = RecordingMailSender();
    sleeper_.clock = nullptr;
    Run();
    for (int i = 0; i < 8; ++i) {
      Register(U16("r" + std::to_string(i) + "@example.jp"), "事務");
    }
    AddJob(u"新しい事務", u"事務", 50);
    mail_ = RecordingMailSender();
    mail_.answer = c.answer;
    FakeMonotonicClock monotonic;
    mail_.clock = &monotonic;
    mail_.call_ms = 20000;
    sleeper_.clock = &monotonic;
    DailyRunOptions options;
    options.give_up_after = c.give_up_after;
    if (c.time_limit_ms > 0) {
      options.deadline.emplace(monotonic, monotonic.Milliseconds(),
                               c.time_limit_ms);
    }
    const DailyRunSummary summary = Run(options, c.marks_work);
    EXPECT_EQ(summary.registrations, c.looked_at);
    EXPECT_EQ(summary.left, c.left);
    EXPECT_EQ(summary.stopped.empty(), c.left == 0) << summary.stopped;
    // A mark that failed stops the run at once: one mail too many at most.
    if (c.marks_work) {
      EXPECT_EQ(mail_.Accepted().size(),
                static_cast<size_t>(*c.marks_work + 1));
    }
    // The next run, with working relays and store, serves every one left,
    // and those whose mail went and was marked get nothing again.
    mail_ = RecordingMailSender();
    sleeper_.clock = nullptr;
    const DailyRunSummary next = Run();
    EXPECT_TRUE(next.stopped.empty());
    const int64_t marked =
        c.answer.empty() ? std::min<int64_t>(*c.marks_work, 8) : 0;
    EXPECT_EQ(next.mails, 8 - marked);
  }
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
