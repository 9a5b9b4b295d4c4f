#include "platform/settings_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/process_testing.h"
#include "text/unicode.h"

namespace qlok {
namespace {

namespace fs = std::filesystem;
using testing_support::RunInProcesses;
using testing_support::ScratchFolder;
constexpr auto kDurable = SettingsStore::Sync::kDurable;
constexpr auto kAtomic = SettingsStore::Sync::kAtomic;

// Every file and folder below `root`, as paths relative to it.
std::set<std::string> Entries(const std::string& root) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    names.insert(fs::relative(entry.path(), root).string());
  return names;
}

TEST(FileSettingsStoreTest, KeysOfAnyTextStayInsideTheirSectionFolder) {
  const std::u16string with_nul(u"a\0b", 3);
  const std::vector<std::u16string> keys = {
      u"jun",
      u"101time",
      u"",
      u".",
      u"..",
      u"../../escaped",
      u"/etc/passwd",
      u"a/b",
      u"%",
      u"%25",
      u"~",
      u".tmp-1-0-0",
      u"直前",
      with_nul,
      std::u16string(300, u'x'),
      std::u16string(300, u'x') + u"y",
      std::u16string(120, u'字'),
      std::u16string(150, u'字'),
  };
  ScratchFolder scratch;
  const std::string dir = scratch.path() + "/settings";
  auto store = NewFileSettingsStore(dir);
  for (size_t i = 0; i < keys.size(); ++i)
    store->Write(u"MyApp", u"Startup_j", keys[i], Digits(i), kDurable);

  for (size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(U8(store->Read(u"MyApp", u"Startup_j", keys[i], u"none")),
              U8(Digits(i)))
        << "key #" << i;
  }
  // Nothing was written beside the store's folder, and every key is one
  // plain file right in the section's folder.
  EXPECT_EQ(Entries(scratch.path()).size(),
            Entries(dir).size() + 1);  // + "settings" itself
  const std::string section = dir + "/MyApp/Startup_j";
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(section)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(entry.is_regular_file()) << name;
    EXPECT_NE(name.front(), '.') << name;
    EXPECT_LE(name.size(), 255u) << name;
    ++files;
  }
  EXPECT_EQ(files, keys.size());
}

TEST(FileSettingsStoreTest, ApplicationsAndSectionsAreSeparate) {
  ScratchFolder scratch;
  auto store = NewFileSettingsStore(scratch.path());
  store->Write(u"MyApp", u"Startup_j", u"jun", u"1", kDurable);
  store->Write(u"MyApp", u"Other", u"jun", u"2", kDurable);
  store->Write(u"OtherApp", u"Startup_j", u"jun", u"3", kDurable);
  store->Write(u"../MyApp", u"Startup_j", u"jun", u"4", kDurable);
  EXPECT_EQ(store->Read(u"MyApp", u"Startup_j", u"jun", u""), u"1");
  EXPECT_EQ(store->Read(u"MyApp", u"Other", u"jun", u""), u"2");
  EXPECT_EQ(store->Read(u"OtherApp", u"Startup_j", u"jun", u""), u"3");
  EXPECT_EQ(store->Read(u"../MyApp", u"Startup_j", u"jun", u""), u"4");
}

TEST(FileSettingsStoreTest, ReadsWritesAndReplaces) {
  struct Case {
    const char* name;
    std::vector<std::u16string> writes;  // in order; empty: never written
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      {"never written gives the fallback", {}, u"100"},
      {"one write", {u"104"}, u"104"},
      {"later write wins", {u"104", u"105"}, u"105"},
      {"shorter text replaces longer", {u"1234567890", u"7"}, u"7"},
      {"empty text is a value, not absence", {u"9", u""}, u""},
      {"Japanese and line ends", {u"求人\r\n２行目"}, u"求人\r\n２行目"},
      {"date text", {u"2000/01/02 5:00:00"}, u"2000/01/02 5:00:00"},
  };
  for (const Case& c : cases) {
    for (SettingsStore::Sync sync : {kDurable, kAtomic}) {
      ScratchFolder scratch;
      auto store = NewFileSettingsStore(scratch.path());
      for (const auto& value : c.writes)
        store->Write(u"MyApp", u"Startup_j", u"jun", value, sync);
      EXPECT_EQ(U8(store->Read(u"MyApp", u"Startup_j", u"jun", u"100")),
                U8(c.expected))
          << c.name << (sync == kDurable ? " (durable)" : " (atomic)");
    }
  }
}

