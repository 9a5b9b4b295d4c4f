#include "search/turn_number.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/failure.h"
#include "platform/process_testing.h"
#include "text/date_time.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using namespace std::string_literals;

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

// An in-memory store whose reads, writes or lock can be made to fail, and
// that remembers how each key was last written.
class FlakyStore : public InMemorySettingsStore {
 public:
  bool reads_fail = false;
  bool writes_fail = false;
  bool lock_fails = false;
  int writes = 0;
  std::map<std::u16string, Sync> syncs;

  std::u16string Read(const std::u16string& app, const std::u16string& section,
                      const std::u16string& key,
                      const std::u16string& fallback) override {
    if (reads_fail) throw Failure("store unreadable");
    return InMemorySettingsStore::Read(app, section, key, fallback);
  }
  void Write(const std::u16string& app, const std::u16string& section,
             const std::u16string& key, const std::u16string& value,
             Sync sync) override {
    ++writes;
    if (writes_fail) throw Failure("store unwritable");
    syncs[key] = sync;
    InMemorySettingsStore::Write(app, section, key, value, sync);
  }
  std::unique_ptr<Lock> LockExclusively(
      std::chrono::milliseconds patience) override {
    if (lock_fails) throw Failure("store locked too long");
    return InMemorySettingsStore::LockExclusively(patience);
  }
  // Stores `value` as it stands before the numbering runs.
  void Put(const std::u16string& key, const std::u16string& value) {
    InMemorySettingsStore::Write(u"MyApp", u"Startup_j", key, value,
                                 Sync::kDurable);
  }
  // What the numbering left under MyApp/Startup_j, with reads working.
  std::u16string Get(const std::u16string& key) {
    return InMemorySettingsStore::Read(u"MyApp", u"Startup_j", key, u"<none>");
  }
};

constexpr DateTime kNoon = {2024, 5, 6, 12, 0, 0};
// How long the numbering may wait for the store's lock.
constexpr std::chrono::milliseconds kPatience{10000};

