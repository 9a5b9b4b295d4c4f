#include "manage/handle_manage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "consent/consent_store.h"
#include "manage/manage_pages.h"
#include "platform/failure.h"
#include "platform/testing/recording_mail_sender.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

const std::string kToken1 = "11111111111111111111111111111111";
const std::string kToken2 = "22222222222222222222222222222222";
const std::string kStoppedToken = "33333333333333333333333333333333";
const std::string kUnknown = "44444444444444444444444444444444";
const DateTime kNow{2026, 12, 9, 10, 30, 0};
// The header lines of every answer.
const std::vector<std::u16string> kPrivate = {u"Referrer-Policy: no-referrer",
                                              u"Cache-Control: no-store"};

// Registrations in memory; every call is logged, and every call fails on
// demand.
class FakeStore : public RegistrationStore {
 public:
  std::vector<Registration> registrations;
  std::map<std::pair<std::u16string, std::string>, int> lookups;
  std::vector<std::string> calls;
  bool fail = false;

  Registration Save(const RegistrationInput&, const DateTime&) override {
    return Unused("Save");
  }
  std::optional<Registration> FindByToken(std::string_view token) override {
    Call("FindByToken");
    for (const Registration& r : registrations) {
      if (r.token == token) return r;
    }
    return std::nullopt;
  }
  bool StopByToken(std::string_view token, const DateTime& now) override {
    Call("StopByToken");
    for (Registration& r : registrations) {
      if (r.token == token && r.active) {
        r.active = false;
        r.stopped = now;
        return true;
      }
    }
    return false;
  }
  int Stop(const std::u16string&, std::optional<int>,
           const DateTime&) override {
    Unused("Stop");
    return 0;
  }
  std::vector<Registration> ListByAddress(
      const std::u16string& address) override {
    Call("ListByAddress");
    std::vector<Registration> out;
    for (const Registration& r : registrations) {
      if (r.address == address) out.push_back(r);
    }
    return out;
  }
  int CountLookup(const std::u16string& address, const DateTime& now) override {
    Call("CountLookup");
    return ++lookups[{address, U8(FormatDate(now))}];
  }
  std::vector<Registration> Registrations(const RegistrationFilter&, int64_t,
                                          size_t) override {
    Unused("Registrations");
    return {};
  }
  bool MoveMark(int64_t, const DateTime&, int64_t,
                std::optional<DateTime>) override {
    Unused("MoveMark");
    return false;
  }
  std::optional<int64_t> LowestMark(const RegistrationFilter&) override {
    Unused("LowestMark");
    return std::nullopt;
  }
  RegistrationCounts Count() override {
    Unused("Count");
    return {};
  }

 private:
  void Call(const std::string& name) {
    calls.push_back(name);
    if (fail) throw Failure("registrations: the database is gone");
  }
  Registration Unused(const std::string& name) {
    throw Failure("the manage page does not call " + name);
  }
};

// Consent rows in memory: only what the manage page uses.
class FakeConsents : public ConsentStore {
 public:
  std::map<int64_t, Consent> rows;

  Consent Record(int64_t, bool, const ConsentRequest&, const DateTime&,
                 std::u16string_view) override {
    throw Failure("the manage page does not record consent");
  }
  std::optional<Consent> Find(int64_t id) override {
    auto found = rows.find(id);
    if (found == rows.end()) return std::nullopt;
    return found->second;
  }
  bool Confirm(int64_t id, const DateTime& now) override {
    Consent& row = rows[id];
    row.registration_id = id;
    if (row.confirmed) return false;
    row.confirmed = now;
    row.confirmed_how = kConfirmedByLink;
    return true;
  }
  int CountHardBounce(int64_t, const DateTime&) override {
    throw Failure("the manage page does not count bounces");
  }
  void NoteStop(int64_t, std::u16string_view) override {
    throw Failure("the manage page does not note stops");
  }
  Expired Expire(const DateTime&, const DateTime&) override {
    throw Failure("the manage page does not expire");
  }
  int64_t AdoptEarlierRegistrations() override {
    throw Failure("the manage page does not adopt");
  }
};

