#include "platform/process_info.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process_testing.h"

namespace qlok {
namespace {

namespace fs = std::filesystem;
using testing_support::ScratchFolder;

// The test binary doubles as the program whose instances are looked for:
// started with QLOK_INSTANCE_ROLE set, it does its part before any test
// runs and leaves. "sleep" stays alive for a while; "probe" answers through
// its exit status whether it sees another instance of its own file.
constexpr int kProbeSeesOther = 10;
constexpr int kProbeSeesNone = 11;
constexpr int kProbeFailed = 12;

const bool kRoleDone = [] {
  const char* role = std::getenv("QLOK_INSTANCE_ROLE");
  if (role == nullptr) return false;
  if (std::string(role) == "sleep") {
    ::sleep(30);  // ends by itself should the test die
    ::_exit(0);
  }
  if (std::string(role) == "probe") {
    try {
      ::_exit(NewSystemProcessInfo()->AnotherInstanceRunning()
                  ? kProbeSeesOther
                  : kProbeSeesNone);
    } catch (...) {
      ::_exit(kProbeFailed);
    }
  }
  ::_exit(kProbeFailed);
}();

void Pause(int milliseconds) {
  struct timespec t = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  ::nanosleep(&t, nullptr);
}

std::optional<char> StateOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::stringstream text;
  text << in.rdbuf();
  const std::string stat = text.str();
  const size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return {};
  return stat[close + 2];
}

// Starts `program` in `role`, optionally as user and group 65534, and waits
// until the process really runs that file. Returns its id, or -1.
pid_t Start(const std::string& program, const char* role,
            bool as_other_user = false) {
  struct stat target;
  if (::stat(program.c_str(), &target) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("QLOK_INSTANCE_ROLE", role, 1);
    if (as_other_user && (::setgid(65534) != 0 || ::setuid(65534) != 0))
      ::_exit(127);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    ::execv(program.c_str(), argv);
    ::_exit(127);
  }
  if (pid < 0) return -1;
  const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
  for (int waited = 0; waited < 10000; waited += 10) {
    struct stat running;
    if (::stat(exe.c_str(), &running) == 0 && running.st_ino == target.st_ino &&
        running.st_dev == target.st_dev)
      return pid;
    int status;
    if (::waitpid(pid, &status, WNOHANG) == pid) return -1;  // exec failed
    Pause(10);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Runs `program` as a probe and returns its exit status.
int Probe(const std::string& program) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("QLOK_INSTANCE_ROLE", "probe", 1);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    ::execv(program.c_str(), argv);
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A private copy of the test binary, so that no other test run that
// happens at the same time counts as an instance.
class InstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::chmod(scratch_.path().c_str(), 0755), 0);
    program_ = scratch_.path() + "/program";
    other_copy_ = scratch_.path() + "/other-copy";
    link_ = scratch_.path() + "/hard-link";
    fs::copy_file("/proc/self/exe", program_);
    fs::copy_file("/proc/self/exe", other_copy_);
    fs::permissions(program_, fs::perms(0755));
    fs::permissions(other_copy_, fs::perms(0755));
    fs::create_hard_link(program_, link_);
  }

  ScratchFolder scratch_;
  std::string program_, other_copy_, link_;
};

TEST_F(InstanceTest, SeesOnlyRunningProcessesOfTheSameFileAndUser) {
  enum class Other { kNone, kSame, kHardLink, kCopy, kZombie, kOtherUser };
  struct Case {
    const char* name;
    Other other;
    int expected;
  };
  const std::vector<Case> cases = {
      {"alone", Other::kNone, kProbeSeesNone},
      {"same file running", Other::kSame, kProbeSeesOther},
      {"same file by another path", Other::kHardLink, kProbeSeesOther},
      {"a copy of the file", Other::kCopy, kProbeSeesNone},
      {"a zombie of the same file", Other::kZombie, kProbeSeesNone},
      {"same file, another user", Other::kOtherUser, kProbeSeesNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pid_t other = -1;
    switch (c.other) {
      case Other::kNone:
        break;
      case Other::kSame:
        other = Start(program_, "sleep");
        break;
      case Other::kHardLink:
        other = Start(link_, "sleep");
        break;
      case Other::kCopy:
        other = Start(other_copy_, "sleep");
        break;
      case Other::kZombie:
        other = Start(program_, "sleep");
        ASSERT_GT(other, 0);
        ::kill(other, SIGKILL);
        for (int i = 0; i < 1000 && StateOf(other) != 'Z'; ++i) Pause(10);
        ASSERT_EQ(StateOf(other), 'Z');
        break;
      case Other::kOtherUser:
        if (::geteuid() != 0) {
          std::cerr << "skipped: needs root to start another user's process\n";
          continue;
        }
        other = Start(program_, "sleep", /*as_other_user=*/true);
        break;
    }
    if (c.other != Other::kNone) {
      ASSERT_GT(other, 0) << "helper did not start";
    }
    EXPECT_EQ(Probe(program_), c.expected);
    Stop(other);
  }
  // And alone again once the others are gone.
  EXPECT_EQ(Probe(program_), kProbeSeesNone);
}

TEST(ProcessInfoTest, SeesAForkedChildOfThisProcess) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::sleep(30);
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  EXPECT_TRUE(NewSystemProcessInfo()->AnotherInstanceRunning());
  Stop(child);
}

TEST(ProcessInfoTest, CurrentProcessIdIsOurs) {
  EXPECT_EQ(NewSystemProcessInfo()->CurrentProcessId(), ::getpid());
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(NewSystemProcessInfo()->CurrentProcessId() == ::getpid() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace qlok
