#include "tools/site_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "jobs/job_columns.h"
#include "platform/database.h"
#include "platform/process_testing.h"
#include "platform/testing/fake_smtp_relay.h"
#include "platform/user_access.h"
#include "text/unicode.h"
#include "tools/admin_commands.h"
#include "tools/job_table.h"
#include "tools/site_layout.h"
#include "tools/site_tables.h"

namespace qlok {

using testing_support::ScratchFolder;
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using Script = FakeSmtpRelay::Script;

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A site home that is ready for the user "nobody": laid out as
// "q_lok-admin site" does, the folders and files the web server writes
// open to it, a job table, and both relays at a scripted relay on loopback.
class SiteCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(relay_.port(), 0);
    // A fresh home on every call: some cases set up again for each of
    // their rows.
    fs::permissions(scratch_.path(), fs::perms(0755));
    home_ = fs::path(scratch_.path()) / ("home" + std::to_string(++homes_));
    LayOutSite(home_.string());
    // SQLite writes its journal beside the database.
    fs::permissions(home_, fs::perms(0777));
    WriteSiteConf(relay_.port(), "");
    CreateSiteTables(*OpenConnection(u"sqlite:jobs.db", home_.string(),
                                     DatabaseOptions{0, 0, true}));
    // The database and its folder hold visitors' addresses: nobody reaches
    // them through its group, others not at all.
    if (::geteuid() != 0) {
      GTEST_SKIP() << "only root can give the database to nobody's group";
    }
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    for (const auto& [path, mode] :
         {std::pair{home_, 0770}, std::pair{home_ / "jobs.db", 0660}}) {
      ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), nobody->pw_gid),
                0);
      fs::permissions(path, fs::perms(mode));
    }
    // The site stays the tester's; what nobody needs is opened to others.
    for (const char* folder : {"pw", "received", "settings", "outbox"}) {
      fs::permissions(home_ / folder, fs::perms(0777));
    }
    for (const char* file : {"pw/qevo.txt", "pw/mail.txt", "pw/token_key",
                             "received/worqlet.txt"}) {
      fs::permissions(home_ / file, fs::perms(0666));
    }
  }

  void WriteSiteConf(int port, const std::string& more) {
    WriteFile(home_ / "site.conf",
              "[smtp]\nfirst_relay = 127.0.0.1\nsecond_relay = 127.0.0.1\n"
              "submission_port = " +
                  std::to_string(port) + "\nrelay_port = " +
                  std::to_string(port) + "\nconnect_timeout = 1\n" + more);
  }

  int Check(const std::string& user = "nobody") {
    std::ostringstream out;
    const int problems = CheckSite({home_.string(), user, std::nullopt}, out);
    report_ = out.str();
    return problems;
  }

  FakeSmtpRelay relay_{Script{}};
  ScratchFolder scratch_;
  int homes_ = 0;
  fs::path home_;
  std::string report_;
};

TEST_F(SiteCheckTest, AGoodSiteHomePasses) {
  EXPECT_EQ(Check(), 0) << report_;
  EXPECT_THAT(report_, HasSubstr("no problems: the site home is ready for "
                                 "nobody\n"));
  EXPECT_THAT(report_,
              HasSubstr("the table 求人 has its " +
                        std::to_string(JobColumns().size()) + " columns"));
  EXPECT_THAT(report_, HasSubstr("the word index agrees with the job table"));
  EXPECT_THAT(report_,
              HasSubstr("relay 127.0.0.1:" + std::to_string(relay_.port()) +
                        ": answers EHLO; offers AUTH"));
  EXPECT_THAT(report_, Not(HasSubstr("PROBLEM")));
}

TEST_F(SiteCheckTest, AnEmptySenderIsNotedUntilAllThreeAreWritten) {
  const struct {
    std::string site;
    bool noted;
  } cases[] = {
      {"", true},
      {"[site]\noperator_name = 株式会社例\n", true},
      {"[site]\noperator_name = 株式会社例\noperator_address = 東京都\n", true},
      {"[site]\noperator_name = 株式会社例\noperator_address = 東京都\n"
       "operator_contact = 03-0000-0000\n",
       false},
  };
  for (const auto& c : cases) {
    WriteSiteConf(relay_.port(), c.site);
    EXPECT_EQ(Check(), 0) << report_;
    EXPECT_EQ(
        report_.find("do not show who sends the mails") != std::string::npos,
        c.noted)
        << c.site;
  }
}