TEST(FileSettingsStoreTest, AnotherStoreOnTheSameFolderSeesTheValues) {
  ScratchFolder scratch;
  NewFileSettingsStore(scratch.path())->Write(u"A", u"S", u"k", u"v", kDurable);
  EXPECT_EQ(NewFileSettingsStore(scratch.path())->Read(u"A", u"S", u"k", u""),
            u"v");
}

TEST(FileSettingsStoreTest, WritesLeaveNoTemporaryFiles) {
  // An atomic write leaves the key's spare for the next one, and nothing
  // else.
  for (SettingsStore::Sync sync : {kDurable, kAtomic}) {
    ScratchFolder scratch;
    auto store = NewFileSettingsStore(scratch.path());
    for (int i = 0; i < 20; ++i)
      store->Write(u"MyApp", u"Startup_j", u"jun", Digits(i), sync);
    std::set<std::string> expected = {"MyApp", "MyApp/Startup_j",
                                      "MyApp/Startup_j/jun"};
    if (sync == kAtomic) expected.insert("MyApp/Startup_j/.spare-jun");
    EXPECT_EQ(Entries(scratch.path()), expected)
        << (sync == kDurable ? "durable" : "atomic");
  }
}

TEST(FileSettingsStoreTest, FailuresThrowAndKeepTheOldValue) {
  for (SettingsStore::Sync sync : {kDurable, kAtomic}) {
    SCOPED_TRACE(sync == kDurable ? "durable" : "atomic");
    ScratchFolder scratch;
    auto store = NewFileSettingsStore(scratch.path());
    store->Write(u"MyApp", u"Startup_j", u"jun", u"104", sync);
    // A folder standing where a key file would be can be neither read nor
    // replaced, and stays as it was.
    fs::create_directories(scratch.path() + "/MyApp/Startup_j/blocked/inner");
    EXPECT_THROW(store->Read(u"MyApp", u"Startup_j", u"blocked", u""), Failure);
    EXPECT_THROW(store->Write(u"MyApp", u"Startup_j", u"blocked", u"x", sync),
                 Failure);
    // A file standing where a folder would be.
    { std::ofstream(scratch.path() + "/Plain") << "not a folder"; }
    EXPECT_THROW(store->Write(u"Plain", u"S", u"k", u"x", sync), Failure);
    EXPECT_THROW(store->Read(u"Plain", u"S", u"k", u""), Failure);
    // The store's own folder cannot be made.
    auto broken = NewFileSettingsStore(scratch.path() + "/Plain/settings");
    EXPECT_THROW(broken->Write(u"MyApp", u"Startup_j", u"jun", u"1", sync),
                 Failure);

    EXPECT_EQ(store->Read(u"MyApp", u"Startup_j", u"jun", u""), u"104");
    // The failed writes left no temporary files behind.
    EXPECT_THAT(
        Entries(scratch.path() + "/MyApp/Startup_j"),
        ::testing::UnorderedElementsAre("jun", "blocked", "blocked/inner"));
  }
}

TEST(FileSettingsStoreTest, ConcurrentWritersNeverTearAValue) {
  // Each writer stores a long text of its own letter, again and again; the
  // readers must only ever see one whole text of one letter, never an empty
  // or half-written file, nor a missing one.
  constexpr int kWriters = 6;
  constexpr int kReaders = 4;
  constexpr size_t kLength = 200000;
  for (SettingsStore::Sync sync : {kDurable, kAtomic}) {
    SCOPED_TRACE(sync == kDurable ? "durable" : "atomic");
    ScratchFolder scratch;
    const std::string dir = scratch.path();
    NewFileSettingsStore(dir)->Write(u"MyApp", u"Startup_j", u"jun",
                                     std::u16string(kLength, u'z'), sync);
    const int failed = RunInProcesses(kWriters + kReaders, [&](int i) {
      auto store = NewFileSettingsStore(dir);
      if (i < kWriters) {
        const std::u16string value(kLength, static_cast<char16_t>(u'a' + i));
        for (int round = 0; round < 15; ++round)
          store->Write(u"MyApp", u"Startup_j", u"jun", value, sync);
        return true;
      }
      for (int round = 0; round < 60; ++round) {
        const std::u16string seen =
            store->Read(u"MyApp", u"Startup_j", u"jun", u"");
        if (seen.size() != kLength) return false;
        if (seen.find_first_not_of(seen[0]) != std::u16string::npos)
          return false;
      }
      return true;
    });
    EXPECT_EQ(failed, 0);
    const std::u16string last =
        NewFileSettingsStore(dir)->Read(u"MyApp", u"Startup_j", u"jun", u"");
    ASSERT_EQ(last.size(), kLength);
    // The key, and for atomic writes its spare.
    EXPECT_EQ(Entries(dir).size(), sync == kDurable ? 3u : 4u)
        << "temporary files were left behind";
  }
}

