#include "platform/text_files.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
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

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void Put(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

struct ReadCase {
  const char* name;
  std::string content;
  size_t max_lines;
  std::vector<std::u16string> expected;
};

const std::vector<ReadCase>& ReadCases() {
  static const std::vector<ReadCase> cases = {
      {"CR LF lines",
       "one\r\ntwo\r\nthree\r\nfour\r\n",
       4,
       {u"one", u"two", u"three", u"four"}},
      {"LF lines", "one\ntwo\n", 4, {u"one", u"two"}},
      {"only the first lines",
       "1\r\n2\r\n3\r\n4\r\n5\r\n",
       3,
       {u"1", u"2", u"3"}},
      {"last line without line end", "a\r\nb", 3, {u"a", u"b"}},
      {"empty lines count", "\r\n\r\nc\r\n", 3, {u"", u"", u"c"}},
      {"empty file", "", 3, {}},
      {"no lines wanted", "a\r\n", 0, {}},
      {"a lone CR stays", "a\rb\r\n", 1, {u"a\rb"}},
      // "求人" and "表" (whose second byte is 0x5C) in code page 932.
      {"code page 932",
       "\x8B\x81\x90\x6C\r\n\x95\x5C\r\n",
       2,
       {u"求人", u"表"}},
  };
  return cases;
}

TEST(SiteTextFilesTest, ReadsTheFirstLines) {
  ScratchFolder home;
  auto files = NewSiteTextFiles(home.path());
  for (const ReadCase& c : ReadCases()) {
    Put(home.path() + "/pw/qevo.txt", c.content);
    EXPECT_EQ(files->ReadLines("pw/qevo.txt", c.max_lines), c.expected)
        << c.name;
  }
}

TEST(InMemoryTextFilesTest, ReadsTheFirstLines) {
  InMemoryTextFiles files;
  for (const ReadCase& c : ReadCases()) {
    files.files["pw/qevo.txt"] = c.content;
    EXPECT_EQ(files.ReadLines("pw/qevo.txt", c.max_lines), c.expected)
        << c.name;
  }
}

TEST(SiteTextFilesTest, ReadsALongFileInPieces) {
  ScratchFolder home;
  std::string content;
  for (int i = 0; i < 5000; ++i) content += std::to_string(i) + "\r\n";
  Put(home.path() + "/big.txt", content);
  auto lines = NewSiteTextFiles(home.path())->ReadLines("big.txt", 4000);
  ASSERT_EQ(lines.size(), 4000u);
  EXPECT_EQ(lines[2999], u"2999");
  EXPECT_EQ(lines[3999], u"3999");
}

TEST(SiteTextFilesTest, TruncateAndAppendWorkOnExistingFilesOnly) {
  ScratchFolder home;
  const std::string log = home.path() + "/received/worqlet.txt";
  Put(log, "old\r\n");
  auto files = NewSiteTextFiles(home.path());

  files->Append("received/worqlet.txt", "one\r\n");
  files->Append("received/worqlet.txt", std::string("\0two\r\n", 6));
  EXPECT_EQ(Slurp(log), std::string("old\r\none\r\n\0two\r\n", 16));
  files->Truncate("received/worqlet.txt");
  EXPECT_EQ(Slurp(log), "");
  files->Append("received/worqlet.txt", "three\r\n");
  EXPECT_EQ(Slurp(log), "three\r\n");

  // Neither creates a missing file.
  EXPECT_THROW(files->Append("received/missing.txt", "x"), Failure);
  EXPECT_THROW(files->Truncate("received/missing.txt"), Failure);
  EXPECT_THROW(files->ReadLines("received/missing.txt", 1), Failure);
  EXPECT_FALSE(fs::exists(home.path() + "/received/missing.txt"));
}

TEST(SiteTextFilesTest, FailuresNameThePath) {
  ScratchFolder home;
  fs::create_directories(home.path() + "/folder");
  auto files = NewSiteTextFiles(home.path());
  struct Case {
    const char* name;
    std::function<void()> call;
  };
  const std::vector<Case> cases = {
      {"append to a folder", [&] { files->Append("folder", "x"); }},
      {"truncate a folder", [&] { files->Truncate("folder"); }},
      {"read a folder", [&] { files->ReadLines("folder", 1); }},
      {"read a missing file", [&] { files->ReadLines("pw/mail.txt", 3); }},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.name << ": no failure";
    } catch (const Failure& failure) {
      EXPECT_NE(std::string(failure.what()).find(home.path()),
                std::string::npos)
          << c.name << ": " << failure.what();
    }
  }
}