Registration Made(const std::string& token, const std::u16string& address,
                  int number, bool active) {
  Registration r;
  r.address = address;
  r.number = number;
  r.token = token;
  r.active = active;
  r.settings =
      u"_su=ss0\r\naaa=" + address + u"\r\naa6=" + Digits(number) +
      u"\r\naa8=100\r\naab=0\r\naac=事務\r\naad=\r\naae=\r\naaf=\r\naag=\r\n"
      u"aah=\r\naga=0\r\nagb=0\r\nagc=0\r\nage=0\r\nagea=0\r\nagf=0\r\n"
      u"ara=0\r\narb=0\r\narc=0\r\nard=0\r\nari=0\r\narj=0\r\nark=0\r\n"
      u"asa=2\r\nzzz";
  r.created = {2026, 12, 1, 8, 0, 0};
  r.changed = r.created;
  if (!active) r.stopped = DateTime{2026, 12, 5, 8, 0, 0};
  return r;
}

class HandleManageTest : public ::testing::Test {
 protected:
  HandleManageTest() : clock_(kNow) {
    site_ = SiteConfig::Defaults();
    site_.manage_url = u"https://jobs.example.jp/q/q_lok-manage.cgi";
    store_.registrations = {
        Made(kToken1, u"taro@example.jp", 1, true),
        Made(kToken2, u"taro@example.jp", 2, true),
        Made(kStoppedToken, u"hanako@example.jp", 1, false),
    };
    for (size_t i = 0; i < store_.registrations.size(); ++i) {
      store_.registrations[i].id = static_cast<int64_t>(i + 1);
      // The first and the stopped one are confirmed; the second waits.
      if (i != 1)
        consents_.rows[i + 1] = {.registration_id = int64_t(i + 1),
                                 .confirmed = kNow};
    }
  }

  CgiAnswer Ask(const std::string& method, const std::string& query,
                const std::string& body = "", const std::string& type = "") {
    const Deadline deadline(monotonic_, monotonic_.Milliseconds(),
                            site_.request_time_limit * int64_t{1000});
    ManageServices services{clock_,
                            [this]() -> RegistrationStore& {
                              ++opened_;
                              return store_;
                            },
                            mail_,
                            sleeper_,
                            errors_,
                            files_,
                            outbox_,
                            deadline,
                            [this]() -> ConsentStore& { return consents_; }};
    CgiAnswer answer = HandleManageRequest(
        {U16(method), U16(query), U16(type), U16(body)}, site_, services);
    // What follows the page, run as the program's frame runs it once the
    // page has left, while the services still stand.
    mailed_with_page_ = mail_.calls.size();
    if (answer.after_response) answer.after_response();
    return answer;
  }

  CgiAnswer Lookup(const std::string& address) {
    return Ask("POST", "", "aaa=" + address);
  }

  bool Active(const std::string& token) {
    for (const Registration& r : store_.registrations) {
      if (r.token == token) return r.active;
    }
    return false;
  }

  FixedClock clock_;
  SiteConfig site_;
  size_t mailed_with_page_ = 0;  // mails sent before the page had left
  FakeStore store_;
  FakeConsents consents_;
  RecordingMailSender mail_;
  FakeSleeper sleeper_;
  StringErrorLog errors_;
  FakeMonotonicClock monotonic_;
  InMemoryTextFiles files_;
  InMemoryOutbox outbox_;
  int opened_ = 0;
};

