// q_lok-admin registrations and notify on a SQLite site, through RunAdmin.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "consent/consent_store.h"
#include "platform/database.h"
#include "platform/process_testing.h"
#include "platform/text_files.h"
#include "registrations/registration_store.h"
#include "text/unicode.h"
#include "tools/admin_commands.h"
#include "tools/csv.h"

namespace qlok {

using testing_support::ScratchFolder;
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class RegistrationsCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = scratch_.path();
    ASSERT_EQ(Run({"site"}), kAdminDone) << err_;
    ASSERT_EQ(Run({"init"}), kAdminDone) << err_;
    auto db = OpenConnection(u"sqlite:jobs.db", home_.string(),
                             DatabaseOptions{0, 0, true});
    // Stored as the search page stores them, under the site's token key.
    std::unique_ptr<TextFiles> files = NewSiteTextFiles(home_.string());
    auto store = NewSqlRegistrationStore(
        *db, nullptr, [&files] { return LoadTokenKey(*files); });
    const DateTime now{2026, 12, 9, 12, 0, 0};
    for (const auto& [address, number, job_type] :
         std::vector<std::tuple<std::u16string, int, std::u16string>>{
             {u"taro@example.jp", 1, u"事務"},
             {u"taro@example.jp", 3, u"経理"},
             {u"hanako@example.jp", 1, u"看護"}}) {
      RegistrationInput input;
      input.address = address;
      input.number = number;
      input.settings = u"_su=ss0\r\naaa=" + address + u"\r\naac=" + job_type +
                       u"\r\nasa=2\r\nzzz";
      // Confirmed as a site that confirms otherwise would have it.
      NewSqlConsentStore(*db)->Record(store->Save(input, now).id, true,
                                      {u"192.0.2.7", u"Mozilla/5.0", u""}, now,
                                      kConfirmedBySite);
    }
    db->Execute(
        u"INSERT INTO 求人 (社名, 職種1, rank) VALUES ('新', '事務', 1)");
  }

  int Run(std::vector<std::string> args) {
    args.push_back("--home");
    args.push_back(home_.string());
    std::ostringstream out, err;
    const int status = RunAdmin(args, out, err);
    out_ = out.str();
    err_ = err.str();
    return status;
  }

  ScratchFolder scratch_;
  fs::path home_;
  std::string out_;
  std::string err_;
};

TEST_F(RegistrationsCommandTest, WrongUsesChangeNothing) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"registrations", "stop"}, "stop takes ADDRESS [NUMBER]"},
      {{"registrations", "stop", "taro@example.jp", "6"},
       "NUMBER must be 1 to 5: 6"},
      {{"registrations", "stop", "taro@example.jp", "1x"},
       "NUMBER must be 1 to 5: 1x"},
      {{"registrations", "a@example.jp", "b@example.jp"},
       "takes [ADDRESS] or stop ADDRESS [NUMBER]"},
      {{"registrations", "a@example.jp", "--csv", "-"}, "takes no ADDRESS"},
      {{"notify", "extra"}, "notify takes no arguments"},
      {{"notify", "--dry-run=yes"}, "--dry-run takes no value"},
  };
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(Run(args), kAdminWrongUsage) << message;
    EXPECT_THAT(err_, HasSubstr(message));
    EXPECT_THAT(out_, IsEmpty());
  }
  ASSERT_EQ(Run({"registrations"}), kAdminDone);
  EXPECT_EQ(out_,
            "registrations: 3 active, 0 stopped\n"
            "active by number:  1: 2  2: 0  3: 1  4: 0  5: 0\n");
}