TEST(SiteTextFilesTest, PathsCannotLeaveTheSiteHome) {
  ScratchFolder scratch;
  const std::string home = scratch.path() + "/home";
  fs::create_directories(home);
  Put(scratch.path() + "/outside.txt", "secret\r\n");
  auto files = NewSiteTextFiles(home);
  for (const char* path :
       {"../outside.txt", "/etc/passwd", "a/../../outside.txt", "..", ""}) {
    EXPECT_THROW(files->ReadLines(path, 1), Failure) << path;
    EXPECT_THROW(files->Append(path, "x"), Failure) << path;
    EXPECT_THROW(files->Truncate(path), Failure) << path;
  }
  EXPECT_EQ(Slurp(scratch.path() + "/outside.txt"), "secret\r\n");
}

TEST(SiteTextFilesTest, ConcurrentAppendsNeverInterleave) {
  // Many processes append large records at once; every record must come
  // out whole.
  constexpr int kWriters = 12;
  constexpr int kRounds = 20;
  constexpr size_t kLength = 60000;
  ScratchFolder home;
  Put(home.path() + "/log.txt", "");
  const int failed = RunInProcesses(kWriters, [&](int i) {
    auto files = NewSiteTextFiles(home.path());
    const std::string record =
        std::string(kLength, static_cast<char>('a' + i)) + "\r\n";
    for (int round = 0; round < kRounds; ++round)
      files->Append("log.txt", record);
    return true;
  });
  ASSERT_EQ(failed, 0);
  const std::string all = Slurp(home.path() + "/log.txt");
  ASSERT_EQ(all.size(), kWriters * kRounds * (kLength + 2));
  std::vector<int> counts(kWriters);
  for (size_t at = 0; at < all.size(); at += kLength + 2) {
    const char letter = all[at];
    ASSERT_GE(letter, 'a');
    ASSERT_LT(letter, 'a' + kWriters);
    ASSERT_EQ(all.find_first_not_of(letter, at), at + kLength)
        << "record at " << at << " is mixed";
    ASSERT_EQ(all.compare(at + kLength, 2, "\r\n"), 0);
    ++counts[letter - 'a'];
  }
  for (int count : counts) EXPECT_EQ(count, kRounds);
}

// A write(2) that really writes the first half of what it is given, then
// finds the disk full on the next call (after a millisecond, as a busy disk
// might), and so on.
WriteFunction FailingHalfway() {
  auto calls = std::make_shared<int>(0);
  return [calls](int fd, const void* data, size_t size) -> ssize_t {
    if ((*calls)++ % 2 == 1) {
      ::usleep(1000);
      errno = ENOSPC;
      return -1;
    }
    return ::write(fd, data, size / 2);
  };
}