TEST(FileSettingsStoreTest, RemovesKeys) {
  ScratchFolder scratch;
  auto store = NewFileSettingsStore(scratch.path());
  store->Write(u"MyApp", u"Startup_j", u"101", u"4242", kAtomic);
  store->Write(u"MyApp", u"Startup_j", u"102", u"4243", kAtomic);
  store->Remove(u"MyApp", u"Startup_j", u"101");
  EXPECT_EQ(store->Read(u"MyApp", u"Startup_j", u"101", u"gone"), u"gone");
  EXPECT_EQ(store->Read(u"MyApp", u"Startup_j", u"102", u""), u"4243");
  // Keys, sections and stores that were never written: nothing to do.
  EXPECT_NO_THROW(store->Remove(u"MyApp", u"Startup_j", u"101"));
  EXPECT_NO_THROW(store->Remove(u"MyApp", u"Other", u"101"));
  EXPECT_NO_THROW(NewFileSettingsStore(scratch.path() + "/none")
                      ->Remove(u"MyApp", u"Startup_j", u"101"));
  // A folder where the key file would be cannot be removed.
  fs::create_directories(scratch.path() + "/MyApp/Startup_j/blocked/inner");
  EXPECT_THROW(store->Remove(u"MyApp", u"Startup_j", u"blocked"), Failure);
}

// How long a test waits for the store's lock.
constexpr std::chrono::milliseconds kPatience{3000};

TEST(FileSettingsStoreTest, LockHoldersTakeTurns) {
  // Each process adds one to a counter again and again, reading and
  // writing under the lock; without it, increments would get lost.
  constexpr int kProcesses = 8;
  constexpr int kRounds = 25;
  ScratchFolder scratch;
  const std::string dir = scratch.path() + "/settings";  // made by the lock
  const int failed = RunInProcesses(kProcesses, [&](int) {
    auto store = NewFileSettingsStore(dir);
    for (int round = 0; round < kRounds; ++round) {
      auto lock = store->LockExclusively(kPatience);
      const std::u16string count =
          store->Read(u"MyApp", u"Startup_j", u"count", u"0");
      store->Write(u"MyApp", u"Startup_j", u"count",
                   Digits(static_cast<int64_t>(NumericValue(count)) + 1),
                   kAtomic);
    }
    return true;
  });
  ASSERT_EQ(failed, 0);
  EXPECT_EQ(U8(NewFileSettingsStore(dir)->Read(u"MyApp", u"Startup_j", u"count",
                                               u"")),
            std::to_string(kProcesses * kRounds));
}

TEST(FileSettingsStoreTest, ALockHeldTooLongIsAFailureNotAHang) {
  ScratchFolder scratch;
  auto holder = NewFileSettingsStore(scratch.path());
  auto waiter = NewFileSettingsStore(scratch.path());
  {
    auto lock = holder->LockExclusively(kPatience);
    EXPECT_THROW(waiter->LockExclusively(kPatience), Failure);
  }
  EXPECT_NE(waiter->LockExclusively(kPatience), nullptr);
  // A store whose folder cannot be made cannot be locked either.
  { std::ofstream(scratch.path() + "/Plain") << "not a folder"; }
  EXPECT_THROW(NewFileSettingsStore(scratch.path() + "/Plain/settings")
                   ->LockExclusively(kPatience),
               Failure);
}

}  // namespace
}  // namespace qlok
