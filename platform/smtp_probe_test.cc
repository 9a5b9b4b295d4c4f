#include "platform/smtp_probe.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/fake_smtp_relay.h"

namespace qlok {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Script = FakeSmtpRelay::Script;

TEST(SmtpProbeTest, ReadsWhatTheRelayOffers) {
  FakeSmtpRelay relay(Script{.ehlo_answer =
                                 "250-relay.test greets you\r\n250-starttls\r\n"
                                 "250-auth login PLAIN\r\n250 SIZE 1000"});
  ASSERT_NE(relay.port(), 0);
  const SmtpProbe probe = ProbeSmtpRelay("127.0.0.1", relay.port(), 5);
  EXPECT_EQ(probe.error, "");
  EXPECT_TRUE(probe.loopback);
  // The keyword in capitals, its parameters as written.
  EXPECT_THAT(probe.extensions,
              ElementsAre("STARTTLS", "AUTH login PLAIN", "SIZE 1000"));
  EXPECT_TRUE(probe.Offers("STARTTLS"));
  EXPECT_TRUE(probe.Offers("AUTH"));
  EXPECT_FALSE(probe.Offers("AUT"));
  EXPECT_FALSE(probe.Offers("8BITMIME"));
}

TEST(SmtpProbeTest, RelaysThatDoNotServeAreToldApart) {
  FakeSmtpRelay silent(Script{.silent = true});
  FakeSmtpRelay refusing(Script{.greeting = "554 no service here"});
  FakeSmtpRelay no_ehlo(Script{.ehlo_answer = "502 what"});
  FakeSmtpRelay one_line(Script{.ehlo_answer = "250 relay.test"});
  struct Case {
    std::string host;
    int port;
    std::string error;
  } cases[] = {
      {"127.0.0.1", silent.port(), "no greeting within 1 s"},
      {"127.0.0.1", FakeSmtpRelay::ClosedPort(),
       "cannot connect: Connection refused"},
      {"127.0.0.1", refusing.port(), "greets with: 554 no service here"},
      {"127.0.0.1", no_ehlo.port(), "answers EHLO with: 502 what"},
      {"relay.invalid", 25, "the name cannot be resolved"},
      {"127.0.0.1", one_line.port(), ""},
  };
  for (const Case& c : cases) {
    const SmtpProbe probe = ProbeSmtpRelay(c.host, c.port, 1);
    if (c.error.empty()) {
      EXPECT_EQ(probe.error, "") << c.port;
      EXPECT_TRUE(probe.extensions.empty());
    } else {
      EXPECT_THAT(probe.error, HasSubstr(c.error)) << c.host << ":" << c.port;
    }
  }
}

}  // namespace
}  // namespace qlok
