#include "search/turn_number.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/process_testing.h"
#include "text/date_time.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using testing_support::RunInProcesses;
using testing_support::ScratchFolder;

class FakeProcessInfo : public ProcessInfo {
 public:
  bool others_running = false;
  bool instance_test_fails = false;
  bool process_id_fails = false;
  int64_t process_id = 4242;

  bool AnotherInstanceRunning() override {
    if (instance_test_fails) throw Failure("no process table");
    return others_running;
  }
  int64_t CurrentProcessId() override {
    if (process_id_fails) throw Failure("no process id");
    return process_id;
  }
};

// An in-memory store whose reads or writes can be made to fail.
class FlakyStore : public InMemorySettingsStore {
 public:
  bool reads_fail = false;
  bool writes_fail = false;
  int writes = 0;

  std::u16string Read(const std::u16string& app, const std::u16string& section,
                      const std::u16string& key,
                      const std::u16string& fallback) override {
    if (reads_fail) throw Failure("store unreadable");
    return InMemorySettingsStore::Read(app, section, key, fallback);
  }
  void Write(const std::u16string& app, const std::u16string& section,
             const std::u16string& key, const std::u16string& value) override {
    ++writes;
    if (writes_fail) throw Failure("store unwritable");
    InMemorySettingsStore::Write(app, section, key, value);
  }
  // What the numbering left under MyApp/Startup_j, with reads working.
  std::u16string Get(const std::u16string& key) {
    return InMemorySettingsStore::Read(u"MyApp", u"Startup_j", key, u"<none>");
  }
};

constexpr DateTime kNoon = {2024, 5, 6, 12, 0, 0};

