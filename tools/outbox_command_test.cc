#include "tools/outbox_command.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "platform/failure.h"
#include "platform/testing/recording_mail_sender.h"
#include "text/unicode.h"
#include "tools/admin_commands.h"

namespace qlok {
namespace {

// Relays that refuse every mail.
RecordingMailSender RefusingAll() {
  RecordingMailSender sender;
  sender.answer = u"550 5.1.1 no such user";
  return sender;
}

// An outbox with messages that cannot be read or removed.
class DamagedOutbox : public InMemoryOutbox {
 public:
  OutboxMessage Get(const std::string& name) override {
    if (unreadable.count(name)) throw Failure("outbox: " + name + ": damaged");
    return InMemoryOutbox::Get(name);
  }
  void Remove(const std::string& name) override {
    if (stuck.count(name)) throw Failure("outbox: cannot remove " + name);
    InMemoryOutbox::Remove(name);
  }
  std::set<std::string> unreadable, stuck;
};

class OutboxCommandTest : public ::testing::Test {
 protected:
  std::string Keep(const std::string& kind, const std::u16string& recipient,
                   const DateTime& kept_at) {
    return outbox_.Put({kind,
                        {recipient, u"求人がみつかりました", u"本文", {}},
                        kept_at,
                        u"Timeout was reached\r\n"});
  }
  int List() { return ListOutbox(services_, out_, err_); }
  int Send() { return SendOutbox(services_, out_, err_); }

  // The relays accept the mails of `recipients` and refuse the others.
  void AcceptOnly(std::set<std::u16string> recipients) {
    accepted_ = recipients;
    sender_.calls.clear();
    sender_.answer_for = [recipients](const RecordingMailSender::Call& call) {
      return recipients.count(call.recipient) != 0
                 ? std::u16string()
                 : std::u16string(u"550 5.1.1 no such user");
    };
  }