TEST_F(HandleManageTest, EachRequestGetsItsPageAndStatus) {
  struct Case {
    const char* what;
    std::string method, query, body;
    int status;
    std::u16string text;
    bool opens_store;
  } cases[] = {
      {"the lookup form", "GET", "", "", 200, u"NAME='aaa'", false},
      {"a registration", "GET", "t=" + kToken1, "", 200, u"ta***@example.jp",
       true},
      {"a stopped registration", "GET", "t=" + kStoppedToken, "", 200,
       u"この登録はすでに抹消されています", true},
      {"an unknown token", "GET", "t=" + kUnknown, "", 404,
       u"見つかりませんでした", true},
      {"an unknown token stopped", "POST", "", "t=" + kUnknown + "&stop=1", 404,
       u"見つかりませんでした", true},
      {"an unknown token, one-click", "POST", "t=" + kUnknown,
       "List-Unsubscribe=One-Click", 404, u"見つかりませんでした", true},
      {"a malformed token", "GET", "t=1234", "", 400, u"形式が正しくありません",
       false},
      {"a malformed token stopped", "POST", "", "t=xyz&stop=1", 400,
       u"形式が正しくありません", false},
      {"a body that is no form", "POST", "", "hello", 400,
       u"読み取れませんでした", false},
      {"a broken escape", "GET", "t=%G1", "", 400, u"読み取れませんでした",
       false},
      {"a text that is no address", "POST", "", "aaa=taro", 200,
       u"メールアドレスを読み取れませんでした", false},
      {"an address too long", "POST", "",
       "aaa=" + std::string(250, 'a') + "@example.jp", 200,
       u"メールアドレスを読み取れませんでした", false},
  };
  for (const Case& c : cases) {
    opened_ = 0;
    const CgiAnswer answer = Ask(c.method, c.query, c.body);
    EXPECT_EQ(answer.status, c.status) << c.what;
    EXPECT_THAT(U8(answer.body), HasSubstr(U8(c.text))) << c.what;
    EXPECT_EQ(opened_ > 0, c.opens_store) << c.what;
    EXPECT_EQ(answer.headers, kPrivate) << c.what;
  }
  // Nothing of that stopped anything or mailed anyone.
  EXPECT_TRUE(Active(kToken1));
  EXPECT_TRUE(Active(kToken2));
  EXPECT_TRUE(mail_.calls.empty());
  EXPECT_THAT(store_.calls, Not(::testing::Contains("StopByToken")));
  EXPECT_THAT(store_.calls, Not(::testing::Contains("CountLookup")));
}

TEST_F(HandleManageTest, OtherMethodsAreNotAllowed) {
  for (const char* method : {"PUT", "DELETE", "OPTIONS", "PATCH"}) {
    const CgiAnswer answer = Ask(method, "t=" + kToken1);
    EXPECT_EQ(answer.status, 405) << method;
    std::vector<std::u16string> headers = kPrivate;
    headers.push_back(u"Allow: GET, HEAD, POST");
    EXPECT_EQ(answer.headers, headers);
  }
  EXPECT_EQ(opened_, 0);
  EXPECT_TRUE(Active(kToken1));
}

TEST_F(HandleManageTest, TheRegistrationPageShowsAndOffersButChangesNothing) {
  for (int i = 0; i < 3; ++i) {
    const CgiAnswer answer = Ask(i == 2 ? "HEAD" : "GET", "t=" + kToken2);
    ASSERT_EQ(answer.status, 200);
    const std::string page = U8(answer.body);
    EXPECT_THAT(page, HasSubstr("【メールアドレス】ta***@example.jp<BR>"));
    EXPECT_THAT(page, Not(HasSubstr("taro@")));
    EXPECT_THAT(page, HasSubstr("【登録番号】2<BR>【配信状況】配信中<BR>"));
    EXPECT_THAT(page, HasSubstr("【職種】職種に「事務」を含む求人<BR>"));
    EXPECT_THAT(page, HasSubstr("<form method=POST action=\"q_lok-manage.cgi\">"
                                "<INPUT TYPE='hidden' NAME='t' value='" +
                                kToken2 +
                                "'><INPUT TYPE='hidden' NAME='stop' "
                                "value='1'><INPUT TYPE=submit"));
    EXPECT_THAT(page, HasSubstr("同じメールアドレスと登録番号"));
  }
  EXPECT_THAT(store_.calls, ::testing::Each("FindByToken"));
  EXPECT_TRUE(Active(kToken2));
}