TEST_F(SiteCheckTest, EachBrokenSiteHomeIsFound) {
  FakeSmtpRelay silent(Script{.silent = true});
  FakeSmtpRelay plain(Script{.ehlo_answer = "250 relay.test"});
  const int silent_port = silent.port();
  const int plain_port = plain.port();
  struct Case {
    const char* name;
    std::function<void()> breaks;
    std::string problem;  // what the PROBLEM line says; HOME the site home
  } cases[] = {
      {"missing file", [&] { fs::remove(home_ / "pw/qevo.txt"); },
       "PROBLEM  pw/qevo.txt: missing (the connection string (line 3))"},
      {"missing log", [&] { fs::remove(home_ / "received/worqlet.txt"); },
       "PROBLEM  received/worqlet.txt: missing"},
      {"unwritable settings",
       [&] { fs::permissions(home_ / "settings", fs::perms(0755)); },
       "PROBLEM  settings: nobody may not write to it ("},
      {"unreadable key below settings",
       [&] {
         fs::create_directories(home_ / "settings/MyApp/Startup_j");
         fs::permissions(home_ / "settings/MyApp", fs::perms(0777));
         fs::permissions(home_ / "settings/MyApp/Startup_j", fs::perms(0777));
         WriteFile(home_ / "settings/MyApp/Startup_j/jun", "100");
         fs::permissions(home_ / "settings/MyApp/Startup_j/jun",
                         fs::perms(0600));
       },
       "PROBLEM  settings store: HOME/settings/MyApp/Startup_j/jun: nobody "
       "may not read and write to it"},
      {"lock file of another user",
       [&] {
         WriteFile(home_ / "settings/store.lock", "");
         fs::permissions(home_ / "settings/store.lock", fs::perms(0644));
       },
       "PROBLEM  settings store: HOME/settings/store.lock: nobody may not "
       "write to it"},
      {"unwritable outbox",
       [&] { fs::permissions(home_ / "outbox", fs::perms(0755)); },
       "PROBLEM  outbox: nobody may not write to it ("},
      {"database folder without write",
       [&] { fs::permissions(home_, fs::perms(0750)); },
       "PROBLEM  database sqlite:jobs.db: HOME: nobody may not write to it"},
      {"database readable by others",
       [&] { fs::permissions(home_ / "jobs.db", fs::perms(0664)); },
       "PROBLEM  database sqlite:jobs.db: HOME/jobs.db: others may read it "
       "(0664)"},
      {"database folder open to others",
       [&] { fs::permissions(home_, fs::perms(0771)); },
       "PROBLEM  database sqlite:jobs.db: HOME: others may enter it (0771)"},
      {"no registration tables",
       [&] {
         OpenConnection(u"sqlite:jobs.db", home_.string())
             ->Execute(u"DROP TABLE seen_jobs");
       },
       "PROBLEM  database sqlite:jobs.db: the table seen_jobs cannot be "
       "read"},
      {"jobs inserted by hand",
       [&] {
         OpenConnection(u"sqlite:jobs.db", home_.string())
             ->Execute(u"INSERT INTO 求人 (社名) VALUES ('手入力')");
       },
       "PROBLEM  database sqlite:jobs.db: the job table was changed by hand "
       "since the word index was kept"},
      {"closed site home", [&] { fs::permissions(home_, fs::perms(0700)); },
       "PROBLEM  site home: nobody may not enter it"},
      {"bad connection string",
       [&] { WriteFile(home_ / "pw/qevo.txt", "1\n2\nmysql://db/jobs\n4\n"); },
       "PROBLEM  database mysql://db/jobs: cannot be opened: the connection "
       "string is neither"},
      {"short connection file",
       [&] { WriteFile(home_ / "pw/qevo.txt", "1\n2\nsqlite:jobs.db\n"); },
       "PROBLEM  pw/qevo.txt: "},
      {"no database file", [&] { fs::remove(home_ / "jobs.db"); },
       "PROBLEM  database sqlite:jobs.db: HOME/jobs.db: no such file"},
      {"no job table",
       [&] {
         fs::remove(home_ / "jobs.db");
         OpenConnection(u"sqlite:jobs.db", home_.string(),
                        DatabaseOptions{0, 0, true})
             ->Execute(u"CREATE TABLE other (a)");
         fs::permissions(home_ / "jobs.db", fs::perms(0666));
       },
       "PROBLEM  database sqlite:jobs.db: the table 求人 cannot be read"},
      {"missing column",
       [&] {
         fs::remove(home_ / "jobs.db");
         std::u16string create = u"CREATE TABLE 求人 (";
         for (const JobColumn& column : JobColumns()) {
           if (column.name == u"電話" || column.name == u"rank") continue;
           create += std::u16string(column.name) + u", ";
         }
         create.resize(create.size() - 2);
         OpenConnection(u"sqlite:jobs.db", home_.string(),
                        DatabaseOptions{0, 0, true})
             ->Execute(create + u")");
         fs::permissions(home_ / "jobs.db", fs::perms(0666));
       },
       "PROBLEM  database sqlite:jobs.db: the table 求人 lacks the columns "
       "電話, rank"},
      {"unknown key", [&] { WriteSiteConf(relay_.port(), "tsl = required\n"); },
       "PROBLEM  site.conf: line 7: [smtp] tsl: no program reads this key"},
      {"unparsable site.conf",
       [&] { WriteSiteConf(relay_.port(), "this is no key\n"); },
       "PROBLEM  site.conf: "},
      {"silent relay", [&] { WriteSiteConf(silent_port, ""); },
       "PROBLEM  relay 127.0.0.1:" + std::to_string(silent_port) +
           ": no greeting within 1 s"},
      {"refusing relay",
       [&] { WriteSiteConf(FakeSmtpRelay::ClosedPort(), ""); },
       ": cannot connect: Connection refused"},
      {"relay without AUTH", [&] { WriteSiteConf(plain_port, ""); },
       "PROBLEM  relay 127.0.0.1:" + std::to_string(plain_port) +
           ": answers EHLO, but no AUTH, and logins are configured for it"},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    c.breaks();
    EXPECT_GE(Check(), 1) << c.name << "\n" << report_;
    std::string problem = c.problem;
    for (size_t at; (at = problem.find("HOME")) != std::string::npos;) {
      problem.replace(at, 4, home_.string());
    }
    EXPECT_THAT(report_, HasSubstr(problem)) << c.name << "\n" << report_;
    EXPECT_THAT(report_, HasSubstr(" found\n")) << c.name;
  }
}

