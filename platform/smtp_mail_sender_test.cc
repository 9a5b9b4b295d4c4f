// The real sender against a real receiver on a loopback port.
#include "platform/smtp_mail_sender.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/process_testing.h"
#include "platform/testing/smtp_receiver.h"
#include "text/unicode.h"

namespace qlok {

using testing_support::ScratchFolder;
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

std::u16string Server(int port) { return u"127.0.0.1:" + Digits(port); }

const std::u16string kSender = u"求職案内会<s1@jobs.test>";

// Every line of `raw` ends with CR LF, and the head's lines are short.
void ExpectWellFormed(const std::string& raw) {
  size_t head_end = raw.find("\r\n\r\n");
  ASSERT_NE(head_end, std::string::npos);
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\n') {
      ASSERT_TRUE(i > 0 && raw[i - 1] == '\r') << i;
    }
  }
  size_t start = 0;
  while (start < head_end) {
    size_t end = raw.find("\r\n", start);
    EXPECT_LE(end - start, 78u) << raw.substr(start, end - start);
    start = end + 2;
  }
  for (const char* field :
       {"\r\nDate: ", "\r\nMessage-ID: <", "\r\nMIME-Version: 1.0\r\n",
        "\r\nContent-Type: text/plain; charset=UTF-8\r\n",
        "\r\nContent-Transfer-Encoding: base64\r\n", "\r\nTo: "}) {
    EXPECT_THAT("\r\n" + raw.substr(0, head_end + 2), HasSubstr(field));
  }
}

TEST(SmtpMailSenderTest, DeliversTheMessage) {
  SmtpReceiver receiver;
  ASSERT_NE(receiver.port(), 0) << receiver.error();
  struct Case {
    std::u16string subject;
    std::u16string body;
  } cases[] = {
      {u"求人がみつかりました",
       u"求人マッチメールの１回目の求人情報メールです。\r\n\r\n"
       u"【職種】事務\r\n.\r\n.lone dot\r\n━━━━\r\n\r\n\r\n\r\n"},
      {u"ss0", u"aaa=1\r\nzzz=abc@example.test\r\n"},
      // Long enough to need several encoded words and body lines.
      {std::u16string(60, u'求') + u"x", std::u16string(3000, u'職')},
  };
  std::unique_ptr<MailSender> sender = NewSmtpMailSender();
  for (const Case& c : cases) {
    EXPECT_EQ(sender->SendMail(Server(receiver.port()), u"v@visitor.test",
                               kSender + u"\t", c.subject, c.body, u""),
              u"");
  }
  std::vector<SmtpReceiver::Mail> mails = receiver.Mails();
  ASSERT_EQ(mails.size(), std::size(cases));
  for (size_t i = 0; i < mails.size(); ++i) {
    const SmtpReceiver::Mail& mail = mails[i];
    EXPECT_EQ(mail.mail_from, "s1@jobs.test");
    EXPECT_EQ(mail.rcpt_to, "v@visitor.test");
    EXPECT_EQ(mail.user, "");
    EXPECT_EQ(mail.subject, U8(cases[i].subject)) << i;
    EXPECT_EQ(mail.from, U8(u"求職案内会 <s1@jobs.test>")) << i;
    EXPECT_EQ(mail.body, U8(cases[i].body)) << i;
    ExpectWellFormed(mail.raw);
  }
}