TEST_F(HandleManageTest, StopsByButtonAndByOneClickAndConfirmsTwice) {
  const std::string multipart =
      "--b\r\nContent-Disposition: form-data; name=\"List-Unsubscribe\"\r\n"
      "\r\nOne-Click\r\n--b--\r\n";
  struct Case {
    const char* what;
    std::string query, body, type;
  } cases[] = {
      {"the button", "", "t=" + kToken1 + "&stop=1", ""},
      {"one-click, URL-encoded", "t=" + kToken1, "List-Unsubscribe=One-Click",
       "application/x-www-form-urlencoded"},
      {"one-click, multipart", "t=" + kToken1, multipart,
       "multipart/form-data; boundary=b"},
  };
  for (const Case& c : cases) {
    store_.registrations[0] = Made(kToken1, u"taro@example.jp", 1, true);
    clock_.Set({2026, 12, 9, 11, 0, 0});
    CgiAnswer answer = Ask("POST", c.query, c.body, c.type);
    EXPECT_EQ(answer.status, 200) << c.what;
    EXPECT_THAT(U8(answer.body), HasSubstr("登録を抹消しました。<BR>"
                                           "【メールアドレス】ta***@example.jp"
                                           "<BR>【登録番号】1<BR>"))
        << c.what;
    EXPECT_FALSE(Active(kToken1)) << c.what;
    EXPECT_EQ(store_.registrations[0].stopped,
              (DateTime{2026, 12, 9, 11, 0, 0}));
    EXPECT_TRUE(Active(kToken2)) << c.what;  // the other one stays

    // Again: a friendly confirmation, the first stop time kept.
    clock_.Set({2026, 12, 10, 9, 0, 0});
    answer = Ask("POST", c.query, c.body, c.type);
    EXPECT_EQ(answer.status, 200) << c.what;
    EXPECT_THAT(U8(answer.body), HasSubstr("この登録はすでに抹消されています"))
        << c.what;
    EXPECT_EQ(store_.registrations[0].stopped,
              (DateTime{2026, 12, 9, 11, 0, 0}));
  }
  EXPECT_TRUE(mail_.calls.empty());
}

TEST_F(HandleManageTest, TheLookupMailsTheListUpToTheDailyLimit) {
  site_.manage_lookups_per_day = 2;
  // The list goes out only after the page, whose time must not tell that
  // the address has registrations.
  const CgiAnswer first = Lookup("taro%40example.jp");
  EXPECT_EQ(mailed_with_page_, 0u);
  ASSERT_EQ(mail_.calls.size(), 1u);
  const RecordingMailSender::Call& mail = mail_.calls[0];
  EXPECT_EQ(mail.recipient, u"taro@example.jp");
  EXPECT_EQ(mail.subject, kLookupMailSubject);
  EXPECT_EQ(mail.options.headers,
            (std::vector<std::pair<std::string, std::string>>{
                {"Auto-Submitted", "auto-generated"}}));
  const std::string body = U8(mail.body);
  // Both registrations of the address with their links, the other
  // address's not.
  EXPECT_THAT(body, HasSubstr("【登録番号】1\r\n【配信状況】配信中\r\n"));
  EXPECT_THAT(body, HasSubstr("【登録番号】2\r\n"));
  for (const std::string& token : {kToken1, kToken2}) {
    EXPECT_THAT(body,
                HasSubstr("https://jobs.example.jp/q/q_lok-manage.cgi?t=" +
                          token + "\r\n"));
  }
  EXPECT_THAT(body, Not(HasSubstr(kStoppedToken)));

  Lookup("taro%40example.jp");
  EXPECT_EQ(mail_.calls.size(), 2u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Lookup("taro%40example.jp").body, first.body);
  }
  EXPECT_EQ(mail_.calls.size(), 2u);  // the limit holds

  // Each address has its own count, and a new day starts afresh.
  Lookup("hanako%40example.jp");
  EXPECT_EQ(mail_.calls.size(), 3u);
  EXPECT_EQ(mail_.calls.back().recipient, u"hanako@example.jp");
  clock_.Set({2026, 12, 10, 0, 0, 1});
  Lookup("taro%40example.jp");
  EXPECT_EQ(mail_.calls.size(), 4u);
  EXPECT_THAT(errors_.str(), IsEmpty());
}