TEST_F(SiteCheckTest, ABadValueInSiteConfLeavesTheRelaysUnprobed) {
  // One mistyped port: the relays the site names are unknown, and the
  // example relays of the defaults are not the site's.
  WriteSiteConf(relay_.port(), "");
  WriteFile(home_ / "site.conf",
            "[smtp]\nfirst_relay = 127.0.0.1\nsubmission_port = 5870O\n");
  EXPECT_EQ(Check(), 1) << report_;
  EXPECT_THAT(report_, HasSubstr("PROBLEM  site.conf: "));
  EXPECT_THAT(report_, HasSubstr("note     relays: not probed"));
  EXPECT_THAT(report_, Not(HasSubstr("relay smtp")));
  EXPECT_THAT(report_, Not(HasSubstr("example.jp")));
}

// The advice names the commands as the checked user runs them, so that
// following it never leaves a file of another owner.
TEST_F(SiteCheckTest, AdviceMakesFilesOfTheCheckedUser) {
  const bool root = ::geteuid() == 0;
  const std::string self = CurrentAccount().name;
  const std::string as_nobody =
      root ? "runuser -u nobody -- " : "sudo -u nobody ";
  struct Case {
    const char* name;
    const char* user;
    std::function<void()> breaks;
    std::string advice;  // HOME the site home
  } cases[] = {
      {"no database file, another user", "nobody",
       [&] { fs::remove(home_ / "jobs.db"); },
       "create it with \"" + as_nobody + "q_lok-admin init --home HOME\""},
      {"no database file, the user itself", self.c_str(),
       [&] { fs::remove(home_ / "jobs.db"); },
       "create it with \"q_lok-admin init --home HOME\""},
      {"no table, another user", "nobody",
       [&] {
         OpenConnection(u"sqlite:jobs.db", home_.string())
             ->Execute(u"DROP TABLE seen_jobs");
       },
       "if it does not exist yet: " + as_nobody +
           "q_lok-admin init --home "
           "HOME"},
      {"missing folder, another user", "nobody",
       [&] { fs::remove_all(home_ / "outbox"); },
       root ? "lay it out with \"q_lok-admin site HOME --owner nobody\""
            : "lay it out with \"sudo -u nobody q_lok-admin site HOME\""},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    c.breaks();
    EXPECT_GE(Check(c.user), 1) << c.name << "\n" << report_;
    std::string advice = c.advice;
    for (size_t at; (at = advice.find("HOME")) != std::string::npos;) {
      advice.replace(at, 4, home_.string());
    }
    EXPECT_THAT(report_, HasSubstr("what to do: " + advice)) << c.name << "\n"
                                                             << report_;
  }
}

TEST_F(SiteCheckTest, AnUnknownUserIsAProblem) {
  EXPECT_GE(Check("no-such-user-qlok"), 1);
  EXPECT_THAT(report_, HasSubstr("PROBLEM  user no-such-user-qlok: no such "
                                 "user on this system"));
}

TEST_F(SiteCheckTest, TheCommandExitsWithFailureOnProblems) {
  std::ostringstream out, err;
  EXPECT_EQ(RunAdmin({"check", "--home", home_.string(), "--user", "nobody"},
                     out, err),
            kAdminDone)
      << out.str() << err.str();
  fs::permissions(home_ / "settings", fs::perms(0755));
  EXPECT_EQ(RunAdmin({"check", "--home", home_.string(), "--user", "nobody"},
                     out, err),
            kAdminFailed);
  EXPECT_THAT(out.str(), HasSubstr("what to do: give it to nobody, for "
                                   "example: chown -R nobody: " +
                                   home_.string() + "/settings"));
}

}  // namespace
}  // namespace qlok
