#include "site/site_config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/failure.h"
#include "platform/process_testing.h"
#include "site/site_home.h"
#include "text/unicode.h"

namespace qlok {

using testing_support::ScratchFolder;
namespace {

using ::testing::HasSubstr;

class SiteConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = scratch_.path() + "/site.conf"; }
  void Write(const std::string& content) {
    std::ofstream(path_, std::ios::binary) << content;
  }
  std::string LoadError() {
    try {
      LoadSiteConfig(path_);
    } catch (const Failure& failure) {
      return failure.what();
    }
    return "(no failure)";
  }

  ScratchFolder scratch_;
  std::string path_;
};

TEST_F(SiteConfigTest, MissingFileGivesTheDefaults) {
  SiteConfig config = LoadSiteConfig(path_);
  SiteConfig defaults = SiteConfig::Defaults();
  EXPECT_EQ(config.top_url, u"https://www.example.jp/");
  EXPECT_EQ(config.map_base, u"https://www.example.jp");
  EXPECT_EQ(config.service_page_url, u"https://www.hellowork.mhlw.go.jp/");
  EXPECT_EQ(config.service_mail_url, u"http://www.hellowork.mhlw.go.jp/");
  EXPECT_EQ(config.first_relay, u"smtp.example.jp");
  EXPECT_EQ(config.second_relay, u"smtp2.example.jp");
  EXPECT_EQ(config.sender_addresses[0], u"info@example.jp");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(config.ads[i].link, defaults.ads[i].link);
    EXPECT_FALSE(config.ads[i].link.empty());
    EXPECT_FALSE(config.ads[i].text.empty());
    EXPECT_FALSE(config.ads[i].tracking_image.empty());
    EXPECT_FALSE(config.ads[i].banner_image.empty());
    EXPECT_FALSE(config.ads[i].banner_tracking.empty());
    EXPECT_FALSE(config.sender_addresses[i].empty());
  }
}

TEST_F(SiteConfigTest, EveryKeyReachesItsField) {
  Write(
      "; the test site\n"
      "[site]\n"
      "top_url = https://jobs.test/\n"
      "map_base = https://maps.test\n"
      "[employment_service]\n"
      "page_url = https://service.test/\n"
      "mail_url = http://service.test/\n"
      "[ad1]\nlink = L1\ntext = 広告の一番\ntracking_image = T1\n"
      "banner_image = B1\nbanner_tracking = BT1\n"
      "[ad2]\nlink = L2\ntext = X2\ntracking_image = T2\n"
      "banner_image = B2\nbanner_tracking = BT2\n"
      "[ad3]\nlink = L3\ntext = X3\ntracking_image = T3\n"
      "banner_image = B3\nbanner_tracking = BT3\n"
      "[smtp]\nfirst_relay = relay1.test\nsecond_relay = relay2.test\n"
      "[senders]\naccount1 = a1@test\naccount2 = a2@test\n"
      "account3 = a3@test\n");
  SiteConfig c = LoadSiteConfig(path_);
  EXPECT_EQ(c.top_url, u"https://jobs.test/");
  EXPECT_EQ(c.map_base, u"https://maps.test");
  EXPECT_EQ(c.service_page_url, u"https://service.test/");
  EXPECT_EQ(c.service_mail_url, u"http://service.test/");
  const char16_t* suffix[3] = {u"1", u"2", u"3"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(c.ads[i].link, std::u16string(u"L") + suffix[i]);
    EXPECT_EQ(c.ads[i].tracking_image, std::u16string(u"T") + suffix[i]);
    EXPECT_EQ(c.ads[i].banner_image, std::u16string(u"B") + suffix[i]);
    EXPECT_EQ(c.ads[i].banner_tracking, std::u16string(u"BT") + suffix[i]);
    EXPECT_EQ(c.sender_addresses[i],
              std::u16string(u"a") + suffix[i] + u"@test");
  }
  EXPECT_EQ(c.ads[0].text, u"広告の一番");
  EXPECT_EQ(c.ads[2].text, u"X3");
  EXPECT_EQ(c.first_relay, u"relay1.test");
  EXPECT_EQ(c.second_relay, u"relay2.test");
}