TEST_F(HandleManageTest, TheLookupPageNeverTellsWhetherAnAddressIsRegistered) {
  site_.manage_lookups_per_day = 1;
  const CgiAnswer reference = Lookup("taro%40example.jp");  // mailed
  ASSERT_EQ(mail_.calls.size(), 1u);
  EXPECT_THAT(U8(reference.body), Not(HasSubstr("taro")));

  struct Case {
    const char* what;
    std::string address;
    std::u16string relay_answer;
    bool throws;
  } cases[] = {
      {"no registration", "nobody%40example.jp", u"", false},
      {"over the limit", "taro%40example.jp", u"", false},
      {"every relay refuses", "hanako%40example.jp", u"550 no", false},
      {"the sender fails", "other%40example.jp", u"", true},
  };
  store_.registrations.push_back(
      Made("55555555555555555555555555555555", u"other@example.jp", 1, true));
  for (const Case& c : cases) {
    mail_.answer = c.relay_answer;
    mail_.throws = c.throws;
    const CgiAnswer answer = Lookup(c.address);
    EXPECT_EQ(answer.status, reference.status) << c.what;
    EXPECT_EQ(answer.headers, reference.headers) << c.what;
    EXPECT_EQ(answer.body, reference.body) << c.what;
  }
  // The undelivered and the unsent list wait in the outbox and leave a
  // line each.
  const std::string errors = errors_.str();
  EXPECT_THAT(errors,
              HasSubstr("q_lok: list of registrations to "
                        "hanako@example.jp not delivered, kept in the "
                        "outbox as 000001.mail; last answer: 550 no\n"));
  EXPECT_THAT(errors, HasSubstr("q_lok: list of registrations to "
                                "other@example.jp not delivered, kept in the "
                                "outbox as 000002.mail; last answer: libcurl"));
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 2);
  ASSERT_EQ(outbox_.messages.size(), 2u);
  for (const auto& [name, message] : outbox_.messages) {
    EXPECT_EQ(message.kind, "registration_list") << name;
    EXPECT_EQ(message.mail.subject, kLookupMailSubject) << name;
  }
  EXPECT_EQ(sleeper_.slept, 7000);  // the match mail's five attempts
}

TEST_F(HandleManageTest, ABodyTheFrameRefusedIsABadRequest) {
  // A CONTENT_LENGTH that is no whole number or above 1 MiB: 400, nothing
  // opened or changed, one line on the error stream.
  const Deadline deadline(monotonic_, monotonic_.Milliseconds(),
                          site_.request_time_limit * int64_t{1000});
  ManageServices services{clock_,
                          [this]() -> RegistrationStore& {
                            ++opened_;
                            return store_;
                          },
                          mail_,
                          sleeper_,
                          errors_,
                          files_,
                          outbox_,
                          deadline};
  CgiRequest request{u"POST", u"", u"application/x-www-form-urlencoded", u"",
                     "CONTENT_LENGTH \"12a\" is not a whole number"};
  const CgiAnswer answer = HandleManageRequest(request, site_, services);
  EXPECT_EQ(answer.status, 400);
  EXPECT_THAT(U8(answer.body), ::testing::StartsWith(U8(BadRequestPage())));
  EXPECT_EQ(opened_, 0);
  EXPECT_TRUE(mail_.calls.empty());
  EXPECT_EQ(errors_.str(),
            "q_lok-manage: bad request: CONTENT_LENGTH \"12a\" is not a "
            "whole number\n");
}

TEST_F(HandleManageTest, AFailingDatabaseReachesTheErrorTrap) {
  store_.fail = true;
  for (const std::string& body : std::vector<std::string>{
           "", "t=" + kToken1 + "&stop=1", "aaa=taro%40example.jp"}) {
    EXPECT_THROW(Ask(body.empty() ? "GET" : "POST",
                     body.empty() ? "t=" + kToken1 : "", body),
                 Failure)
        << body;
  }
  EXPECT_TRUE(mail_.calls.empty());
}

}  // namespace
}  // namespace qlok