TEST(SmtpMailSenderTest, AddsTheHeaderFieldsOfTheOptions) {
  SmtpReceiver receiver;
  ASSERT_NE(receiver.port(), 0) << receiver.error();
  std::unique_ptr<MailSender> sender = NewSmtpMailSender();
  MailOptions options;
  options.headers = {{"List-Unsubscribe", "<https://jobs.test/m?t=ab>"},
                     {"Auto-Submitted", "auto-generated"}};
  EXPECT_EQ(sender->SendMail(Server(receiver.port()), u"v@visitor.test",
                             kSender + u"\t", u"s", u"b", u"", options),
            u"");
  // A field that could end the head or start another field is refused.
  const std::pair<std::string, std::string> unsafe[] = {
      {"X-Note", "a\r\nBcc: x@evil.test"},
      {"X-Note", "a\nb"},
      {"X Note", "a"},
      {"X-Note:", "a"},
      {"", "a"},
      {"X-Note", "\xE6\xB1\x82"},
  };
  for (const auto& field : unsafe) {
    MailOptions bad;
    bad.headers = {field};
    EXPECT_THAT(sender->SendMail(Server(receiver.port()), u"v@visitor.test",
                                 kSender + u"\t", u"s", u"b", u"", bad),
                Not(IsEmpty()))
        << field.first << ": " << field.second;
  }
  std::vector<SmtpReceiver::Mail> mails = receiver.Mails();
  ASSERT_EQ(mails.size(), 1u);
  const std::string head =
      mails[0].raw.substr(0, mails[0].raw.find("\r\n\r\n"));
  EXPECT_THAT(head, HasSubstr("\r\nList-Unsubscribe: <https://jobs.test/m?t=ab>"
                              "\r\nAuto-Submitted: auto-generated"));
  ExpectWellFormed(mails[0].raw);
}

TEST(SmtpMailSenderTest, TheEnvelopeSenderOfTheOptionsTakesTheBounces) {
  SmtpReceiver receiver;
  ASSERT_NE(receiver.port(), 0) << receiver.error();
  std::unique_ptr<MailSender> sender = NewSmtpMailSender();
  const struct {
    std::string envelope;
    bool sent;
    std::string mail_from;  // sent: what the relay is told
  } cases[] = {
      {"", true, "s1@jobs.test"},
      {"bounces+0123abcd@jobs.test", true, "bounces+0123abcd@jobs.test"},
      {"no-at-sign", false, ""},
      {"a b@jobs.test", false, ""},
      {"a>@jobs.test", false, ""},
      {"a@jobs.test\r\nRCPT TO:<x@evil.test>", false, ""},
      {"\xE6\xB1\x82@jobs.test", false, ""},
  };
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    MailOptions options;
    options.envelope_sender = c.envelope;
    const std::u16string answer =
        sender->SendMail(Server(receiver.port()), u"v@visitor.test",
                         kSender + u"\t", u"s", u"b", u"", options);
    EXPECT_EQ(answer.empty(), c.sent) << c.envelope;
    if (c.sent) expected.push_back(c.mail_from);
  }
  std::vector<SmtpReceiver::Mail> mails = receiver.Mails();
  ASSERT_EQ(mails.size(), expected.size());
  for (size_t i = 0; i < mails.size(); ++i) {
    EXPECT_EQ(mails[i].mail_from, expected[i]);
    // The From field stays the sender account's.
    EXPECT_EQ(mails[i].from, U8(u"求職案内会 <s1@jobs.test>"));
  }
}

TEST(SmtpMailSenderTest, AuthenticatesWithTheSenderText) {
  SmtpReceiver receiver(SmtpReceiver::Login("q2481xr736k:5d9p1s7tvak"));
  ASSERT_NE(receiver.port(), 0) << receiver.error();
  struct Case {
    std::u16string authentication;
    bool accepted;
  } cases[] = {
      {u"\tq2481xr736k:5d9p1s7tvak\tLOGIN", true},
      {u"\tq2481xr736k:5d9p1s7tvak", true},  // the relay offers LOGIN only
      {u"\tq2481xr736k:wrong\tLOGIN", false},
      {u"\t", false},  // no AUTH where the relay requires it
      {u"", false},
  };
  std::unique_ptr<MailSender> sender = NewSmtpMailSender();
  size_t accepted = 0;
  for (const Case& c : cases) {
    std::u16string result =
        sender->SendMail(Server(receiver.port()), u"v@visitor.test",
                         kSender + c.authentication, u"s", u"b", u"");
    EXPECT_EQ(result.empty(), c.accepted) << U8(c.authentication);
    accepted += c.accepted;
  }
  std::vector<SmtpReceiver::Mail> mails = receiver.Mails();
  ASSERT_EQ(mails.size(), accepted);
  EXPECT_EQ(mails[0].user, "q2481xr736k");
  EXPECT_EQ(mails[0].mechanism, "LOGIN");
}