TEST_F(RegistrationsCommandTest, ListStopAndExport) {
  ASSERT_EQ(Run({"registrations", "taro@example.jp"}), kAdminDone) << err_;
  EXPECT_THAT(out_, HasSubstr("taro@example.jp number 1: active, registered "
                              "2026/12/09 12:00:00"));
  EXPECT_THAT(out_, HasSubstr("  search: SELECT * FROM 求人 WHERE (職種1 like "
                              "'%経理%'"));
  ASSERT_EQ(Run({"registrations", "nobody@example.jp"}), kAdminDone);
  EXPECT_EQ(out_, "no registrations for nobody@example.jp\n");

  ASSERT_EQ(Run({"registrations", "stop", "taro@example.jp", "3"}), kAdminDone);
  EXPECT_EQ(out_, "stopped 1 registration of taro@example.jp\n");
  ASSERT_EQ(Run({"registrations", "stop", "taro@example.jp"}), kAdminDone);
  EXPECT_EQ(out_, "stopped 1 registration of taro@example.jp\n");
  ASSERT_EQ(Run({"registrations"}), kAdminDone);
  EXPECT_THAT(out_, HasSubstr("1 active, 2 stopped"));

  const fs::path file = home_ / "out.csv";
  ASSERT_EQ(Run({"registrations", "--csv", file.string()}), kAdminDone);
  std::ifstream in(file, std::ios::binary);
  CsvReader reader(in, "out.csv");
  CsvRecord record;
  std::vector<std::vector<std::string>> rows;
  while (reader.Next(record)) rows.push_back(record.fields);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0][1], "address");
  EXPECT_EQ(rows[1][1], "taro@example.jp");
  EXPECT_EQ(rows[1][3], "0");  // stopped
  EXPECT_THAT(rows[3][9], HasSubstr("\r\naac=看護\r\n"));
  EXPECT_FALSE(fs::exists(home_ / "out.csv.partial"));
}

TEST_F(RegistrationsCommandTest, NotifyDryRunAndAFailingRelay) {
  // Both relays on a port nobody listens on.
  std::ofstream(home_ / "site.conf")
      << "[smtp]\nfirst_relay = 127.0.0.1\nsecond_relay = 127.0.0.1\n"
         "submission_port = 9\nrelay_port = 9\n";
  auto db = OpenConnection(u"sqlite:jobs.db", home_.string());
  db->Execute(u"UPDATE registrations SET mark = -1");  // the job is new

  ASSERT_EQ(Run({"notify", "--dry-run"}), kAdminDone) << err_;
  EXPECT_EQ(out_,
            "taro@example.jp number 1: 1 job\n"
            "notify --dry-run: 3 registrations, 1 mails to send, 1 jobs, 0 "
            "failures (1 jobs in the table, 1 seen for the first time)\n");
  ASSERT_EQ(Run({"notify", "--only", "hanako@example.jp"}), kAdminDone);
  EXPECT_THAT(out_, HasSubstr("notify: 1 registrations, 0 mails"));

  EXPECT_EQ(Run({"notify"}), kAdminFailed);
  EXPECT_THAT(err_, HasSubstr("q_lok-admin notify: taro@example.jp number 1: "
                              "the mail was given up: "));
  EXPECT_THAT(out_, HasSubstr("0 mails, 0 jobs, 1 failures"));
}

TEST_F(RegistrationsCommandTest,
       LoadedJobsAreNumberedBeforeTheNextRegistration) {
  ASSERT_EQ(Run({"generate", "20"}), kAdminDone) << err_;
  EXPECT_THAT(out_, HasSubstr("numbered 21 new jobs for the daily mail"));
  {
    // Registered after the load, before any daily run: its search (every
    // job) finds nothing new.
    auto db = OpenConnection(u"sqlite:jobs.db", home_.string());
    RegistrationInput input;
    input.address = u"late@example.jp";
    input.settings = u"_su=ss0\r\naaa=late@example.jp\r\nasa=2\r\nzzz";
    const DateTime at{2026, 12, 9, 13, 0, 0};
    NewSqlConsentStore(*db)->Record(
        NewSqlRegistrationStore(*db)->Save(input, at).id, true, {}, at,
        kConfirmedBySite);
  }
  ASSERT_EQ(Run({"notify", "--dry-run", "--only", "late@example.jp"}),
            kAdminDone);
  EXPECT_THAT(out_, HasSubstr(": 1 registrations, 0 mails to send"));
  ASSERT_EQ(Run({"generate", "3", "--seed", "7"}), kAdminDone) << err_;
  EXPECT_THAT(out_, HasSubstr("numbered 3 new jobs"));
  ASSERT_EQ(Run({"notify", "--dry-run", "--only", "late@example.jp"}),
            kAdminDone);
  EXPECT_THAT(out_, HasSubstr("late@example.jp number 1: 3 jobs\n"));
}

}  // namespace
}  // namespace qlok