namespace qlok {
namespace {

TEST_F(HandleManageTest, AWaitingRegistrationIsConfirmedOnlyByItsButton) {
  const std::string confirm_button =
      "<INPUT TYPE='hidden' NAME='t' value='" + kToken2 +
      "'><INPUT TYPE='hidden' NAME='confirm' value='1'><INPUT TYPE=submit "
      "VALUE='配信を確認する'>";
  // What each request shows, in order; only the button's POST confirms.
  const struct {
    const char* what;
    std::string method, query, body;
    int status;
    std::string shown;
    bool offers_button;
    bool confirmed_after;
  } steps[] = {
      {"the link opened", "GET", "t=" + kToken2, "", 200,
       "このご登録はまだ確認されていません", true, false},
      {"a scanner adding fields", "GET", "t=" + kToken2 + "&confirm=1", "", 200,
       "まだ確認されていません", true, false},
      {"a HEAD", "HEAD", "t=" + kToken2, "", 200, "まだ確認されていません",
       true, false},
      {"the button", "POST", "", "t=" + kToken2 + "&confirm=1", 200,
       "ご登録を確認しました", false, true},
      {"the button again", "POST", "", "t=" + kToken2 + "&confirm=1", 200,
       "すでに確認されています", false, true},
      {"the link once confirmed", "GET", "t=" + kToken2, "", 200,
       "【配信状況】配信中", false, true},
  };
  for (const auto& step : steps) {
    const CgiAnswer answer = Ask(step.method, step.query, step.body);
    EXPECT_EQ(answer.status, step.status) << step.what;
    const std::string page = U8(answer.body);
    EXPECT_THAT(page, HasSubstr(step.shown)) << step.what;
    EXPECT_EQ(page.find(confirm_button) != std::string::npos,
              step.offers_button)
        << step.what;
    EXPECT_EQ(consents_.rows[2].confirmed.has_value(), step.confirmed_after)
        << step.what;
  }
  EXPECT_EQ(consents_.rows[2].confirmed, kNow);
  EXPECT_TRUE(Active(kToken2));
}

TEST_F(HandleManageTest, StoppedAndUnknownRegistrationsAreNotConfirmed) {
  consents_.rows.erase(3);
  const struct {
    std::string token;
    int status;
    std::string shown;
  } cases[] = {
      {kStoppedToken, 200, "この登録はすでに抹消されています"},
      {kUnknown, 404, "見つかりませんでした"},
  };
  for (const auto& c : cases) {
    const CgiAnswer answer = Ask("POST", "", "t=" + c.token + "&confirm=1");
    EXPECT_EQ(answer.status, c.status);
    EXPECT_THAT(U8(answer.body), HasSubstr(c.shown));
  }
  EXPECT_EQ(consents_.rows.count(3), 0u);
}

TEST_F(HandleManageTest, EveryPageShowsTheSenderAndTheWayToStop) {
  site_.operator_name = u"株式会社例";
  site_.operator_address = u"東京都千代田区1-1";
  site_.operator_contact = u"03-0000-0000";
  const struct {
    std::string method, query, body;
  } requests[] = {
      {"GET", "", ""},
      {"GET", "t=" + kToken1, ""},
      {"GET", "t=" + kUnknown, ""},
      {"POST", "", "aaa=taro%40example.jp"},
      {"PUT", "", ""},
  };
  for (const auto& r : requests) {
    const std::string page = U8(Ask(r.method, r.query, r.body).body);
    EXPECT_THAT(page, HasSubstr("【配信元】<BR>運営者：株式会社例<BR>"
                                "所在地：東京都千代田区1-1<BR>"
                                "連絡先：03-0000-0000<BR>"))
        << r.method << " " << r.query;
    EXPECT_THAT(page, HasSubstr("ご登録の一覧</a>からいつでもできます"));
  }
}

TEST_F(HandleManageTest, TheListLimitCountsEverySpellingOfAnAddressAsOne) {
  site_.manage_lookups_per_day = 3;
  // Each spelling registered apart, as a mail system takes them all.
  int n = 5;
  for (const char16_t* spelling :
       {u"Taro@example.jp", u"TARO@EXAMPLE.JP", u"taro@Example.Jp",
        u"tArO@example.jp", u"TaRo@ExAmPlE.jP"}) {
    store_.registrations.push_back(
        Made(std::string(32, static_cast<char>('0' + n++)), spelling, 1, true));
  }
  for (const char* spelling :
       {"taro%40example.jp", "Taro%40example.jp", "TARO%40EXAMPLE.JP",
        "taro%40Example.Jp", "tArO%40example.jp", "TaRo%40ExAmPlE.jP"}) {
    Lookup(spelling);
  }
  EXPECT_EQ(mail_.calls.size(), 3u);
  EXPECT_EQ(store_.lookups.size(), 1u);
  EXPECT_EQ(store_.lookups.begin()->second, 6);
}

}  // namespace
}  // namespace qlok
