#include "search_page/handle_request.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "consent/consent_store.h"
#include "consent/consent_texts.h"
#include "jobs/schema.h"
#include "limits/send_counts.h"
#include "mail/delivery.h"
#include "mail/outcome.h"
#include "platform/failure.h"
#include "platform/testing/recording_mail_sender.h"
#include "registrations/registration.h"
#include "registrations/registration_store.h"
#include "results/data_access.h"
#include "search/query_builder.h"
#include "search/search_form.h"
#include "search/search_request.h"
#include "search_page/registration_limits.h"
#include "text/unicode.h"

namespace qlok {
namespace {

class AloneProcesses : public ProcessInfo {
 public:
  bool AnotherInstanceRunning() override { return false; }
  int64_t CurrentProcessId() override { return 4242; }
};

// Pauses that pass on the request's clock only.
FakeSleeper PausesOn(FakeMonotonicClock& clock) {
  FakeSleeper sleeper;
  sleeper.clock = &clock;
  return sleeper;
}

// Relays that never answer: each attempt takes all the time it is given
// (at most the 20 s of one attempt) on the request's clock.
RecordingMailSender SilentRelays(FakeMonotonicClock& clock) {
  RecordingMailSender relays;
  relays.clock = &clock;
  relays.call_ms = 20000;
  relays.answer = u"Timeout was reached";
  return relays;
}

// A SQLite file of jobs in a temporary folder; refuses the first
// `refusals` opens.
class FileDatabases : public Databases {
 public:
  std::unique_ptr<Connection> Open(const std::u16string& cs) override {
    if (refusals > 0) {
      --refusals;
      throw Failure("refused");
    }
    return OpenConnection(cs, home, {.sqlite_lock_deadline = lock_deadline});
  }
  std::string home;
  int refusals = 0;
  std::optional<Deadline> lock_deadline;  // none: SQLite's fixed wait
};

constexpr char kSearchBody[] =
    "_su=is1&aaa=&aa6=1&aa8=100&aab=&aac=事務&aad=&aae=&aaf=&aag=&aah=&"
    "aai=0&asa=2&zzz=end";
constexpr char kRegistrationBody[] =
    "_su=is1&aaa=taro@example.jp&aa6=1&aa8=100&aab=&aac=事務&aad=&aae=&aaf=&"
    "aag=&aah=&aai=0&asa=2&zzz=end";

// The site's token key of the tests.
constexpr char kTokenKey[] =
    "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

class HandleRequestTest : public ::testing::Test {
 public:
  void SetUp() override {
    home_ = std::filesystem::temp_directory_path() /
            ("qlok_handler_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(home_);
    std::filesystem::create_directories(home_);
    databases_.home = home_.string();
    files_.files["pw/qevo.txt"] = "-\r\n-\r\nsqlite:jobs.db\r\n-\r\n";
    files_.files["pw/mail.txt"] = "a:1\r\nb:2\r\nc:3\r\n";
    files_.files["pw/token_key"] = std::string(kTokenKey) + "\n";
    files_.files["received/worqlet.txt"] = "";
    auto connection = OpenConnection(u"sqlite:jobs.db", home_.string(),
                                     {.create_missing = true});
    connection->Execute(JobTableSchema(connection->Engine()));
    connection->Execute(RegistrationSchema(connection->Engine()));
    connection->Execute(ConsentSchema(connection->Engine()));
    connection->Execute(SendCountsSchema(connection->Engine()));
  }
  void TearDown() override { std::filesystem::remove_all(home_); }

  void AddJobs(int count, const std::u16string& job_type) {
    auto connection = OpenConnection(u"sqlite:jobs.db", home_.string());
    auto writer = connection->PrepareInsert(
        u"求人", {u"社名", u"職種1", u"rank", u"障専"});
    connection->Execute(u"BEGIN");
    for (int i = 0; i < count; ++i) {
      writer->Insert({Value::Text(u"会社" + Digits(i)), Value::Text(job_type),
                      Value::Integer(i), Value::Integer(0)});
    }
    connection->Execute(u"COMMIT");
  }

  std::u16string Handle(const std::string& body,
                        size_t* escape_growth = nullptr) {
    std::u16string posted = U16(body);
    const Deadline deadline(monotonic_, monotonic_.Milliseconds(),
                            site_.request_time_limit * int64_t{1000});
    RequestServices services{clock_,     settings_, processes_, files_,
                             databases_, mail_,     sleeper_,   site_,
                             deadline,   outbox_,   errors_};
    services.visitor = visitor_;
    services.added_headers = &added_headers_;
    return HandleRequest(posted, services, escape_growth);
  }

  // The lines written to the error stream.
  std::vector<std::string> ErrorLines() const {
    std::vector<std::string> lines;
    std::istringstream in(errors_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // The three lines of the log's records.
  std::vector<std::u16string> LogLines() {
    std::vector<std::u16string> lines =
        files_.ReadLines("received/worqlet.txt", 1000);
    return lines;
  }

  std::filesystem::path home_;
  FixedClock clock_{DateTime{2026, 12, 9, 12, 0, 0}};
  InMemorySettingsStore settings_;
  AloneProcesses processes_;
  InMemoryTextFiles files_;
  FileDatabases databases_;
  FakeMonotonicClock monotonic_;
  RecordingMailSender mail_;
  FakeSleeper sleeper_ = PausesOn(monotonic_);
  SiteConfig site_ = SiteConfig::Defaults();
  InMemoryOutbox outbox_;
  StringErrorLog errors_;
  ConsentRequest visitor_{u"192.0.2.7", u"Mozilla/5.0", u"https://jobs.test/"};
  std::u16string added_headers_;
};

TEST_F(HandleRequestTest, SearchWithHitsPutsTheCountAboveTheForm) {
  AddJobs(3, u"一般事務");
  AddJobs(2, u"営業");
  std::u16string posted = U16(kSearchBody);
  SearchRequest request = ReadSearchRequest(posted);
  std::u16string query = BuildQuery(request);

  std::u16string page = Handle(kSearchBody);
  std::u16string expected_start =
      HitCountMessage(3) + u"<BR>下の方にサンプル（実際の求人）を載せました。";
  EXPECT_EQ(page.substr(0, expected_start.size()), expected_start);
  // "<HR>" after the form, then each sample job begins with its own.
  EXPECT_NE(page.find(RenderSearchForm(request, query) + u"<HR><HR><BR>＝"),
            std::u16string::npos);

  EXPECT_EQ(LogLines(), (std::vector<std::u16string>{
                            u"12:00:00", u"メルアドなし  along=100", query}));
  EXPECT_EQ(settings_.Read(u"MyApp", u"Startup_j", u"jun", u""), u"100");
  EXPECT_TRUE(mail_.calls.empty());
}

TEST_F(HandleRequestTest, SearchWithoutHitsShowsTheNoticeAboveTheForm) {
  AddJobs(2, u"営業");
  std::u16string posted = U16(kSearchBody);
  SearchRequest request = ReadSearchRequest(posted);
  std::u16string form = RenderSearchForm(request, BuildQuery(request));

  EXPECT_EQ(Handle(kSearchBody), NoHitNotice(form));
  EXPECT_EQ(LogLines().size(), 3u);
}

// An address that is not accepted: the search is done, the page says in one
// line above the result that nothing was registered, and the field shows
// what was typed. Nothing is mailed or kept.
TEST_F(HandleRequestTest, RefusedAddressIsSaidAboveTheSearchResult) {
  struct Case {
    const char* name;
    int jobs;  // matching jobs in the table
  } cases[] = {{"with hits", 3}, {"without hits", 0}};
  for (const Case& c : cases) {
    SetUp();
    if (c.jobs > 0) AddJobs(c.jobs, u"一般事務");
    std::string body = kSearchBody;
    body.replace(body.find("aaa="), 4, "aaa=taro.example.jp");
    std::u16string posted = U16(body);
    SearchRequest request = ReadSearchRequest(posted);
    const std::u16string form = RenderSearchForm(request, BuildQuery(request));

    const std::u16string page = Handle(body);
    const std::u16string result =
        c.jobs > 0 ? HitCountMessage(c.jobs) : NoHitNotice(form);
    EXPECT_EQ(page.substr(0, std::u16string(kRefusedAddressNotice).size() +
                                 result.size()),
              kRefusedAddressNotice + result)
        << c.name;
    EXPECT_NE(page.find(form), std::u16string::npos) << c.name;
    EXPECT_NE(form.find(u"value='taro.example.jp'"), std::u16string::npos);
    EXPECT_EQ(page.find(kRefusedAddressNotice, 1), std::u16string::npos);
    EXPECT_TRUE(mail_.calls.empty()) << c.name;
    // Logged as a search.
    EXPECT_EQ(LogLines().at(1).substr(0, 8), u"メルアドなし  ") << c.name;
  }
  // A taken address and an empty field get no such line.
  for (const char* body : {kSearchBody, kRegistrationBody}) {
    EXPECT_EQ(Handle(body).find(kRefusedAddressNotice), std::u16string::npos);
  }
}

// The handler tells the page shell how much the escaping of the form's
// texts added: the foot is chosen on the length before it.
TEST_F(HandleRequestTest, TellsWhatEscapingAdded) {
  struct Case {
    const char* name;
    std::string body;
    int jobs;
  } cases[] = {
      {"search with hits", kSearchBody, 3},
      {"search without hits", kSearchBody, 0},
      {"refused address",
       "_su=is1&aaa=<taro>&aa6=1&aa8=100&aab=&aac=事務&"
       "aad=&aae=&aaf=&aag=&aah=&aai=0&asa=2&zzz=end",
       3},
      {"registration", kRegistrationBody, 3},
  };
  for (const Case& c : cases) {
    SetUp();
    if (c.jobs > 0) AddJobs(c.jobs, u"一般事務");
    std::u16string posted = U16(c.body);
    SearchRequest request = ReadSearchRequest(posted);
    size_t form_growth = 0;
    RenderSearchForm(request, BuildQuery(request), &form_growth);
    size_t growth = 12345;
    Handle(c.body, &growth);
    // The query text always holds quotes; a registration shows no form.
    EXPECT_EQ(growth, request.address.empty() ? form_growth : 0) << c.name;
    EXPECT_GT(form_growth, 0u) << c.name;
  }
}

TEST_F(HandleRequestTest, RegistrationMailsTheRecordAndTheJobs) {
  AddJobs(3, u"一般事務");
  std::u16string page = Handle(kRegistrationBody);
  EXPECT_EQ(page, RegistrationOutcome(3, site_.sender_addresses[0]));
  ASSERT_EQ(mail_.calls.size(), 2u);
  EXPECT_EQ(mail_.calls[0].recipient, u"taro@example.jp");
  EXPECT_EQ(mail_.calls[0].subject, u"求人がみつかりました");
  EXPECT_NE(mail_.calls[0].body.find(u"【求人3】"), std::u16string::npos);
  EXPECT_EQ(mail_.calls[1].recipient, site_.sender_addresses[0]);
  EXPECT_EQ(mail_.calls[1].subject, u"ss0");
  EXPECT_EQ(mail_.calls[1].body.substr(0, 30),
            u"_su=ss0\r\naaa=taro@example.jp\r\n");
  ASSERT_EQ(LogLines().size(), 3u);
  EXPECT_EQ(LogLines()[1], u"taro@example.jp  along=100");
  EXPECT_TRUE(outbox_.messages.empty());
  EXPECT_EQ(errors_.str(), "");
}

// The registrations kept in the database, read back.
std::vector<Registration> Kept(const std::string& home) {
  auto connection = OpenConnection(u"sqlite:jobs.db", home);
  return NewSqlRegistrationStore(*connection, nullptr,
                                 [] { return std::string(kTokenKey); })
      ->Registrations({}, 0, 100);
}

TEST_F(HandleRequestTest, RegistrationIsKeptBeforeItsMailsGoOut) {
  AddJobs(3, u"一般事務");
  struct Case {
    const char* body;
    size_t mails;
    const char16_t* settings_start;
    int daily_maximum;
  } cases[] = {
      {kRegistrationBody, 2, u"_su=ss0\r\naaa=taro@example.jp\r\naa6=1\r\n",
       100},
      // The same address and number again: the conditions are replaced.
      {"_su=is1&aaa=taro@example.jp&aa6=1&aa8=20&aab=&aac=営業&aad=&aae=&"
       "aaf=&aag=&aah=&aai=0&asa=2&zzz=end",
       1, u"_su=ss0\r\naaa=taro@example.jp\r\naa6=1\r\naa8=20\r\n", 20},
  };
  for (const Case& c : cases) {
    mail_.calls.clear();
    Handle(c.body);
    const std::vector<Registration> kept = Kept(home_.string());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(
        kept[0].settings.substr(0, std::u16string(c.settings_start).size()),
        c.settings_start);
    EXPECT_EQ(kept[0].daily_maximum, c.daily_maximum);
    ASSERT_EQ(mail_.calls.size(), c.mails);
    if (c.mails == 2) {
      EXPECT_EQ(mail_.calls[0].options.headers,
                MatchMailHeaders(site_, kept[0].token));
      EXPECT_EQ(kept[0].sent_jobs.size(), 3u);  // the first mail's jobs
    }
  }
  EXPECT_EQ(errors_.str(), "");
}

TEST_F(HandleRequestTest, ARegistrationThatCannotBeKeptIsNeverConfirmed) {
  // The store refuses (no registration tables), or another writer holds the
  // database past the request's lock deadline: the visitor is told that
  // nothing was registered, above the search's own page with the form
  // filled again (the address too); no mail goes out; one line on the
  // error stream.
  struct Case {
    const char* name;
    int jobs;
    bool locked;          // else: no registration tables
    bool no_key = false;  // the site's token key is missing
  } cases[] = {{"no tables, hits", 3, false},
               {"no tables, no hit", 0, false},
               {"locked past the deadline, hits", 3, true},
               {"no token key", 3, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    if (c.jobs > 0) AddJobs(c.jobs, u"一般事務");
    std::unique_ptr<Connection> holder;
    std::unique_ptr<MonotonicClock> real = NewSystemMonotonicClock();
    if (c.no_key) {
      files_.files.erase("pw/token_key");
    } else if (c.locked) {
      databases_.lock_deadline.emplace(*real, real->Milliseconds(), 200);
      holder = OpenConnection(u"sqlite:jobs.db", home_.string());
      holder->Execute(u"BEGIN IMMEDIATE");
    } else {
      OpenConnection(u"sqlite:jobs.db", home_.string())
          ->Execute(u"DROP TABLE registrations");
    }
    errors_.str("");
    mail_.calls.clear();
    const std::u16string page = Handle(kRegistrationBody);
    EXPECT_EQ(page.rfind(RegistrationNotKeptNotice(), 0), 0u) << U8(page);
    EXPECT_EQ(page.find(u"登録を受付ました"), std::u16string::npos);
    EXPECT_NE(page.find(u"NAME='aaa' value='taro@example.jp'"),
              std::u16string::npos)
        << U8(page);
    if (c.jobs > 0) {
      EXPECT_NE(page.find(HitCountMessage(c.jobs)), std::u16string::npos);
      EXPECT_NE(page.find(u"会社2"), std::u16string::npos);  // a sample job
    } else {
      EXPECT_NE(page.find(NoHitNotice(u"")), std::u16string::npos);
    }
    EXPECT_TRUE(mail_.calls.empty());
    EXPECT_TRUE(outbox_.messages.empty());
    const std::string errors = errors_.str();
    EXPECT_EQ(errors.rfind("q_lok: the registration of taro@example.jp was "
                           "not kept: ",
                           0),
              0u)
        << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
    if (holder) holder->Execute(u"ROLLBACK");
    databases_.lock_deadline.reset();
  }
}

TEST_F(HandleRequestTest, RegistrationWithoutHitsMailsOnlyTheRecord) {
  AddJobs(2, u"営業");
  EXPECT_EQ(Handle(kRegistrationBody),
            RegistrationOutcome(0, site_.sender_addresses[0]));
  ASSERT_EQ(mail_.calls.size(), 1u);
  EXPECT_EQ(mail_.calls[0].subject, u"ss0");
}

TEST_F(HandleRequestTest, RefusedMailsWaitInTheOutboxAndGiveTheSamePage) {
  AddJobs(3, u"一般事務");
  mail_.answer = u"550 refused";
  EXPECT_EQ(Handle(kRegistrationBody),
            RegistrationOutcome(3, site_.sender_addresses[0]));
  ASSERT_EQ(mail_.calls.size(), 10u);  // five attempts for each mail
  ASSERT_EQ(outbox_.messages.size(), 2u);
  const OutboxMessage& match = outbox_.messages.begin()->second;
  const OutboxMessage& record = std::next(outbox_.messages.begin())->second;
  EXPECT_EQ(record.kind, "registration_record");
  EXPECT_EQ(record.mail.recipient, site_.sender_addresses[0]);
  EXPECT_EQ(record.mail.body, mail_.calls[9].body);
  EXPECT_EQ(record.answer, u"550 refused");
  EXPECT_EQ(record.kept_at, clock_.Now());
  EXPECT_EQ(match.kind, "match_mail");
  EXPECT_EQ(match.mail.subject, u"求人がみつかりました");
  EXPECT_EQ(match.mail.body, mail_.calls[0].body);
  // No password is kept: the attempts find them again when sent.
  for (const auto& [name, message] : outbox_.messages) {
    EXPECT_EQ(EncodeOutboxMessage(message).find("q2481xr736k"),
              std::string::npos);
    EXPECT_EQ(EncodeOutboxMessage(message).find("a:1"), std::string::npos);
  }
  EXPECT_EQ(ErrorLines(),
            (std::vector<std::string>{
                "q_lok: match mail to taro@example.jp not delivered, kept in "
                "the outbox as 000001.mail; last answer: 550 refused",
                "q_lok: registration record to info@example.jp not "
                "delivered, kept in the outbox as 000002.mail; last answer: "
                "550 refused"}));
}

TEST_F(HandleRequestTest, SilentRelaysEndWithinTheTimeLimit) {
  struct Case {
    int time_limit;          // seconds
    size_t record_attempts;  // made before the time ran out
    size_t match_attempts;
  } cases[] = {
      // 29.5 s for the mails, the match mail's half first: one attempt of
      // 14.75 s each.
      {30, 1, 1},
      {4, 1, 1},
      // 29.75 s each: 20 s, then the rest for attempt 2.
      {60, 2, 2},
      // 59.75 s each: 20 + 20, the 1 s pause, 18.75 s for attempt 3.
      {120, 3, 3},
  };
  for (const Case& c : cases) {
    SetUp();
    AddJobs(3, u"一般事務");
    site_.request_time_limit = c.time_limit;
    mail_ = SilentRelays(monotonic_);
    outbox_.messages.clear();
    errors_.str("");
    const int64_t start = monotonic_.Milliseconds();
    EXPECT_EQ(Handle(kRegistrationBody),
              RegistrationOutcome(3, site_.sender_addresses[0]));
    EXPECT_LE(monotonic_.Milliseconds() - start, c.time_limit * 1000 - 500)
        << c.time_limit;
    size_t record_attempts = 0;
    for (const auto& mail : mail_.calls) {
      EXPECT_GE(mail.options.time_limit_ms, kShortestAttemptMs) << c.time_limit;
      record_attempts += mail.subject == u"ss0";
    }
    EXPECT_EQ(record_attempts, c.record_attempts) << c.time_limit;
    EXPECT_EQ(mail_.calls.size() - record_attempts, c.match_attempts)
        << c.time_limit;
    EXPECT_EQ(outbox_.messages.size(), 2u) << c.time_limit;
    EXPECT_EQ(ErrorLines().size(), 2u) << c.time_limit;
  }
}

TEST_F(HandleRequestTest, MatchMailLoginsComeFromTheirFile) {
  struct Case {
    const char* name;
    std::optional<std::string> file;
    std::u16string first_sender;  // of the match mail's first attempt
    bool kept;
  } cases[] = {
      {"built in", std::nullopt,
       u"求職案内会<info@example.jp>\tq2481xr736k:5d9p1s7tvak", false},
      {"from the file", "m1:p1\r\nm2:p2\r\nm3:p3\r\n",
       u"求職案内会<info@example.jp>\tm1:p1", false},
      // A file that is there but unusable is an error, not the built-in
      // logins: the match mail waits in the outbox and says why.
      {"short file", "m1:p1\r\nm2:p2\r\n", u"", true},
      {"no password", "m1\r\nm2:p2\r\nm3:p3\r\n", u"", true},
  };
  for (const Case& c : cases) {
    SetUp();
    AddJobs(3, u"一般事務");
    mail_ = RecordingMailSender();
    outbox_.messages.clear();
    errors_.str("");
    files_.files.erase("pw/match_mail.txt");
    if (c.file) files_.files["pw/match_mail.txt"] = *c.file;
    Handle(kRegistrationBody);
    if (c.kept) {
      ASSERT_EQ(mail_.calls.size(), 1u) << c.name;  // the record only
      ASSERT_EQ(outbox_.messages.size(), 1u) << c.name;
      EXPECT_EQ(outbox_.messages.begin()->second.kind, "match_mail");
      ASSERT_EQ(ErrorLines().size(), 1u) << c.name;
      EXPECT_NE(ErrorLines()[0].find("pw/match_mail.txt"), std::string::npos)
          << c.name;
    } else {
      ASSERT_EQ(mail_.calls.size(), 2u) << c.name;
      EXPECT_EQ(U8(mail_.calls[0].sender), U8(c.first_sender)) << c.name;
      EXPECT_TRUE(outbox_.messages.empty()) << c.name;
    }
  }
}

TEST_F(HandleRequestTest, MatchMailHoldsAtMostAHundredJobs) {
  struct Case {
    const char* aa8;     // as posted
    const char* record;  // as the registration record shows it
    int jobs;
  } cases[] = {
      {"100", "100", 100}, {"10", "10", 10},      {"1", "1", 1},
      {"", "0", 100},      {"0", "0", 100},       {"-5", "-5", 100},
      {"abc", "0", 100},   {"1000", "1000", 100}, {"1e300", "1E+300", 100},
  };
  for (const Case& c : cases) {
    SetUp();
    AddJobs(150, u"一般事務");
    mail_ = RecordingMailSender();
    std::string body = kRegistrationBody;
    body.replace(body.find("aa8=100"), 7, std::string("aa8=") + c.aa8);
    EXPECT_EQ(Handle(body),
              RegistrationOutcome(c.jobs, site_.sender_addresses[0]))
        << c.aa8;
    ASSERT_EQ(mail_.calls.size(), 2u) << c.aa8;
    const std::u16string& jobs = mail_.calls[0].body;
    EXPECT_NE(jobs.find(u"【求人" + Digits(c.jobs) + u"】"), jobs.npos)
        << c.aa8;
    EXPECT_EQ(jobs.find(u"【求人" + Digits(c.jobs + 1) + u"】"), jobs.npos)
        << c.aa8;
    // The record keeps the value that was posted.
    EXPECT_NE(mail_.calls[1].body.find(u"\r\naa8=" + U16(c.record) + u"\r\n"),
              std::u16string::npos)
        << c.aa8;
  }
}

TEST_F(HandleRequestTest, ManyHitsShowFifteenSampleJobs) {
  AddJobs(40, u"一般事務");
  std::u16string page = Handle(kSearchBody);
  EXPECT_NE(page.find(HitCountMessage(40)), std::u16string::npos);
  EXPECT_NE(page.find(u"【求人15】"), std::u16string::npos);
  EXPECT_EQ(page.find(u"【求人16】"), std::u16string::npos);
  // Highest rank first.
  EXPECT_LT(page.find(u"会社39"), page.find(u"会社38"));
}

TEST_F(HandleRequestTest, FailuresFromTheConnectionStringOnReachTheTrap) {
  struct Case {
    const char* name;
    std::function<void(HandleRequestTest&)> arrange;
    bool fails;
  } cases[] = {
      {"three-line connection file",
       [](HandleRequestTest& t) {
         t.files_.files["pw/qevo.txt"] = "-\r\n-\r\nsqlite:jobs.db\r\n";
       },
       true},
      {"missing connection file",
       [](HandleRequestTest& t) { t.files_.files.erase("pw/qevo.txt"); }, true},
      {"missing log",
       [](HandleRequestTest& t) {
         t.files_.files.erase("received/worqlet.txt");
       },
       true},
      {"database refusing twice",
       [](HandleRequestTest& t) { t.databases_.refusals = 2; }, true},
      {"database refusing once",
       [](HandleRequestTest& t) { t.databases_.refusals = 1; }, false},
      {"missing mail account file",
       [](HandleRequestTest& t) { t.files_.files.erase("pw/mail.txt"); },
       false},
      {"unknown engine",
       [](HandleRequestTest& t) {
         t.files_.files["pw/qevo.txt"] = "-\r\n-\r\nProvider=X;\r\n-\r\n";
       },
       true},
  };
  for (const Case& c : cases) {
    SetUp();
    c.arrange(*this);
    if (c.fails) {
      EXPECT_THROW(Handle(kSearchBody), Failure) << c.name;
    } else {
      EXPECT_NO_THROW(Handle(kSearchBody)) << c.name;
    }
  }
}

}  // namespace
}  // namespace qlok

namespace qlok {
namespace {

std::string RegistrationOf(const std::string& address) {
  return "_su=is1&aaa=" + address +
         "&aa6=1&aa8=100&aab=&aac=事務&aad=&aae=&aaf=&aag=&aah=&aai=0&asa=2&"
         "zzz=end";
}

TEST_F(HandleRequestTest, RegistrationsOverALimitAreRefusedAndMailNothing) {
  AddJobs(3, u"一般事務");
  site_.mails_per_address_per_day = 3;
  site_.per_client_per_hour = 4;
  // Posts in order: the address, the client, and whether it is made.
  const struct {
    const char* address;
    const char16_t* client;
    bool made;
  } posts[] = {
      {"taro@example.jp", u"192.0.2.7", true},
      {"Taro@Example.JP", u"192.0.2.7", true},
      {"TARO@example.jp", u"192.0.2.8", true},
      // The fourth for one address in a day, whatever its spelling.
      {"taro@EXAMPLE.jp", u"192.0.2.7", false},
      {"taro@example.jp", u"198.51.100.1", false},
      // Another address from the first client: its third and fourth.
      {"hanako@example.jp", u"192.0.2.7", true},
      {"jiro@example.jp", u"192.0.2.7", true},
      // Its fifth in the hour.
      {"saburo@example.jp", u"192.0.2.7", false},
      // An IPv6 client by its /64.
      {"a@example.jp", u"2001:db8::1", true},
  };
  for (const auto& post : posts) {
    const size_t mails_before = mail_.calls.size();
    added_headers_.clear();
    errors_.str("");
    visitor_.client = post.client;
    const std::u16string page = Handle(RegistrationOf(post.address));
    if (post.made) {
      EXPECT_EQ(page, RegistrationOutcome(3, site_.sender_addresses[0]))
          << post.address;
      EXPECT_EQ(mail_.calls.size(), mails_before + 2) << post.address;
      EXPECT_EQ(added_headers_, u"");
      continue;
    }
    EXPECT_EQ(mail_.calls.size(), mails_before) << post.address;
    EXPECT_NE(page.find(u"ご登録は行われておらず、メールもお送りしていません"),
              std::u16string::npos);
    EXPECT_EQ(added_headers_.substr(0, 31),
              u"Status: 429 Too Many Requests\r\n");
    EXPECT_NE(added_headers_.find(u"Retry-After: "), std::u16string::npos);
    EXPECT_EQ(ErrorLines().size(), 1u) << errors_.str();
    EXPECT_NE(errors_.str().find("was refused"), std::string::npos);
  }
  // Only the registrations made were kept.
  EXPECT_EQ(Kept(home_.string()).size(), 6u);
}

TEST_F(HandleRequestTest, TheRefusalSaysWhenToTryAgain) {
  const struct {
    DateTime free_at;
    const char16_t* shown;
  } cases[] = {
      {{2026, 12, 10, 9, 5, 0}, u"12月10日 9時05分以降"},
      {{2026, 12, 10, 9, 5, 1}, u"12月10日 9時06分以降"},
      {{2026, 12, 31, 23, 59, 30}, u"1月1日 0時00分以降"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(TooManyRegistrationsPage(c.free_at).find(c.shown),
              std::u16string::npos)
        << U8(c.shown);
  }
  EXPECT_EQ(TooManyRequestsHeaders(3600),
            u"Status: 429 Too Many Requests\r\nRetry-After: 3600\r\n");
}

// The consent rows kept in the database.
std::optional<Consent> ConsentOf(const std::string& home, int64_t id) {
  auto connection = OpenConnection(u"sqlite:jobs.db", home);
  return NewSqlConsentStore(*connection)->Find(id);
}

TEST_F(HandleRequestTest, TheFirstMailCarriesItsLinkAndTheConsentIsKept) {
  AddJobs(3, u"一般事務");
  site_.bounce_address = u"bounces@jobs.test";
  const struct {
    int confirmation;
    bool confirmed;
  } cases[] = {
      {SiteConfig::kConfirmationRequired, false},
      {SiteConfig::kConfirmationNone, true},
  };
  int number = 0;
  for (const auto& c : cases) {
    site_.confirmation = c.confirmation;
    mail_.calls.clear();
    ++number;
    Handle("_su=is1&aaa=taro@example.jp&aa6=" + std::to_string(number) +
           "&aa8=100&aab=&aac=事務&aad=&aae=&aaf=&aag=&aah=&aai=0&asa=2&"
           "zzz=end");
    const Registration kept = Kept(home_.string()).back();
    ASSERT_EQ(mail_.calls.size(), 2u);
    const auto& match = mail_.calls[0];
    const std::u16string paragraph =
        FirstMailParagraph(site_, kept.token, c.confirmed);
    ASSERT_GT(match.body.size(), paragraph.size());
    // The fixed body first, then the paragraph with the link.
    EXPECT_EQ(match.body.substr(match.body.size() - paragraph.size()),
              paragraph);
    EXPECT_EQ(match.body.substr(0, 25),
              u"求人マッチメールの１回目の求人情報メールです。\r\n");
    EXPECT_EQ(match.options.envelope_sender,
              "bounces+" + kept.token + "@jobs.test");
    // The record mail keeps the account's own envelope.
    EXPECT_EQ(mail_.calls[1].options.envelope_sender, "");
    const std::optional<Consent> consent = ConsentOf(home_.string(), kept.id);
    ASSERT_TRUE(consent);
    EXPECT_EQ(consent->confirmed.has_value(), c.confirmed);
    EXPECT_EQ(consent->request, visitor_);
    EXPECT_EQ(consent->made, clock_.Now());
  }
}

TEST_F(HandleRequestTest, RegisteringAgainWhileWaitingKeepsTheClock) {
  AddJobs(3, u"一般事務");
  Handle(kRegistrationBody);
  const Registration first = Kept(home_.string()).back();
  clock_.Set(AddSeconds(clock_.Now(), 3600));
  Handle(kRegistrationBody);
  const std::optional<Consent> consent = ConsentOf(home_.string(), first.id);
  ASSERT_TRUE(consent);
  EXPECT_EQ(consent->made, (DateTime{2026, 12, 9, 12, 0, 0}));
  EXPECT_FALSE(consent->confirmed);
}

}  // namespace
}  // namespace qlok
