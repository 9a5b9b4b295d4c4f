// Mails no attempt delivered: the outbox, the error line, sending again.
#include "mail/kept_mail.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "mail/delivery.h"
#include "platform/failure.h"
#include "platform/testing/recording_mail_sender.h"
#include "text/unicode.h"

namespace qlok {
namespace {

SiteConfig Site() {
  SiteConfig site = SiteConfig::Defaults();
  site.sender_addresses = {u"s1@jobs.test", u"s2@jobs.test", u"s3@jobs.test"};
  return site;
}

TEST(MailKindTest, NamesGoBothWays) {
  for (MailKind kind : {MailKind::kMatchMail, MailKind::kRegistrationRecord}) {
    EXPECT_EQ(MailKindNamed(MailKindName(kind)), kind);
  }
  EXPECT_EQ(MailKindNamed("daily_mail"), std::nullopt);
  EXPECT_EQ(MailKindNamed(""), std::nullopt);
}

TEST(MatchMailLoginsTest, FileReplacesTheBuiltInLogins) {
  struct Case {
    const char* name;
    std::optional<std::string> file;
    bool fails;
    MailAccounts logins;  // when it does not fail and the file is there
  } cases[] = {
      {"no file", std::nullopt, false, {}},
      {"three lines", "a:1\r\nb:2\r\nc:3\r\n", false, {u"a:1", u"b:2", u"c:3"}},
      {"no last line end, more lines",
       "a:1\nb:2\nc:3\nd:4",
       false,
       {u"a:1", u"b:2", u"c:3"}},
      {"empty password", "a:\nb:2\nc:3\n", false, {u"a:", u"b:2", u"c:3"}},
      {"two lines", "a:1\nb:2\n", true, {}},
      {"empty file", "", true, {}},
      {"no colon", "a:1\nb2\nc:3\n", true, {}},
      {"no user", "a:1\n:2\nc:3\n", true, {}},
      {"control character", "a:1\nb:2\x01\nc:3\n", true, {}},
  };
  for (const Case& c : cases) {
    InMemoryTextFiles files;
    if (c.file) files.files[kMatchMailLoginsPath] = *c.file;
    if (c.fails) {
      EXPECT_THROW(LoadMatchMailLogins(files), Failure) << c.name;
      continue;
    }
    std::optional<MailAccounts> logins = LoadMatchMailLogins(files);
    EXPECT_EQ(logins.has_value(), c.file.has_value()) << c.name;
    if (logins) {
      EXPECT_EQ(*logins, c.logins) << c.name;
    }
  }
}

class DeliverOrKeepTest : public ::testing::Test {
 protected:
  MailPost Post(const Deadline* deadline = nullptr) {
    return {sender_, sleeper_, site_, outbox_, clock_, errors_, deadline};
  }