TEST(AssignTurnNumberTest, NumbersAndLeavesItsTrace) {
  struct Case {
    const char* name;
    bool others_running;
    std::optional<std::u16string> stored_jun;
    int expected;
    bool jun_written;  // false: "jun" held exactly the number already
  };
  const std::vector<Case> cases = {
      {"alone starts again at 100", false, std::nullopt, 100, true},
      {"alone ignores the stored number", false, u"104", 100, true},
      {"alone, 100 stored already", false, u"100", 100, false},
      {"alone, 100 stored with a blank", false, u"100 ", 100, true},
      {"alone, 100 stored as another number", false, u"100.0", 100, true},
      {"others running count on", true, u"104", 105, true},
      {"others running, no number yet", true, std::nullopt, 101, true},
      {"not a number counts as nothing", true, u"abc", 1, true},
      {"blanks around the number", true, u" 104 ", 105, true},
      {"half rounds to even, up", true, u"3.5", 5, true},
      {"largest number cannot grow", true, u"2147483647", 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlakyStore store;
    if (c.stored_jun) store.Put(u"jun", *c.stored_jun);
    FakeProcessInfo processes;
    processes.others_running = c.others_running;
    FixedClock clock(kNoon);

    const int turn = AssignTurnNumber(store, processes, clock, kPatience);
    EXPECT_EQ(turn, c.expected);
    const std::u16string key = Digits(c.expected);
    EXPECT_EQ(U8(store.Get(u"jun")), U8(key));
    EXPECT_EQ(U8(store.Get(key)), "4242");
    EXPECT_EQ(U8(store.Get(key + u"time")), "2024/05/06 12:00:00");
    EXPECT_EQ(U8(store.Get(u"tyokuzen")), "2024/05/06 12:00:00");
    // Only "jun" is read back, by the next request: it alone must survive a
    // crash, and it is written only when it changes.
    using Sync = SettingsStore::Sync;
    EXPECT_EQ(store.syncs.count(u"jun"), c.jun_written ? 1u : 0u);
    if (c.jun_written) {
      EXPECT_EQ(store.syncs[u"jun"], Sync::kDurable);
    }
    for (const std::u16string& trace : {key, key + u"time", u"tyokuzen"s})
      EXPECT_EQ(store.syncs[trace], Sync::kAtomic) << U8(trace);
  }
}

TEST(AssignTurnNumberTest, FailingStepsAreSkipped) {
  FixedClock clock(kNoon);
  {
    SCOPED_TRACE("writes fail: the number still comes back");
    FlakyStore store;
    store.Put(u"jun", u"104");
    store.writes_fail = true;
    FakeProcessInfo processes;
    processes.others_running = true;
    EXPECT_EQ(AssignTurnNumber(store, processes, clock, kPatience), 105);
    EXPECT_EQ(store.writes, 4);  // every write was tried
    EXPECT_EQ(U8(store.Get(u"jun")), "104");
    EXPECT_EQ(U8(store.Get(u"105")), "<none>");
  }
  {
    SCOPED_TRACE("reads fail: counts from nothing");
    FlakyStore store;
    store.Put(u"jun", u"104");
    store.reads_fail = true;
    FakeProcessInfo processes;
    processes.others_running = true;
    EXPECT_EQ(AssignTurnNumber(store, processes, clock, kPatience), 1);
    EXPECT_EQ(U8(store.Get(u"jun")), "1");
    EXPECT_EQ(U8(store.Get(u"1time")), "2024/05/06 12:00:00");
  }
  {
    SCOPED_TRACE("instance test fails: the count goes on");
    FlakyStore store;
    store.Put(u"jun", u"104");
    FakeProcessInfo processes;
    processes.instance_test_fails = true;
    EXPECT_EQ(AssignTurnNumber(store, processes, clock, kPatience), 105);
    EXPECT_EQ(U8(store.Get(u"jun")), "105");
  }
  {
    // A number taken without the lock could be another request's.
    SCOPED_TRACE("the lock cannot be had: no number, nothing written");
    FlakyStore store;
    store.Put(u"jun", u"1104");
    store.Put(u"105", u"old");
    store.lock_fails = true;
    FakeProcessInfo processes;
    processes.others_running = true;
    EXPECT_THROW(AssignTurnNumber(store, processes, clock, kPatience), Failure);
    EXPECT_EQ(store.writes, 0);
    EXPECT_EQ(U8(store.Get(u"jun")), "1104");
    EXPECT_EQ(U8(store.Get(u"1105")), "<none>");
    EXPECT_EQ(U8(store.Get(u"105")), "old");
  }
  {
    SCOPED_TRACE("no process id: its key stays unwritten, the rest is done");
    FlakyStore store;
    FakeProcessInfo processes;
    processes.process_id_fails = true;
    EXPECT_EQ(AssignTurnNumber(store, processes, clock, kPatience), 100);
    EXPECT_EQ(U8(store.Get(u"jun")), "100");
    EXPECT_EQ(U8(store.Get(u"100")), "<none>");
    EXPECT_EQ(U8(store.Get(u"100time")), "2024/05/06 12:00:00");
    EXPECT_EQ(U8(store.Get(u"tyokuzen")), "2024/05/06 12:00:00");
  }
}

TEST(AssignTurnNumberTest, ForgetsTurnsLongFinished) {
  struct Case {
    const char* name;
    bool others_running;
    std::optional<std::u16string> jun;
    std::vector<int> stored;  // numbers whose keys exist before
    std::vector<int> kept;    // numbers whose keys remain, the new one too
  };
  const std::vector<Case> cases = {
      {"others running: the number 1,000 below goes",
       true,
       u"1104",
       {104, 105, 106, 1104},
       {104, 106, 1104, 1105}},
      {"others running, early numbers: nothing to forget",
       true,
       u"150",
       {100, 150},
       {100, 150, 151}},
      {"alone: the run before goes, 100 is taken anew",
       false,
       u"103",
       {100, 101, 102, 103, 104},
       {100, 104}},
      {"alone after a long run: its last 1,000 go",
       false,
       u"5000",
       {3999, 4000, 4001, 4500, 5000, 5001},
       {100, 3999, 4000, 5001}},
      {"alone, no number stored: nothing goes",
       false,
       std::nullopt,
       {100, 101},
       {100, 101}},
      {"alone, a number that is no number: nothing goes",
       false,
       u"abc",
       {101},
       {100, 101}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlakyStore store;
    if (c.jun) store.Put(u"jun", *c.jun);
    for (int n : c.stored) {
      store.Put(Digits(n), u"1");
      store.Put(Digits(n) + u"time", u"2024/05/06 11:00:00");
    }
    FakeProcessInfo processes;
    processes.others_running = c.others_running;
    FixedClock clock(kNoon);
    AssignTurnNumber(store, processes, clock, kPatience);
    std::vector<int> kept;
    for (int n = 0; n <= 6000; ++n) {
      const bool number = store.Get(Digits(n)) != u"<none>";
      const bool time = store.Get(Digits(n) + u"time") != u"<none>";
      EXPECT_EQ(number, time) << n;
      if (number) kept.push_back(n);
    }
    EXPECT_EQ(kept, c.kept);
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

TEST(AssignTurnNumberTest, OverlappingRequestsNeverShareANumber) {
  // Thirty-two requests number themselves at the same moment on the real
  // store and stay running until all have their numbers, so that every one
  // overlaps every other: the numbers must all differ and follow each other
  // (the first counts from 100, or from an empty "jun" if another had
  // already registered), and "jun" must end at the last.
  constexpr int kRequests = 32;
  ScratchFolder scratch;
  const std::string dir = scratch.path() + "/settings";
  int report[2], release[2];
  ASSERT_EQ(::pipe(report), 0);
  ASSERT_EQ(::pipe(release), 0);
  // Reads the reports while the requests run, then lets them end.
  std::string lines;
  std::thread reader([&] {
    char buffer[4096];
    while (std::count(lines.begin(), lines.end(), '\n') < kRequests) {
      const ssize_t n = ::read(report[0], buffer, sizeof buffer);
      if (n <= 0) break;
      lines.append(buffer, static_cast<size_t>(n));
    }
    ::close(release[1]);
  });
  const int failed = RunInProcesses(kRequests, [&](int) {
    ::close(release[1]);
    auto store = NewFileSettingsStore(dir);
    auto processes = NewSiteProcessInfo(dir);
    auto clock = NewSystemClock();
    const int turn = AssignTurnNumber(*store, *processes, *clock, kPatience);
    const std::string line =
        std::to_string(turn) + " " + std::to_string(::getpid()) + "\n";
    if (::write(report[1], line.data(), line.size()) !=
        static_cast<ssize_t>(line.size()))
      return false;
    // End of file: all are done. Should one of the others die first, the
    // wait ends, so that the test fails instead of hanging.
    struct pollfd ready = {release[0], POLLIN, 0};
    char c;
    return ::poll(&ready, 1, 30000) == 1 && ::read(release[0], &c, 1) == 0;
  });
  ::close(report[1]);
  reader.join();
  ::close(report[0]);
  ::close(release[0]);
  ASSERT_EQ(failed, 0);

  std::map<int, int64_t> pid_by_turn;
  std::istringstream in(lines);
  for (int turn; in >> turn;) {
    int64_t pid;
    in >> pid;
    EXPECT_TRUE(pid_by_turn.emplace(turn, pid).second)
        << "turn " << turn << " given twice";
  }
  ASSERT_EQ(pid_by_turn.size(), static_cast<size_t>(kRequests));
  const int first = pid_by_turn.begin()->first;
  const int last = pid_by_turn.rbegin()->first;
  EXPECT_TRUE(first == 100 || first == 101) << first;
  EXPECT_EQ(last - first + 1, kRequests);

  auto store = NewFileSettingsStore(dir);
  EXPECT_EQ(U8(store->Read(u"MyApp", u"Startup_j", u"jun", u"")),
            std::to_string(last));
  EXPECT_TRUE(
      ParseDateTime(store->Read(u"MyApp", u"Startup_j", u"tyokuzen", u"")));
  for (const auto& [turn, pid] : pid_by_turn) {
    const std::u16string key = Digits(turn);
    EXPECT_EQ(U8(store->Read(u"MyApp", u"Startup_j", key, u"")),
              std::to_string(pid))
        << turn;
    EXPECT_TRUE(
        ParseDateTime(store->Read(u"MyApp", u"Startup_j", key + u"time", u"")))
        << turn;
  }
}

}  // namespace
}  // namespace qlok