TEST_F(SiteConfigTest, ReadsValuesAsTheFileWritesThem) {
  struct Case {
    std::string file;
    std::u16string top_url;
  } cases[] = {
      // Missing keys keep their defaults; unknown ones are ignored.
      {"[site]\nmap_base = x\n", u"https://www.example.jp/"},
      {"[other]\ntop_url = no\n[site]\nshade = blue\n",
       u"https://www.example.jp/"},
      {"[site]\r\ntop_url = https://crlf.test/\r\n", u"https://crlf.test/"},
      {"\xEF\xBB\xBF[site]\ntop_url = bom\n", u"bom"},
      {"[site]\ntop_url=tight\n", u"tight"},
      {"[site]\ntop_url : colon\n", u"colon"},
      {"[site]\ntop_url = \n", u""},
      {"[site]\ntop_url = a\ntop_url = b\n", u"b"},  // the last one stands
      {"[site]\ntop_url = a ; a comment\n", u"a"},
      {"[site]\ntop_url = a?x=1;y=2\n", u"a?x=1;y=2"},
      {"# note\n[site]\ntop_url = https://www.example.jp/#top\n",
       u"https://www.example.jp/#top"},
      // A value continued on indented lines is joined without a separator.
      {"[site]\ntop_url = https://a.test/\n  long/path\n\tmore\n",
       u"https://a.test/long/pathmore"},
  };
  for (const Case& c : cases) {
    Write(c.file);
    EXPECT_EQ(LoadSiteConfig(path_).top_url, c.top_url) << c.file;
  }
}

TEST_F(SiteConfigTest, MalformedFilesNameTheLine) {
  struct Case {
    std::string file;
    std::string line;
  } cases[] = {
      {"[site]\ntop_url\n", "line 2"},
      {"[site\ntop_url = x\n", "line 1"},
      {"[site]\ntop_url = x\n\n\njust words\n", "line 5"},
      {"[site]\r\nok = 1\r\nbad line\r\n", "line 3"},
  };
  for (const Case& c : cases) {
    Write(c.file);
    std::string error = LoadError();
    EXPECT_THAT(error, HasSubstr(c.line)) << c.file;
    EXPECT_THAT(error, HasSubstr(path_)) << c.file;
  }
}

TEST_F(SiteConfigTest, PortsAreWholeNumbers) {
  SiteConfig defaults = LoadSiteConfig(path_);
  EXPECT_EQ(defaults.submission_port, 587);
  EXPECT_EQ(defaults.relay_port, 25);

  Write("[smtp]\nsubmission_port = 2587\nrelay_port = 65535\n");
  SiteConfig c = LoadSiteConfig(path_);
  EXPECT_EQ(c.submission_port, 2587);
  EXPECT_EQ(c.relay_port, 65535);

  const char* bad[] = {"0", "65536", "-25", "25x", "", " 1e3", "99999999999"};
  for (const char* value : bad) {
    Write(std::string("[smtp]\nfirst_relay = r\nrelay_port = ") + value + "\n");
    std::string error = LoadError();
    EXPECT_THAT(error, HasSubstr("line 3")) << value;
    EXPECT_THAT(error, HasSubstr("relay_port")) << value;
  }
  Write("[smtp]\nsubmission_port = 58\n  7\n");
  EXPECT_THAT(LoadError(), HasSubstr("submission_port"));
}