  DamagedOutbox outbox_;
  RecordingMailSender sender_ = RefusingAll();
  std::set<std::u16string> accepted_;
  FakeSleeper sleeper_;
  SiteConfig site_ = SiteConfig::Defaults();
  InMemoryTextFiles files_;
  FixedClock clock_{DateTime{2026, 12, 9, 12, 0, 0}};
  OutboxCommandServices services_{outbox_, sender_, sleeper_,       site_,
                                  files_,  clock_,  "/srv/q/outbox"};
  std::ostringstream out_, err_;
};

TEST_F(OutboxCommandTest, ListsKindRecipientAgeAndSubject) {
  EXPECT_EQ(List(), kAdminDone);
  EXPECT_EQ(out_.str(), "nothing waits in /srv/q/outbox\n");
  out_.str("");
  struct Case {
    DateTime kept_at;
    const char* age;
  } cases[] = {
      {{2026, 12, 9, 11, 59, 30}, "just now"},
      {{2026, 12, 9, 11, 15, 0}, "45m"},
      {{2026, 12, 9, 8, 55, 0}, "3h 05m"},
      {{2026, 12, 7, 8, 0, 0}, "2d 04h"},
  };
  std::string expected = "4 mails wait in /srv/q/outbox:\n";
  for (const Case& c : cases) {
    const std::string name = Keep("match_mail", u"taro@example.jp", c.kept_at);
    expected += name + "  match_mail  taro@example.jp  " + c.age +
                "  求人がみつかりました\n    last answer: Timeout was "
                "reached  \n";
  }
  EXPECT_EQ(List(), kAdminDone);
  EXPECT_EQ(out_.str(), expected);
  EXPECT_EQ(err_.str(), "");
}

TEST_F(OutboxCommandTest, AnUnreadableMessageIsReportedAndTheRestListed) {
  const std::string bad = Keep("match_mail", u"a@example.jp", clock_.Now());
  Keep("registration_record", u"info@example.jp", clock_.Now());
  outbox_.unreadable.insert(bad);
  EXPECT_EQ(List(), kAdminFailed);
  EXPECT_NE(out_.str().find("registration_record  info@example.jp"),
            std::string::npos);
  EXPECT_EQ(err_.str(), "q_lok-admin outbox: outbox: " + bad + ": damaged\n");
}

TEST_F(OutboxCommandTest, SendRemovesWhatWasDeliveredAndKeepsTheRest) {
  struct Case {
    const char* name;
    std::vector<std::u16string> accepted;
    int status;
    size_t left;
    const char* summary;
  } cases[] = {
      {"all delivered",
       {u"a@example.jp", u"b@example.jp", u"info@example.jp"},
       kAdminDone,
       0,
       "delivered 3 of 3; nothing waits in /srv/q/outbox\n"},
      {"one refused",
       {u"a@example.jp", u"info@example.jp"},
       kAdminFailed,
       1,
       "delivered 2 of 3; 1 mail still waits in /srv/q/outbox\n"},
      {"none delivered",
       {},
       kAdminFailed,
       3,
       "delivered 0 of 3; 3 mails still wait in /srv/q/outbox\n"},
  };
  for (const Case& c : cases) {
    outbox_.messages.clear();
    out_.str("");
    err_.str("");
    AcceptOnly({c.accepted.begin(), c.accepted.end()});
    Keep("match_mail", u"a@example.jp", clock_.Now());
    Keep("match_mail", u"b@example.jp", clock_.Now());
    Keep("registration_record", u"info@example.jp", clock_.Now());
    EXPECT_EQ(Send(), c.status) << c.name;
    EXPECT_EQ(outbox_.messages.size(), c.left) << c.name;
    for (const auto& [name, message] : outbox_.messages) {
      EXPECT_EQ(accepted_.count(message.mail.recipient), 0u) << c.name;
    }
    const std::string report = out_.str();
    EXPECT_EQ(report.substr(report.rfind("delivered ")), c.summary) << c.name;
    EXPECT_EQ(report.find("[1/3] "), 0u) << c.name;
    EXPECT_NE(report.find("[3/3] "), std::string::npos) << c.name;
    EXPECT_FALSE(outbox_.claimed) << c.name;  // given up at the end
  }
}

TEST_F(OutboxCommandTest, SendGoesAlongTheAttemptTableOfEachKind) {
  files_.files["pw/mail.txt"] = "r1:secret\r\nr2:x\r\nr3:y\r\n";
  Keep("registration_record", u"info@example.jp", clock_.Now());
  Keep("match_mail", u"a@example.jp", clock_.Now());
  EXPECT_EQ(Send(), kAdminFailed);
  ASSERT_EQ(sender_.calls.size(), 10u);
  EXPECT_EQ(U8(sender_.calls[0].sender),
            U8(u"求職案内会<info@example.jp>\tr1:secret"));
  EXPECT_EQ(U8(sender_.calls[5].sender),
            U8(u"求職案内会<info@example.jp>\tq2481xr736k:5d9p1s7tvak"));
}

TEST_F(OutboxCommandTest, MessagesThatCannotBeReadOrRemovedStay) {
  AcceptOnly({u"a@example.jp", u"b@example.jp"});
  const std::string unreadable =
      Keep("match_mail", u"a@example.jp", clock_.Now());
  const std::string stuck = Keep("match_mail", u"b@example.jp", clock_.Now());
  const std::string unknown = Keep("daily_mail", u"c@example.jp", clock_.Now());
  outbox_.unreadable.insert(unreadable);
  outbox_.stuck.insert(stuck);
  EXPECT_EQ(Send(), kAdminFailed);
  EXPECT_EQ(outbox_.messages.size(), 3u);
  const std::string report = out_.str();
  EXPECT_NE(report.find(unreadable + ": cannot be read, it stays"),
            std::string::npos);
  EXPECT_NE(report.find("delivered, but it stays and would be sent again"),
            std::string::npos);
  EXPECT_NE(report.find("last answer: unknown kind of mail: daily_mail"),
            std::string::npos);
  EXPECT_NE(err_.str().find("remove it by hand"), std::string::npos);
}

TEST_F(OutboxCommandTest, OnlyOneSenderAtATime) {
  Keep("match_mail", u"a@example.jp", clock_.Now());
  outbox_.claimed = true;
  EXPECT_EQ(Send(), kAdminFailed);
  EXPECT_TRUE(sender_.calls.empty());
  EXPECT_NE(err_.str().find("another q_lok-admin outbox --send"),
            std::string::npos);
}

}  // namespace
}  // namespace qlok