  RecordingMailSender sender_;
  FakeSleeper sleeper_;
  SiteConfig site_ = Site();
  InMemoryOutbox outbox_;
  FixedClock clock_{DateTime{2026, 12, 9, 23, 59, 58}};
  StringErrorLog errors_;
  const Mail mail_{u"taro@example.jp",
                   u"求人がみつかりました",
                   u"本文\r\n",
                   {{"Auto-Submitted", "auto-generated"}}};
};

TEST_F(DeliverOrKeepTest, DeliveredMailLeavesNothing) {
  MailPost post = Post();
  EXPECT_TRUE(DeliverOrKeep(post, MailKind::kMatchMail, mail_, [] {
    return MailRoute{kMatchMailAttempts, {}};
  }));
  EXPECT_TRUE(outbox_.messages.empty());
  EXPECT_EQ(errors_.str(), "");
}

TEST_F(DeliverOrKeepTest, GivenUpMailIsKeptWithOneLine) {
  struct Case {
    const char* name;
    std::u16string answer;
    bool outbox_fails;
    std::function<MailRoute()> route;
    std::string line;
    size_t attempts;
  } cases[] = {
      {"refused", u"550 5.7.1 relaying denied", false,
       [] {
         return MailRoute{kMatchMailAttempts, {}};
       },
       "q_lok: match mail to taro@example.jp not delivered, kept in the "
       "outbox as 000001.mail; last answer: 550 5.7.1 relaying denied\n",
       5},
      // A relay's answer over several lines stays on one.
      {"answer of two lines", u"421 busy\r\n421 try later", false,
       [] {
         return MailRoute{kMatchMailAttempts, {}};
       },
       "q_lok: match mail to taro@example.jp not delivered, kept in the "
       "outbox as 000001.mail; last answer: 421 busy  421 try later\n",
       5},
      {"no route", u"", false,
       []() -> MailRoute { throw Failure("pw/match_mail.txt: line 2"); },
       "q_lok: match mail to taro@example.jp not delivered, kept in the "
       "outbox as 000001.mail; last answer: pw/match_mail.txt: line 2\n",
       0},
      {"outbox refuses", u"550 no", true,
       [] {
         return MailRoute{kMatchMailAttempts, {}};
       },
       "q_lok: match mail to taro@example.jp not delivered, NOT kept: "
       "outbox: refused for the test; last answer: 550 no\n",
       5},
  };
  for (const Case& c : cases) {
    sender_ = RecordingMailSender();
    sender_.answer = c.answer;
    outbox_ = InMemoryOutbox();
    outbox_.fail_puts = c.outbox_fails;
    errors_.str("");
    MailPost post = Post();
    EXPECT_FALSE(DeliverOrKeep(post, MailKind::kMatchMail, mail_, c.route))
        << c.name;
    EXPECT_EQ(errors_.str(), c.line) << c.name;
    EXPECT_EQ(sender_.calls.size(), c.attempts) << c.name;
    if (c.outbox_fails) continue;
    ASSERT_EQ(outbox_.messages.size(), 1u) << c.name;
    const OutboxMessage& kept = outbox_.messages.begin()->second;
    EXPECT_EQ(kept.kind, "match_mail");
    EXPECT_EQ(kept.mail, mail_);
    EXPECT_EQ(kept.kept_at, clock_.Now());
  }
}

TEST_F(DeliverOrKeepTest, AnAddressBeyondAsciiWaitsWithTheReason) {
  // No relay is asked for SMTPUTF8, so none is offered such an address:
  // the mail waits in the outbox at once, saying why. Control characters
  // (below the range) go on to the sender, which refuses them itself.
  struct Case {
    std::u16string recipient;
    size_t attempts;
  } cases[] = {{u"太郎@example.jp", 0},
               {u"taro@例え.jp", 0},
               {u"täro@example.jp", 0},
               {u"taro@example.jp", 5}};
  for (const Case& c : cases) {
    sender_ = RecordingMailSender();
    sender_.answer = u"550 refused";
    outbox_ = InMemoryOutbox();
    errors_.str("");
    Mail mail = mail_;
    mail.recipient = c.recipient;
    MailPost post = Post();
    EXPECT_FALSE(DeliverOrKeep(post, MailKind::kMatchMail, mail, [] {
      return MailRoute{kMatchMailAttempts, {}};
    }));
    EXPECT_EQ(sender_.calls.size(), c.attempts) << U8(c.recipient);
    ASSERT_EQ(outbox_.messages.size(), 1u);
    EXPECT_EQ(
        outbox_.messages.begin()->second.answer,
        c.attempts == 0 ? std::u16string(kNotAsciiAnswer) : u"550 refused");
    EXPECT_NE(errors_.str().find(c.attempts == 0 ? "SMTPUTF8" : "550"),
              std::string::npos)
        << errors_.str();
  }
}

TEST_F(DeliverOrKeepTest, AVisitorsAddressCannotAddLinesToTheLog) {
  sender_.answer = u"refused: unusable recipient";
  Mail mail = mail_;
  mail.recipient = u"x@y.jp\nq_lok: forged line";
  MailPost post = Post();
  DeliverOrKeep(post, MailKind::kMatchMail, mail, [] {
    return MailRoute{kMatchMailAttempts, {}};
  });
  const std::string lines = errors_.str();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1);
  EXPECT_EQ(outbox_.messages.begin()->second.mail.recipient, mail.recipient);
}

TEST(SendKeptTest, FindsTheLoginsAgainByKind) {
  struct Case {
    const char* name;
    std::string kind;
    std::map<std::string, std::string> files;
    std::u16string first_sender;  // empty: nothing is tried
    std::u16string answer_start;
  } cases[] = {
      {"match mail, built-in logins",
       "match_mail",
       {},
       u"求職案内会<s1@jobs.test>\tq2481xr736k:5d9p1s7tvak",
       u"550"},
      {"match mail, logins of the file",
       "match_mail",
       {{"pw/match_mail.txt", "m1:p1\nm2:p2\nm3:p3\n"}},
       u"求職案内会<s1@jobs.test>\tm1:p1",
       u"550"},
      {"record, lines of the account file read now",
       "registration_record",
       {{"pw/mail.txt", "r1:new\nr2:new\nr3:new\n"}},
       u"求職案内会<s1@jobs.test>\tr1:new",
       u"550"},
      {"record without an account file",
       "registration_record",
       {},
       u"求職案内会<s1@jobs.test>\t",
       u"550"},
      {"unusable login file",
       "match_mail",
       {{"pw/match_mail.txt", "m1:p1\n"}},
       u"",
       u"pw/match_mail.txt: line 2"},
      {"unknown kind", "daily_mail", {}, u"", u"unknown kind of mail"},
  };
  for (const Case& c : cases) {
    RecordingMailSender sender;
    sender.answer = u"550 no";
    FakeSleeper sleeper;
    InMemoryTextFiles files;
    files.files = c.files;
    const OutboxMessage message{
        c.kind, {u"info@example.jp", u"ss0", u"b", {}}, DateTime{}, u""};
    const std::u16string answer =
        SendKept(message, sender, sleeper, Site(), files);
    EXPECT_EQ(U8(answer.substr(0, c.answer_start.size())), U8(c.answer_start))
        << c.name;
    if (c.first_sender.empty()) {
      EXPECT_TRUE(sender.calls.empty()) << c.name;
    } else {
      ASSERT_EQ(sender.calls.size(), 5u) << c.name;
      EXPECT_EQ(U8(sender.calls[0].sender), U8(c.first_sender)) << c.name;
    }
  }
}

}  // namespace
}  // namespace qlok
