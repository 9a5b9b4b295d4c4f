// The match mail's body, the delivery of both mails along their attempt
// tables, and the registration outcome.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "mail/delivery.h"
#include "mail/match_mail.h"
#include "mail/outcome.h"
#include "platform/testing/recording_mail_sender.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

SiteConfig TestSite() {
  SiteConfig site = SiteConfig::Defaults();
  site.top_url = u"https://jobs.test/";
  site.first_relay = u"one.test";
  site.second_relay = u"two.test";
  site.sender_addresses = {u"s1@jobs.test", u"s2@jobs.test", u"s3@jobs.test"};
  return site;
}

const std::u16string kRule(32, u'━');

TEST(ComposeMatchMailTest, HeadJobTextFoot) {
  std::u16string job = u"\r\n【求人】事務\r\nhttps://maps.test/m/m.cgi?6E2F";
  std::u16string body = ComposeMatchMail(job, TestSite());
  std::u16string head =
      u"求人マッチメールの１回目の求人情報メールです。\r\n"
      u"１回目は期間を遡るので量が多くなる場合があります。\r\n"
      u"１回目は古い求人も含まれており、求人が締め切られている可能性もより高"
      u"くなります。\r\n"
      u"登録内容の変更・抹消は下記↓からできます\uFF61 \r\n"
      u"https://jobs.test/\r\n";
  std::u16string foot =
      u"\r\n\r\n" + kRule +
      u"\r\n「求人って分からない。どれに応募すればいいの？」\r\n"
      u"そんな疑問にこたえます。\r\n"
      u"求人マッチメールは求人のお勧め度を１００点満点で点数化しました。\r\n" +
      kRule + u"\r\n\r\n\r\n\r\n";
  EXPECT_EQ(U8(body), U8(head + job + foot));
  // A blank line between the head and the first job.
  EXPECT_NE(body.find(u"https://jobs.test/\r\n\r\n【求人】"), body.npos);
}

// The shared recording sender, refusing every call unless told otherwise.
struct FakeSender : RecordingMailSender {
  FakeSender() { answer = u"535 refused"; }
};

const MailAccounts kAccounts = {u"site1:pw1", u"site2:pw2", u"site3:pw3"};

TEST(DeliveryTest, FirstAttemptAcceptedMakesOneCallAndNoPause) {
  struct Case {
    bool match_mail;
  } cases[] = {{true}, {false}};
  for (const Case& c : cases) {
    FakeSender sender;
    sender.answer = u"";
    FakeSleeper sleeper;
    if (c.match_mail) {
      SendMatchMail(sender, sleeper, TestSite(), u"v@visitor.test", u"body");
    } else {
      SendRegistrationRecord(sender, sleeper, TestSite(), u"aaa=1\r\n",
                             kAccounts);
    }
    EXPECT_EQ(sender.calls.size(), 1u) << c.match_mail;
    EXPECT_THAT(sleeper.pauses, IsEmpty()) << c.match_mail;
  }
}

TEST(DeliveryTest, MatchMailRefusedEverywhere) {
  FakeSender sender;
  FakeSleeper sleeper;
  SendMatchMail(sender, sleeper, TestSite(), u"v@visitor.test", u"the body");
  ASSERT_EQ(sender.calls.size(), 5u);
  EXPECT_THAT(sleeper.pauses, ElementsAre(1000, 5000, 1000));
  const std::u16string expected[5][2] = {
      {u"one.test:587", u"求職案内会<s1@jobs.test>\tq2481xr736k:5d9p1s7tvak"},
      {u"two.test:587",
       u"求職案内会<s2@jobs.test>\tpelunadorviat:4172mxq\tLOGIN"},
      {u"two.test:587",
       u"求職案内会<s3@jobs.test>\tpelunadorviatt:4172mxq\tLOGIN"},
      {u"one.test:587", u"求職案内会<s1@jobs.test>\tq2481xr736k:5d9p1s7tvak"},
      {u"two.test:587",
       u"求職案内会<s3@jobs.test>\tpelunadorviatt:4172mxq\tLOGIN"},
  };
  for (int i = 0; i < 5; ++i) {
    const RecordingMailSender::Call& call = sender.calls[i];
    EXPECT_EQ(U8(call.server), U8(expected[i][0])) << i;
    EXPECT_EQ(U8(call.sender), U8(expected[i][1])) << i;
    EXPECT_EQ(call.recipient, u"v@visitor.test") << i;
    EXPECT_EQ(call.subject, u"求人がみつかりました") << i;
    EXPECT_EQ(call.body, u"the body") << i;
    EXPECT_EQ(call.attachments, u"") << i;
  }
}

