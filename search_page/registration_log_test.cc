#include "search_page/registration_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/failure.h"
#include "platform/process_testing.h"
#include "text/unicode.h"

namespace qlok {
namespace {

namespace fs = std::filesystem;
using testing_support::RunInProcesses;
using testing_support::ScratchFolder;

const std::u16string kSelect =
    u"SELECT * FROM 求人 WHERE ((職種1 like '%営業%')) ORDER BY rank DESC "
    u"limit 1000;";
const std::string kEarlier = "9:00:00\r\nメルアドなし  along=100\r\n求人\r\n";

TEST(AppendRegistrationLogTest, AppendsOneRecordAndEmptiesLateAtNight) {
  struct Case {
    const char* name;
    DateTime now;
    std::u16string address;
    int turn;
    std::u16string query;
    bool emptied_first;
    std::string record;  // UTF-8 here, code page 932 in the file
  };
  const std::vector<Case> cases = {
      {"search at noon",
       {2024, 5, 6, 12, 0, 0},
       u"",
       100,
       kSelect,
       false,
       "12:00:00\r\nメルアドなし  along=100\r\n" + U8(kSelect) + "\r\n"},
      {"registration",
       {2024, 5, 6, 8, 5, 9},
       u"taro@example.jp",
       105,
       kSelect,
       false,
       "8:05:09\r\ntaro@example.jp  along=105\r\n" + U8(kSelect) + "\r\n"},
      {"bare table name",
       {2024, 5, 6, 12, 0, 0},
       u"",
       1,
       u"求人",
       false,
       "12:00:00\r\nメルアドなし  along=1\r\n求人\r\n"},
      {"exactly 23:50:00 appends",
       {2024, 5, 6, 23, 50, 0},
       u"",
       101,
       u"求人",
       false,
       "23:50:00\r\nメルアドなし  along=101\r\n求人\r\n"},
      {"23:50:01 empties first",
       {2024, 5, 6, 23, 50, 1},
       u"",
       101,
       u"求人",
       true,
       "23:50:01\r\nメルアドなし  along=101\r\n求人\r\n"},
      {"23:50:30 empties first",
       {2024, 5, 6, 23, 50, 30},
       u"",
       102,
       u"求人",
       true,
       "23:50:30\r\nメルアドなし  along=102\r\n求人\r\n"},
      {"23:59:59 empties first",
       {2024, 5, 6, 23, 59, 59},
       u"a@b.jp",
       103,
       u"求人",
       true,
       "23:59:59\r\na@b.jp  along=103\r\n求人\r\n"},
      {"midnight appends",
       {2024, 5, 7, 0, 0, 0},
       u"",
       104,
       u"求人",
       false,
       "0:00:00\r\nメルアドなし  along=104\r\n求人\r\n"},
      {"23:49:59 appends",
       {2024, 5, 6, 23, 49, 59},
       u"",
       105,
       u"求人",
       false,
       "23:49:59\r\nメルアドなし  along=105\r\n求人\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InMemoryTextFiles files;
    files.files[kRegistrationLogPath] = ToAnsi(U16(kEarlier));
    FixedClock clock(c.now);
    AppendRegistrationLog(files, clock, c.address, c.turn, c.query);
    const std::string expected = (c.emptied_first ? "" : kEarlier) + c.record;
    EXPECT_EQ(U8(FromAnsi(files.files[kRegistrationLogPath])), expected);
  }
}

TEST(AppendRegistrationLogTest, WritesTheAnsiCodePage) {
  InMemoryTextFiles files;
  files.files["received/worqlet.txt"] = "";
  FixedClock clock({2024, 5, 6, 12, 0, 0});
  AppendRegistrationLog(files, clock, u"", 100, u"求人");
  EXPECT_EQ(files.files["received/worqlet.txt"],
            "12:00:00\r\n"
            "\x83\x81\x83\x8B\x83\x41\x83\x68\x82\xC8\x82\xB5  along=100\r\n"
            "\x8B\x81\x90\x6C\r\n");
}

TEST(AppendRegistrationLogTest, FailuresReachTheCaller) {
  FixedClock noon({2024, 5, 6, 12, 0, 0});
  FixedClock late({2024, 5, 6, 23, 55, 0});
  {
    SCOPED_TRACE("missing log");
    InMemoryTextFiles files;
    EXPECT_THROW(AppendRegistrationLog(files, noon, u"", 100, u"求人"),
                 Failure);
    EXPECT_THROW(AppendRegistrationLog(files, late, u"", 100, u"求人"),
                 Failure);
    EXPECT_TRUE(files.files.empty()) << "the log must not be created";
  }
  {
    SCOPED_TRACE("unwritable log");
    InMemoryTextFiles files;
    files.files[kRegistrationLogPath] = "kept";
    files.fail_all = true;
    EXPECT_THROW(AppendRegistrationLog(files, noon, u"", 100, u"求人"),
                 Failure);
    EXPECT_THROW(AppendRegistrationLog(files, late, u"", 100, u"求人"),
                 Failure);
    EXPECT_EQ(files.files[kRegistrationLogPath], "kept");
  }
  {
    SCOPED_TRACE("missing log on disk");
    ScratchFolder home;
    auto files = NewSiteTextFiles(home.path());
    EXPECT_THROW(AppendRegistrationLog(*files, noon, u"", 100, u"求人"),
                 Failure);
    EXPECT_FALSE(fs::exists(home.path() + "/received/worqlet.txt"));
  }
}

TEST(AppendRegistrationLogTest, ConcurrentRequestsLeaveWholeRecords) {
  // Twenty requests log at once on a real file; the records must not mix.
  constexpr int kRequests = 20;
  ScratchFolder home;
  fs::create_directories(home.path() + "/received");
  { std::ofstream(home.path() + "/received/worqlet.txt"); }
  // A long query, so that a record written in pieces would show.
  std::u16string query = u"SELECT * FROM 求人 WHERE ";
  for (int i = 0; i < 2000; ++i) query += u"(内容 like '%事務%') OR ";
  query += u"(1=1);";

  const int failed = RunInProcesses(kRequests, [&](int i) {
    auto files = NewSiteTextFiles(home.path());
    FixedClock clock({2024, 5, 6, 12, 0, 0});
    AppendRegistrationLog(*files, clock, i % 2 ? u"a@b.jp" : u"", 100 + i,
                          query);
    return true;
  });
  ASSERT_EQ(failed, 0);

  std::ifstream in(home.path() + "/received/worqlet.txt", std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  const std::string text = U8(FromAnsi(bytes.str()));
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t end; (end = text.find("\r\n", at)) != std::string::npos;
       at = end + 2)
    lines.push_back(text.substr(at, end - at));
  EXPECT_EQ(at, text.size()) << "the log ends inside a line";
  ASSERT_EQ(lines.size(), 3u * kRequests);
  std::set<int> turns;
  for (size_t r = 0; r < lines.size(); r += 3) {
    EXPECT_EQ(lines[r], "12:00:00");
    const std::string& who = lines[r + 1];
    const size_t along = who.find("  along=");
    ASSERT_NE(along, std::string::npos) << who;
    const int turn = std::stoi(who.substr(along + 8));
    EXPECT_EQ(who.substr(0, along),
              (turn - 100) % 2 ? "a@b.jp" : "メルアドなし");
    turns.insert(turn);
    EXPECT_EQ(lines[r + 2], U8(query)) << "record of turn " << turn;
  }
  EXPECT_EQ(turns.size(), static_cast<size_t>(kRequests));
}

}  // namespace
}  // namespace qlok