TEST_F(SiteConfigTest, NumbersAndWordsKeepToWhatTheirKeyTakes) {
  SiteConfig defaults = LoadSiteConfig(path_);
  EXPECT_EQ(defaults.smtp_tls, SiteConfig::kTlsRequired);
  EXPECT_EQ(defaults.request_time_limit, 30);
  EXPECT_EQ(defaults.database_connect_timeout, 5);
  EXPECT_EQ(defaults.database_statement_timeout, 10);
  EXPECT_EQ(defaults.notify_give_up_after, 5);
  EXPECT_EQ(defaults.notify_time_limit, 3600);

  Write(
      "[smtp]\ntls = opportunistic\nconnect_timeout = 3\n"
      "attempt_timeout = 12\n[request]\ntime_limit = 45\n"
      "[database]\nconnect_timeout = 2\nstatement_timeout = 60\n"
      "[manage]\npage_url = https://jobs.test/m.cgi\nlookups_per_day = 7\n"
      "[notify]\ngive_up_after = 2\ntime_limit = 600\n");
  SiteConfig c = LoadSiteConfig(path_);
  EXPECT_EQ(c.smtp_tls, SiteConfig::kTlsOpportunistic);
  EXPECT_EQ(c.smtp_connect_timeout, 3);
  EXPECT_EQ(c.smtp_attempt_timeout, 12);
  EXPECT_EQ(c.request_time_limit, 45);
  EXPECT_EQ(c.database_connect_timeout, 2);
  EXPECT_EQ(c.database_statement_timeout, 60);
  EXPECT_EQ(c.manage_url, u"https://jobs.test/m.cgi");
  EXPECT_EQ(c.manage_lookups_per_day, 7);
  EXPECT_EQ(c.notify_give_up_after, 2);
  EXPECT_EQ(c.notify_time_limit, 600);

  struct Case {
    std::string file;
    std::string error;
  } cases[] = {
      {"[smtp]\ntls = yes\n", "line 2: tls must be required or opportunistic"},
      {"[smtp]\ntls = Required\n", "tls must be"},
      {"[smtp]\ntls = required\n  ly\n", "line 3: tls must be"},
      {"[request]\ntime_limit = 0\n", "time_limit must be a number of seconds"},
      {"[request]\ntime_limit = 3601\n", "time_limit must be"},
      {"[database]\n\nstatement_timeout = 1.5\n", "line 3: statement_timeout"},
      {"[manage]\nlookups_per_day = -1\n", "lookups_per_day must be"},
      {"[notify]\ngive_up_after = 0\n", "give_up_after must be"},
      {"[notify]\ntime_limit = 59\n",
       "time_limit must be a number of "
       "seconds from 60"},
  };
  for (const Case& c : cases) {
    Write(c.file);
    EXPECT_THAT(LoadError(), HasSubstr(c.error)) << c.file;
  }
}

TEST_F(SiteConfigTest, SafeguardKeysHaveTheirDefaultsAndRanges) {
  const SiteConfig defaults = LoadSiteConfig(path_);
  EXPECT_EQ(defaults.confirmation, SiteConfig::kConfirmationRequired);
  EXPECT_EQ(defaults.confirm_days, 7);
  EXPECT_EQ(defaults.keep_stopped_days, 30);
  EXPECT_EQ(defaults.mails_per_address_per_day, 3);
  EXPECT_EQ(defaults.per_client_per_hour, 10);
  EXPECT_EQ(defaults.bounces_to_stop, 3);
  EXPECT_TRUE(defaults.operator_name.empty());
  EXPECT_TRUE(defaults.bounce_address.empty());

  Write(
      "[site]\noperator_name = 株式会社例\noperator_address = 東京都\n"
      "operator_contact = 03-0000-0000\n"
      "[registration]\nconfirmation = none\nconfirm_days = 2\n"
      "keep_stopped_days = 90\nmails_per_address_per_day = 5\n"
      "per_client_per_hour = 40\n"
      "[mail]\nbounce_address = bounces@jobs.test\nbounces_to_stop = 1\n");
  const SiteConfig c = LoadSiteConfig(path_);
  EXPECT_EQ(c.operator_name, u"株式会社例");
  EXPECT_EQ(c.operator_address, u"東京都");
  EXPECT_EQ(c.operator_contact, u"03-0000-0000");
  EXPECT_EQ(c.confirmation, SiteConfig::kConfirmationNone);
  EXPECT_EQ(c.confirm_days, 2);
  EXPECT_EQ(c.keep_stopped_days, 90);
  EXPECT_EQ(c.mails_per_address_per_day, 5);
  EXPECT_EQ(c.per_client_per_hour, 40);
  EXPECT_EQ(c.bounce_address, u"bounces@jobs.test");
  EXPECT_EQ(c.bounces_to_stop, 1);
  EXPECT_TRUE(c.unknown_keys.empty());

  const struct {
    std::string file;
    std::string error;
  } cases[] = {
      {"[registration]\nconfirmation = off\n",
       "confirmation must be required or none"},
      {"[registration]\nconfirm_days = 0\n", "confirm_days must be"},
      {"[registration]\nkeep_stopped_days = 3651\n", "keep_stopped_days"},
      {"[registration]\nmails_per_address_per_day = 0\n",
       "mails_per_address_per_day must be"},
      {"[registration]\nper_client_per_hour = x\n", "per_client_per_hour"},
      {"[mail]\nbounces_to_stop = 0\n", "bounces_to_stop must be"},
  };
  for (const auto& c : cases) {
    Write(c.file);
    EXPECT_THAT(LoadError(), HasSubstr(c.error)) << c.file;
  }
}