TEST(SmtpMailSenderTest, FailuresAreReportedNotThrown) {
  // A port nobody listens on: bound, read back, closed again.
  int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  int closed_port = ntohs(address.sin_port);
  ::close(probe);

  std::unique_ptr<MailSender> sender = NewSmtpMailSender();
  auto start = std::chrono::steady_clock::now();
  EXPECT_THAT(sender->SendMail(Server(closed_port), u"v@visitor.test",
                               kSender + u"\t", u"s", u"b", u""),
              Not(IsEmpty()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  SmtpReceiver::Options refusing;
  refusing.refuse_from = "s1@jobs.test";
  SmtpReceiver receiver(refusing);
  ASSERT_NE(receiver.port(), 0) << receiver.error();
  EXPECT_THAT(sender->SendMail(Server(receiver.port()), u"v@visitor.test",
                               kSender + u"\t", u"s", u"b", u""),
              Not(IsEmpty()));
  EXPECT_THAT(receiver.Mails(), IsEmpty());
}

TEST(SmtpMailSenderTest, RefusesUnsafeInputWithoutSending) {
  SmtpReceiver receiver;
  ASSERT_NE(receiver.port(), 0) << receiver.error();
  const std::u16string server = Server(receiver.port());
  struct Case {
    std::u16string server, recipient, sender, attachments;
  } cases[] = {
      {server, u"v@visitor.test\r\nRCPT TO:<x@evil.test>", kSender + u"\t",
       u""},
      {server, u"v@visitor.test\n", kSender + u"\t", u""},
      {server, u"", kSender + u"\t", u""},
      {server, u"v@visitor.test> <x@evil.test", kSender + u"\t", u""},
      {server, u"v@visitor.test", u"求職案内会<s1@jobs.test\r\n>\t", u""},
      {server, u"v@visitor.test", u"求職案内会\n<s1@jobs.test>\t", u""},
      {server, u"v@visitor.test", u"求職案内会<>\t", u""},
      {server, u"v@visitor.test", kSender + u"\tu:p\r\n", u""},
      {server, u"v@visitor.test", kSender + u"\tu:p\tPLAIN", u""},
      {server, u"v@visitor.test", kSender + u"\t", u"file.txt"},
      {u"127.0.0.1", u"v@visitor.test", kSender + u"\t", u""},
      {u"127.0.0.1:0", u"v@visitor.test", kSender + u"\t", u""},
      {u"127.0.0.1/x:25", u"v@visitor.test", kSender + u"\t", u""},
  };
  std::unique_ptr<MailSender> sender = NewSmtpMailSender();
  for (const Case& c : cases) {
    EXPECT_THAT(sender->SendMail(c.server, c.recipient, c.sender, u"s", u"b",
                                 c.attachments),
                Not(IsEmpty()))
        << U8(c.server) << " " << U8(c.recipient) << " " << U8(c.sender);
  }
  EXPECT_THAT(receiver.Mails(), IsEmpty());
}

// A temporary folder that holds a throw-away certificate.
class CertificateFolder {
 public:
  CertificateFolder() : made_(SmtpReceiver::MakeCertificate(scratch_.path())) {}
  bool made() const { return made_; }
  std::string certificate() const { return scratch_.path() + "/cert.pem"; }
  std::string key() const { return scratch_.path() + "/key.pem"; }

 private:
  ScratchFolder scratch_;  // made before made_, which needs it
  bool made_ = false;
};

TEST(SmtpMailSenderTest, LoginsAreSentOnlyWhereTheTlsSettingAllows) {
  CertificateFolder tls;
  ASSERT_TRUE(tls.made()) << "openssl could not make a certificate";
  const std::string kLogin = "q2481xr736k:5d9p1s7tvak";
  SmtpReceiver plain(SmtpReceiver::Login(kLogin));
  SmtpReceiver::Options offering_tls = SmtpReceiver::Login(kLogin);
  offering_tls.tls_certificate = tls.certificate();
  offering_tls.tls_key = tls.key();
  SmtpReceiver starttls(offering_tls);
  SmtpReceiver open_relay;  // takes mail without a login
  ASSERT_NE(plain.port(), 0) << plain.error();
  ASSERT_NE(starttls.port(), 0) << starttls.error();
  ASSERT_NE(open_relay.port(), 0) << open_relay.error();

  struct Case {
    const char* name;
    const SmtpReceiver& relay;
    const char* host;
    bool tls_required;
    bool trust_loopback;   // off: the relay counts as another machine
    bool our_certificate;  // trust the throw-away certificate
    std::u16string login;
    bool delivered;
    std::vector<std::string> logins;  // what the relay was given
  } cases[] = {
      // The relay offers no STARTTLS: the login is not sent at all.
      {"required, plain relay",
       plain,
       "127.0.0.1",
       true,
       false,
       true,
       u"\tq2481xr736k:5d9p1s7tvak\tLOGIN",
       false,
       {}},
      {"required, relay over TLS",
       starttls,
       "127.0.0.1",
       true,
       false,
       true,
       u"\tq2481xr736k:5d9p1s7tvak\tLOGIN",
       true,
       {"LOGIN q2481xr736k tls"}},
      // A certificate the system does not trust ends the attempt before
      // the login.
      {"required, untrusted certificate",
       starttls,
       "127.0.0.1",
       true,
       false,
       false,
       u"\tq2481xr736k:5d9p1s7tvak\tLOGIN",
       false,
       {}},
      {"required, relay on loopback",
       plain,
       "127.0.0.1",
       true,
       true,
       true,
       u"\tq2481xr736k:5d9p1s7tvak\tLOGIN",
       true,
       {"LOGIN q2481xr736k plain"}},
      {"required, localhost",
       plain,
       "localhost",
       true,
       true,
       true,
       u"\tq2481xr736k:5d9p1s7tvak\tLOGIN",
       true,
       {"LOGIN q2481xr736k plain"}},
      // A relay on this machine is spoken to without TLS, whatever it
      // offers: its certificate cannot name "localhost".
      {"required, relay on loopback offering STARTTLS",
       starttls,
       "127.0.0.1",
       true,
       true,
       false,
       u"\tq2481xr736k:5d9p1s7tvak\tLOGIN",
       true,
       {"LOGIN q2481xr736k plain"}},
      {"opportunistic, plain relay",
       plain,
       "127.0.0.1",
       false,
       false,
       true,
       u"\tq2481xr736k:5d9p1s7tvak\tLOGIN",
       true,
       {"LOGIN q2481xr736k plain"}},
      {"opportunistic, relay over TLS",
       starttls,
       "127.0.0.1",
       false,
       false,
       true,
       u"\tq2481xr736k:5d9p1s7tvak\tLOGIN",
       true,
       {"LOGIN q2481xr736k tls"}},
      // Without a login there is nothing to protect: plain is allowed.
      {"required, no login, plain relay",
       open_relay,
       "127.0.0.1",
       true,
       false,
       true,
       u"\t",
       true,
       {}},
  };
  for (const Case& c : cases) {
    const size_t logins_before = c.relay.Logins().size();
    const size_t mails_before = c.relay.Mails().size();
    SmtpSettings settings;
    settings.tls_required = c.tls_required;
    settings.trust_loopback = c.trust_loopback;
    if (c.our_certificate) settings.ca_file = tls.certificate();
    std::unique_ptr<MailSender> sender = NewSmtpMailSender(settings);
    const std::u16string answer =
        sender->SendMail(U16(c.host) + u":" + Digits(c.relay.port()),
                         u"v@visitor.test", kSender + c.login, u"s", u"b", u"");
    EXPECT_EQ(answer.empty(), c.delivered) << c.name << ": " << U8(answer);
    std::vector<std::string> logins = c.relay.Logins();
    logins.erase(logins.begin(), logins.begin() + logins_before);
    EXPECT_EQ(logins, c.logins) << c.name;
    EXPECT_EQ(c.relay.Mails().size() - mails_before, c.delivered ? 1u : 0u)
        << c.name;
  }
  // The refusal says why, so that the operator can mend the relay or
  // site.conf.
  SmtpSettings settings;
  settings.trust_loopback = false;
  EXPECT_THAT(U8(NewSmtpMailSender(settings)->SendMail(
                  Server(plain.port()), u"v@visitor.test",
                  kSender + u"\tq2481xr736k:5d9p1s7tvak", u"s", u"b", u"")),
              HasSubstr("offers no STARTTLS"));
}

TEST(SmtpMailSenderTest, LoopbackHostsAreNamedOnly) {
  for (const char* host : {"localhost", "LocalHost", "127.0.0.1", "127.1.2.3",
                           "127.255.255.255"}) {
    EXPECT_TRUE(IsLoopbackHost(host)) << host;
  }
  for (const char* host : {"", "localhost.example.jp", "127.0.0", "127.0.0.1.5",
                           "127.0.0.08", "0127.0.0.1", "127.0.0.256",
                           "128.0.0.1", "::1", "127.0.0.1 ", "mailhost"}) {
    EXPECT_FALSE(IsLoopbackHost(host)) << host;
  }
}

TEST(SmtpMailSenderTest, RelaysThatDoNotAnswerAreGivenUpInTime) {
  struct Case {
    const char* behave;
    long attempt_timeout_ms;
    long time_limit_ms;  // of the options; 0: none
    const char* answer;  // how the answer begins
  } cases[] = {
      {"silent", 1500, 0, "Operation timed out"},
      {"silent", 20000, 1200, "Operation timed out"},
      {"close", 20000, 0, ""},
      {"refuse", 20000, 0, ""},
  };
  for (const Case& c : cases) {
    SmtpReceiver relay(SmtpReceiver::Behaving(c.behave));
    ASSERT_NE(relay.port(), 0) << relay.error();
    SmtpSettings settings;
    settings.attempt_timeout_ms = c.attempt_timeout_ms;
    MailOptions options;
    options.time_limit_ms = c.time_limit_ms;
    const auto start = std::chrono::steady_clock::now();
    const std::u16string answer = NewSmtpMailSender(settings)->SendMail(
        Server(relay.port()), u"v@visitor.test", kSender + u"\t", u"s", u"b",
        u"", options);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_THAT(U8(answer), StartsWith(c.answer)) << c.behave;
    EXPECT_THAT(answer, Not(IsEmpty())) << c.behave;
    // Well within the 20 s an attempt may take by default.
    EXPECT_LT(took, std::chrono::seconds(8)) << c.behave;
  }
}

// True when a library whose file name holds "libcurl" is mapped into this
// process.
bool LibcurlMapped() {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.find("libcurl") != std::string::npos) return true;
  }
  return false;
}

TEST(SmtpMailSenderTest, LibcurlIsMappedOnlyWhenAnAttemptIsMade) {
  if (LibcurlMapped()) {
    GTEST_SKIP() << "an earlier test of this process has loaded libcurl";
  }
  // In a child, so that the library loaded at the end stays out of this
  // process.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::unique_ptr<MailSender> sender = NewSmtpMailSender();
    if (LibcurlMapped()) ::_exit(1);
    // Refused before any connection: still no library.
    sender->SendMail(u"127.0.0.1:0", u"v@visitor.test", kSender + u"\t", u"s",
                     u"b", u"");
    if (LibcurlMapped()) ::_exit(2);
    // A port nothing listens on: an attempt is made.
    sender->SendMail(u"127.0.0.1:1", u"v@visitor.test", kSender + u"\t", u"s",
                     u"b", u"");
    ::_exit(LibcurlMapped() ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "1: mapped at the start, 2: mapped without an attempt, 3: not "
         "mapped after an attempt";
}

}  // namespace
}  // namespace qlok