TEST(DeliveryTest, RegistrationRecordRefusedEverywhere) {
  FakeSender sender;
  FakeSleeper sleeper;
  SiteConfig site = TestSite();
  site.submission_port = 2587;  // the ports come from site.conf
  site.relay_port = 2525;
  SendRegistrationRecord(sender, sleeper, site, u"aaa=1\r\nzzz=x\r\n",
                         kAccounts);
  ASSERT_EQ(sender.calls.size(), 5u);
  EXPECT_THAT(sleeper.pauses, ElementsAre(1000, 5000, 1000));
  const std::u16string expected[5][2] = {
      {u"one.test:2587", u"求職案内会<s1@jobs.test>\tsite1:pw1"},
      {u"two.test:2525", u"求職案内会<s2@jobs.test>\tsite2:pw2"},
      {u"two.test:2525", u"求職案内会<s3@jobs.test>\tsite3:pw3"},
      {u"one.test:2587", u"求職案内会<s1@jobs.test>\tsite1:pw1"},
      {u"two.test:2525", u"求職案内会<s2@jobs.test>\tsite2:pw2"},
  };
  for (int i = 0; i < 5; ++i) {
    const RecordingMailSender::Call& call = sender.calls[i];
    EXPECT_EQ(U8(call.server), U8(expected[i][0])) << i;
    EXPECT_EQ(U8(call.sender), U8(expected[i][1])) << i;
    EXPECT_EQ(call.recipient, u"s1@jobs.test") << i;
    EXPECT_EQ(call.subject, u"ss0") << i;
    EXPECT_EQ(call.body, u"aaa=1\r\nzzz=x\r\n") << i;
    EXPECT_EQ(call.attachments, u"") << i;
  }
}

TEST(DeliveryTest, StopsAtTheFirstAcceptedAttempt) {
  struct Case {
    int refused;  // attempts refused before one is accepted
    std::vector<int> pauses;
  } cases[] = {
      {1, {}},
      {2, {1000}},
      {3, {1000, 5000}},
      {4, {1000, 5000, 1000}},
  };
  for (const Case& c : cases) {
    FakeSender sender;
    sender.answers.assign(c.refused, u"421 busy");
    sender.answer = u"";
    FakeSleeper sleeper;
    SendMatchMail(sender, sleeper, TestSite(), u"v@visitor.test", u"b");
    EXPECT_EQ(sender.calls.size(), static_cast<size_t>(c.refused + 1));
    EXPECT_EQ(sleeper.pauses, c.pauses) << c.refused;
  }
}

TEST(DeliveryTest, AnswersWithTheLastAttemptAndPassesTheHeadersOn) {
  struct Case {
    std::deque<std::u16string> results;
    std::u16string last;
    std::u16string answer;
    size_t calls;
  } cases[] = {
      {{}, u"", u"", 1},
      {{u"421 busy", u"450 later"}, u"", u"", 3},
      {{u"421 busy", u"450 later", u"451", u"452"}, u"554 no", u"554 no", 5},
  };
  for (const Case& c : cases) {
    FakeSender sender;
    sender.answers = c.results;
    sender.answer = c.last;
    FakeSleeper sleeper;
    const Mail mail{u"v@visitor.test",
                    u"件名",
                    u"本文",
                    {{"Auto-Submitted", "auto-generated"}}};
    EXPECT_EQ(DeliverMail(kMatchMailAttempts, sender, sleeper, TestSite(),
                          MailAccounts(), mail),
              c.answer);
    ASSERT_EQ(sender.calls.size(), c.calls);
    for (const RecordingMailSender::Call& call : sender.calls) {
      EXPECT_EQ(call.subject, u"件名");
      EXPECT_EQ(call.options.headers, mail.headers);
    }
  }
}