TEST_F(SiteConfigTest, UnknownKeysAreNotedWithTheirLine) {
  Write(
      "[smtp]\ntsl = required\nfirst_relay = r\n[stmp]\nfirst_relay = x\n"
      "  continued\n[site]\ntop_url = u\n");
  SiteConfig c = LoadSiteConfig(path_);
  EXPECT_THAT(c.unknown_keys,
              ::testing::ElementsAre("line 2: [smtp] tsl",
                                     "line 5: [stmp] first_relay"));
  EXPECT_EQ(c.first_relay, u"r");
  EXPECT_TRUE(IsKnownSiteConfigKey("ad3", "banner_tracking"));
  EXPECT_TRUE(IsKnownSiteConfigKey("smtp", "tls"));
  EXPECT_FALSE(IsKnownSiteConfigKey("ad4", "link"));
}

TEST_F(SiteConfigTest, OverlongLineIsReportedNotSplit) {
  std::string url = "https://long.test/" + std::string(300, 'a');
  Write("[site]\ntop_url = " + url + "\nmap_base = m\n");
  std::string error = LoadError();
  EXPECT_THAT(error, HasSubstr("line 2"));
  EXPECT_THAT(error, HasSubstr("longer than"));

  // The same value written on continuation lines is read whole.
  std::string file = "[site]\ntop_url = https://long.test/\n";
  for (int i = 0; i < 3; ++i) file += "  " + std::string(100, 'a') + "\n";
  Write(file);
  EXPECT_EQ(LoadSiteConfig(path_).top_url, U16(url));
}

TEST_F(SiteConfigTest, FileThatIsThereButCannotBeReadFails) {
  // A folder in the place of the file: present, so no defaults stand.
  ASSERT_EQ(mkdir(path_.c_str(), 0700), 0);
  EXPECT_THAT(LoadError(), HasSubstr("cannot be read"));
  rmdir(path_.c_str());

  if (geteuid() != 0) {  // root reads any file whatever its mode
    Write("[site]\ntop_url = x\n");
    chmod(path_.c_str(), 0);
    EXPECT_THAT(LoadError(), HasSubstr("cannot be opened"));
  }
}

TEST(SiteHomeTest, EnvironmentNamesTheHome) {
  const char* saved = std::getenv("Q_LOK_HOME");
  std::string old = saved ? saved : "";
  struct Case {
    const char* value;  // nullptr: unset
    std::string home;
  } cases[] = {
      {nullptr, "/var/lib/q_lok"},
      {"", "/var/lib/q_lok"},
      {"/srv/site", "/srv/site"},
  };
  for (const Case& c : cases) {
    if (c.value) {
      setenv("Q_LOK_HOME", c.value, 1);
    } else {
      unsetenv("Q_LOK_HOME");
    }
    EXPECT_EQ(SiteHome(), c.home);
  }
  if (saved) {
    setenv("Q_LOK_HOME", old.c_str(), 1);
  } else {
    unsetenv("Q_LOK_HOME");
  }
}

}  // namespace
}  // namespace qlok