TEST(SiteTextFilesTest, AppendsWholeOrNotAtAll) {
  const std::string before = "9:00:00\r\n求人\r\n";
  const std::string record = std::string(10000, 'r') + "\r\n";
  struct Case {
    const char* name;
    std::function<WriteFunction()> writer;
    const char* failure;  // nullptr: the record goes in whole
  };
  auto calls = [](std::function<ssize_t(int, int, const void*, size_t)> f) {
    return [f] {
      auto count = std::make_shared<int>(0);
      return WriteFunction([f, count](int fd, const void* d, size_t n) {
        return f((*count)++, fd, d, n);
      });
    };
  };
  const std::vector<Case> cases = {
      {"half, then the disk is full", FailingHalfway, "No space left"},
      {"byte by byte, then an I/O error",
       calls([](int call, int fd, const void* d, size_t) -> ssize_t {
         if (call < 10) return ::write(fd, d, 1);
         errno = EIO;
         return -1;
       }),
       "Input/output error"},
      {"nothing taken at all",
       calls([](int, int, const void*, size_t) -> ssize_t {
         errno = ENOSPC;
         return -1;
       }),
       "No space left"},
      {"a write that takes nothing and says no error",
       calls([](int, int, const void*, size_t) -> ssize_t { return 0; }),
       "Input/output error"},
      {"short writes that finish",
       calls([](int, int fd, const void* d, size_t n) -> ssize_t {
         return ::write(fd, d, n < 999 ? n : 999);
       }),
       nullptr},
      {"a signal, then the write",
       calls([](int call, int fd, const void* d, size_t n) -> ssize_t {
         if (call == 0) {
           errno = EINTR;
           return -1;
         }
         return ::write(fd, d, n);
       }),
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder home;
    const std::string log = home.path() + "/received/worqlet.txt";
    Put(log, before);
    auto files = NewSiteTextFiles(home.path(), c.writer());
    if (c.failure == nullptr) {
      files->Append("received/worqlet.txt", record);
      EXPECT_EQ(Slurp(log), before + record);
      continue;
    }
    try {
      files->Append("received/worqlet.txt", record);
      ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
      EXPECT_THAT(failure.what(), ::testing::HasSubstr(log));
      EXPECT_THAT(failure.what(), ::testing::HasSubstr(c.failure));
    }
    EXPECT_EQ(Slurp(log), before);
  }
}

TEST(SiteTextFilesTest, ATakenBackRecordNeverCutsAnother) {
  // Half the writers find the disk full halfway through every record; what
  // they take back must be their own bytes only: the log ends up holding
  // exactly the others' records, each whole.
  constexpr int kWriters = 12;
  constexpr int kRounds = 10;
  constexpr size_t kLength = 30000;
  ScratchFolder home;
  Put(home.path() + "/log.txt", "");
  const int failed = RunInProcesses(kWriters, [&](int i) {
    const bool failing = i % 2 == 1;
    auto files = failing ? NewSiteTextFiles(home.path(), FailingHalfway())
                         : NewSiteTextFiles(home.path());
    const std::string record =
        std::string(kLength, static_cast<char>('a' + i)) + "\r\n";
    for (int round = 0; round < kRounds; ++round) {
      try {
        files->Append("log.txt", record);
        if (failing) return false;
      } catch (const Failure&) {
        if (!failing) return false;
      }
    }
    return true;
  });
  ASSERT_EQ(failed, 0);
  const std::string all = Slurp(home.path() + "/log.txt");
  ASSERT_EQ(all.size(), kWriters / 2 * kRounds * (kLength + 2));
  std::vector<int> counts(kWriters);
  for (size_t at = 0; at < all.size(); at += kLength + 2) {
    const char letter = all[at];
    ASSERT_EQ(all.find_first_not_of(letter, at), at + kLength)
        << "record at " << at << " is cut or mixed";
    ASSERT_EQ(all.compare(at + kLength, 2, "\r\n"), 0);
    ++counts[letter - 'a'];
  }
  for (int i = 0; i < kWriters; ++i)
    EXPECT_EQ(counts[i], i % 2 == 1 ? 0 : kRounds) << "writer " << i;
}

TEST(SiteTextFilesTest, AFullDiskLeavesTheLogAsItWas) {
  // A real full disk: a small tmpfs under received/, filled up, so that the
  // record fits only into what is left of the log's last page.
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a file system needs root";
  ScratchFolder home;
  const std::string received = home.path() + "/received";
  fs::create_directories(received);
  if (::mount("tmpfs", received.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{received};

  const std::string log = received + "/worqlet.txt";
  const std::string before = "9:00:00\r\nメルアドなし  along=100\r\n求人\r\n";
  Put(log, before);
  const std::string filler = received + "/filler";
  const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  const std::string block(4096, 'f');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  ::close(fd);

  bool partial = false;
  auto files = NewSiteTextFiles(
      home.path(), [&partial](int fd, const void* data, size_t size) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0 && static_cast<size_t>(n) < size) partial = true;
        return n;
      });
  const std::string record = std::string(20000, 'x') + "\r\n";
  try {
    files->Append("received/worqlet.txt", record);
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_THAT(failure.what(), ::testing::HasSubstr(std::strerror(ENOSPC)));
  }
  EXPECT_TRUE(partial) << "the disk took no part of the record";
  EXPECT_EQ(Slurp(log), before);

  // With room again, the next record follows the old ones directly.
  fs::remove(filler);
  files->Append("received/worqlet.txt", record);
  EXPECT_EQ(Slurp(log), before + record);
}

TEST(InMemoryTextFilesTest, MissingFilesAndFailuresOnDemand) {
  InMemoryTextFiles files;
  files.files["log"] = "a";
  files.Append("log", "b");
  EXPECT_EQ(files.files["log"], "ab");
  files.Truncate("log");
  EXPECT_EQ(files.files["log"], "");
  EXPECT_THROW(files.Append("missing", "x"), Failure);
  EXPECT_THROW(files.Truncate("missing"), Failure);
  EXPECT_THROW(files.ReadLines("missing", 1), Failure);
  EXPECT_EQ(files.files.count("missing"), 0u);

  files.fail_all = true;
  EXPECT_THROW(files.Append("log", "x"), Failure);
  EXPECT_THROW(files.Truncate("log"), Failure);
  EXPECT_THROW(files.ReadLines("log", 1), Failure);
  EXPECT_EQ(files.files["log"], "");
}

}  // namespace
}  // namespace qlok