TEST(AssignTurnNumberTest, NumbersAndLeavesItsTrace) {
  struct Case {
    const char* name;
    bool others_running;
    std::optional<std::u16string> stored_jun;
    int expected;
  };
  const std::vector<Case> cases = {
      {"alone starts again at 100", false, std::nullopt, 100},
      {"alone ignores the stored number", false, u"104", 100},
      {"others running count on", true, u"104", 105},
      {"others running, no number yet", true, std::nullopt, 101},
      {"not a number counts as nothing", true, u"abc", 1},
      {"blanks around the number", true, u" 104 ", 105},
      {"half rounds to even, up", true, u"3.5", 5},
      {"largest number cannot grow", true, u"2147483647", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlakyStore store;
    if (c.stored_jun)
      store.Write(u"MyApp", u"Startup_j", u"jun", *c.stored_jun);
    FakeProcessInfo processes;
    processes.others_running = c.others_running;
    FixedClock clock(kNoon);

    const int turn = AssignTurnNumber(store, processes, clock);
    EXPECT_EQ(turn, c.expected);
    const std::u16string key = Digits(c.expected);
    EXPECT_EQ(U8(store.Get(u"jun")), U8(key));
    EXPECT_EQ(U8(store.Get(key)), "4242");
    EXPECT_EQ(U8(store.Get(key + u"time")), "2024/05/06 12:00:00");
    EXPECT_EQ(U8(store.Get(u"tyokuzen")), "2024/05/06 12:00:00");
  }
}

TEST(AssignTurnNumberTest, FailingStepsAreSkipped) {
  FixedClock clock(kNoon);
  {
    SCOPED_TRACE("writes fail: the number still comes back");
    FlakyStore store;
    store.Write(u"MyApp", u"Startup_j", u"jun", u"104");
    store.writes_fail = true;
    FakeProcessInfo processes;
    processes.others_running = true;
    EXPECT_EQ(AssignTurnNumber(store, processes, clock), 105);
    EXPECT_EQ(store.writes, 1 + 4);  // every write was tried
    EXPECT_EQ(U8(store.Get(u"jun")), "104");
    EXPECT_EQ(U8(store.Get(u"105")), "<none>");
  }
  {
    SCOPED_TRACE("reads fail: counts from nothing");
    FlakyStore store;
    store.Write(u"MyApp", u"Startup_j", u"jun", u"104");
    store.reads_fail = true;
    FakeProcessInfo processes;
    processes.others_running = true;
    EXPECT_EQ(AssignTurnNumber(store, processes, clock), 1);
    EXPECT_EQ(U8(store.Get(u"jun")), "1");
    EXPECT_EQ(U8(store.Get(u"1time")), "2024/05/06 12:00:00");
  }
  {
    SCOPED_TRACE("instance test fails: the count goes on");
    FlakyStore store;
    store.Write(u"MyApp", u"Startup_j", u"jun", u"104");
    FakeProcessInfo processes;
    processes.instance_test_fails = true;
    EXPECT_EQ(AssignTurnNumber(store, processes, clock), 105);
    EXPECT_EQ(U8(store.Get(u"jun")), "105");
  }
  {
    SCOPED_TRACE("no process id: its key stays unwritten, the rest is done");
    FlakyStore store;
    FakeProcessInfo processes;
    processes.process_id_fails = true;
    EXPECT_EQ(AssignTurnNumber(store, processes, clock), 100);
    EXPECT_EQ(U8(store.Get(u"jun")), "100");
    EXPECT_EQ(U8(store.Get(u"100")), "<none>");
    EXPECT_EQ(U8(store.Get(u"100time")), "2024/05/06 12:00:00");
    EXPECT_EQ(U8(store.Get(u"tyokuzen")), "2024/05/06 12:00:00");
  }
}

TEST(ParseTurnNumberTest, ReadsWholeNumbersOnly) {
  struct Case {
    const char16_t* text;
    std::optional<int> expected;
  };
  const std::vector<Case> cases = {
      {u"100", 100},
      {u"0", 0},
      {u"+7", 7},
      {u"-7", -7},
      {u"\t42 ", 42},
      {u"0.5", 0},
      {u"1.5", 2},
      {u"2.5", 2},
      {u"-2.5", -2},
      {u"-3.5", -4},
      {u"2.5000001", 3},
      {u"2.4999", 2},
      {u".5", 0},
      {u"7.", 7},
      {u"1.5E2", 150},
      {u"15e-1", 2},
      {u"1e-400", 0},
      {u"2147483647", 2147483647},
      {u"-2147483648", -2147483648},
      {u"2147483647.4", 2147483647},
      {u"2147483647.5", std::nullopt},
      {u"2147483648", std::nullopt},
      {u"-2147483649", std::nullopt},
      {u"1e400", std::nullopt},
      {u"", std::nullopt},
      {u"   ", std::nullopt},
      {u"abc", std::nullopt},
      {u"12abc", std::nullopt},
      {u"1 2", std::nullopt},
      {u"0x10", std::nullopt},
      {u"inf", std::nullopt},
      {u"nan", std::nullopt},
      {u"-", std::nullopt},
      {u".", std::nullopt},
      {u"1e", std::nullopt},
      {u"１２", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseTurnNumber(c.text), c.expected) << U8(c.text);
  }
}

TEST(AssignTurnNumberTest, ManyProcessesAtOnceLeaveAReadableStore) {
  // Thirty requests number themselves at the same moment on the real store.
  // They may share numbers (nothing locks), but every key must stay whole.
  constexpr int kRequests = 30;
  ScratchFolder scratch;
  const std::string dir = scratch.path();
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const int failed = RunInProcesses(kRequests, [&](int) {
    auto store = NewFileSettingsStore(dir);
    auto processes = NewSystemProcessInfo();
    auto clock = NewSystemClock();
    const int turn = AssignTurnNumber(*store, *processes, *clock);
    const std::string line =
        std::to_string(turn) + " " + std::to_string(::getpid()) + "\n";
    return ::write(report[1], line.data(), line.size()) ==
           static_cast<ssize_t>(line.size());
  });
  ::close(report[1]);
  ASSERT_EQ(failed, 0);
  std::string lines;
  char buffer[4096];
  for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;)
    lines.append(buffer, static_cast<size_t>(n));
  ::close(report[0]);

  std::map<int, std::set<int64_t>> pids_by_turn;
  std::istringstream in(lines);
  for (int turn; in >> turn;) {
    int64_t pid;
    in >> pid;
    // The test process itself runs the same program, so every child sees
    // another instance and counts on from "jun".
    EXPECT_GE(turn, 101);
    pids_by_turn[turn].insert(pid);
  }
  ASSERT_EQ(pids_by_turn.size() > 0, true);

  auto store = NewFileSettingsStore(dir);
  const std::u16string jun = store->Read(u"MyApp", u"Startup_j", u"jun", u"");
  const std::optional<int> last = ParseTurnNumber(jun);
  ASSERT_TRUE(last.has_value()) << U8(jun);
  EXPECT_EQ(pids_by_turn.count(*last), 1u) << *last;
  EXPECT_TRUE(
      ParseDateTime(store->Read(u"MyApp", u"Startup_j", u"tyokuzen", u"")));
  for (const auto& [turn, pids] : pids_by_turn) {
    const std::u16string key = Digits(turn);
    const std::u16string pid = store->Read(u"MyApp", u"Startup_j", key, u"");
    EXPECT_EQ(pids.count(static_cast<int64_t>(NumericValue(pid))), 1u)
        << "key " << turn << " holds " << U8(pid);
    EXPECT_TRUE(
        ParseDateTime(store->Read(u"MyApp", u"Startup_j", key + u"time", u"")))
        << turn;
  }
}

}  // namespace
}  // namespace qlok