TEST(DeliveryTest, AttemptsAndPausesStayWithinTheDeadline) {
  struct Case {
    const char* name;
    int64_t budget_ms;
    long call_ms;              // how long each refused attempt takes
    std::vector<long> limits;  // the time limit of each attempt made
    std::vector<int> pauses;
    std::u16string answer;
    int overrun_ms = 0;
  } cases[] = {
      {"all five fit",
       60000,
       100,
       {60000, 59900, 58800, 53700, 52600},
       {1000, 5000, 1000},
       u"535 refused"},
      {"no time at all",
       999,
       100,
       {},
       {},
       u"the request's time limit left no time for attempt 1"},
      {"silent relay takes all",
       30000,
       30000,
       {30000},
       {},
       u"535 refused (the request's time limit left no time for attempt 2)"},
      // 6 s left before attempt 4: its 5 s pause leaves 1 s, the least an
      // attempt is given.
      {"pause that leaves just enough",
       16000,
       3000,
       {16000, 13000, 9000, 1000},
       {1000, 5000},
       u"535 refused (the request's time limit left no time for attempt 5)"},
      // 5.5 s left: the 5 s pause would leave 0.5 s; it is not taken.
      {"pause that leaves too little",
       15500,
       3000,
       {15500, 12500, 8500},
       {1000},
       u"535 refused (the request's time limit left no time for attempt 4)"},
      // A loaded machine: the 1 s pause before attempt 3 takes 2.5 s and
      // leaves 0.3 s; the attempt is not made (a limit of 0 would be none).
      {"pause that overruns",
       3000,
       100,
       {3000, 2900},
       {1000},
       u"535 refused (the request's time limit left no time for attempt 3)",
       1500},
  };
  for (const Case& c : cases) {
    FakeMonotonicClock clock;
    FakeSender sender;
    sender.clock = &clock;
    sender.call_ms = c.call_ms;
    FakeSleeper sleeper;
    sleeper.clock = &clock;
    sleeper.overrun_ms = c.overrun_ms;
    const int64_t start = clock.Milliseconds();
    const Deadline deadline(clock, start, c.budget_ms);
    EXPECT_EQ(
        U8(DeliverMail(kMatchMailAttempts, sender, sleeper, TestSite(),
                       MailAccounts(), Mail{u"v@visitor.test", u"s", u"b", {}},
                       &deadline)),
        U8(c.answer))
        << c.name;
    std::vector<long> limits;
    for (const RecordingMailSender::Call& call : sender.calls) {
      limits.push_back(call.options.time_limit_ms);
    }
    EXPECT_EQ(limits, c.limits) << c.name;
    EXPECT_EQ(sleeper.pauses, c.pauses) << c.name;
    EXPECT_LE(clock.Milliseconds() - start, c.budget_ms + c.overrun_ms)
        << c.name;
  }
}

TEST(DeliveryTest, WithoutADeadlineAttemptsKeepTheSendersLimits) {
  FakeSender sender;
  FakeSleeper sleeper;
  SendMatchMail(sender, sleeper, TestSite(), u"v@visitor.test", u"b");
  ASSERT_EQ(sender.calls.size(), 5u);
  for (const RecordingMailSender::Call& call : sender.calls) {
    EXPECT_EQ(call.options.time_limit_ms, 0);
  }
}

TEST(DeliveryTest, EmptyAccountLinesArePassedOn) {
  FakeSender sender;
  FakeSleeper sleeper;
  SendRegistrationRecord(sender, sleeper, TestSite(), u"r", MailAccounts());
  ASSERT_EQ(sender.calls.size(), 5u);
  EXPECT_EQ(U8(sender.calls[1].sender), U8(u"求職案内会<s2@jobs.test>\t"));
}

TEST(RegistrationOutcomeTest, Texts) {
  const std::u16string note =
      u"<HR>スパム対策でメールが届かない場合があります。<BR>"
      u"こちらからのメールは次のメールアドレスで届きます。<BR>"
      u"許可アドレス・許可ドメインにご指定ください。<BR>s1@jobs.test<HR>"
      u"登録変更・登録抹消はトップページよりできます。<BR>"
      u"「お気に入り」や「ブックマーク」などへの登録をお勧めします。";
  const std::u16string sent =
      u"件分送信しました。<BR>"
      u"１回目は期間を遡るので古い求人も含まれており、求人が締め切られている"
      u"可能性もより高くなります。<BR>"
      u"これから毎日求人をチェックし求人情報が見つかれば通知いたします。<BR>"
      u"もし５分以内に初回のメールが届いていないなら↓";
  const std::u16string head =
      u"登録を受付ました<BR>過去約２週間の情報から求人情報メールを";
  struct Case {
    int64_t count;
    std::u16string text;
  } cases[] = {
      {3, head + u"3" + sent + note},
      {100, head + u"100" + sent + note},
      {0, u"登録を受付ました<BR>求人情報が見つかり次第通知いたします" + note},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(U8(RegistrationOutcome(c.count, u"s1@jobs.test")), U8(c.text))
        << c.count;
  }
}

}  // namespace
}  // namespace qlok
