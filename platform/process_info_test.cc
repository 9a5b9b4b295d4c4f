#include "platform/process_info.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/process_testing.h"

namespace qlok {
namespace {

namespace fs = std::filesystem;
using testing_support::ScratchFolder;

// A forked instance of the site in `settings`: it registers, says so through
// a pipe, and waits to be killed. Returns its id, or -1.
pid_t StartInstance(const std::string& settings) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ready[0]);
    auto instance = NewSiteProcessInfo(settings);
    (void)!::write(ready[1], "r", 1);
    ::sleep(30);  // ends by itself should the test die
    ::_exit(0);
  }
  ::close(ready[1]);
  char c;
  const bool started = pid > 0 && ::read(ready[0], &c, 1) == 1;
  ::close(ready[0]);
  return started ? pid : -1;
}

char StateOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::stringstream text;
  text << in.rdbuf();
  const std::string stat = text.str();
  const size_t close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size()
             ? '?'
             : stat[close + 2];
}

void Reap(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

TEST(SiteProcessInfoTest, SeesOtherInstancesOfTheSiteWhileTheyRun) {
  struct Case {
    const char* name;
    // Sets the others up in `settings` and `elsewhere`; returns what keeps
    // them, and a way to end the processes it started.
    std::function<std::function<void()>(const std::string& settings,
                                        const std::string& elsewhere)>
        others;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"alone", [](auto&, auto&) { return [] {}; }, false},
      {"another in this process",
       [](const std::string& settings, auto&) {
         std::shared_ptr<ProcessInfo> other = NewSiteProcessInfo(settings);
         return [other] {};
       },
       true},
      {"one that has ended in this process",
       [](const std::string& settings, auto&) {
         NewSiteProcessInfo(settings);
         return [] {};
       },
       false},
      {"an instance of another site",
       [](auto&, const std::string& elsewhere) {
         std::shared_ptr<ProcessInfo> other = NewSiteProcessInfo(elsewhere);
         const pid_t pid = StartInstance(elsewhere);
         return [other, pid] {
           ::kill(pid, SIGKILL);
           Reap(pid);
         };
       },
       false},
      {"a running process",
       [](const std::string& settings, auto&) {
         const pid_t pid = StartInstance(settings);
         EXPECT_GT(pid, 0);
         return [pid] {
           ::kill(pid, SIGKILL);
           Reap(pid);
         };
       },
       true},
      {"a killed process, not yet reaped",
       [](const std::string& settings, auto&) {
         const pid_t pid = StartInstance(settings);
         EXPECT_GT(pid, 0);
         ::kill(pid, SIGKILL);
         for (int i = 0; i < 1000 && StateOf(pid) != 'Z'; ++i) ::usleep(10000);
         EXPECT_EQ(StateOf(pid), 'Z');
         return [pid] { Reap(pid); };
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder scratch;
    const std::string settings = scratch.path() + "/settings";
    auto self = NewSiteProcessInfo(settings);  // makes the folder
    const std::function<void()> end =
        c.others(settings, scratch.path() + "/elsewhere");
    EXPECT_EQ(self->AnotherInstanceRunning(), c.expected);
    end();
  }
}

TEST(SiteProcessInfoTest, AnUnusableLockFileFailsTheQuestionOnly) {
  ScratchFolder scratch;
  { std::ofstream(scratch.path() + "/plain") << "not a folder"; }
  fs::create_directories(scratch.path() + "/settings/instances.lock/inner");
  for (const std::string& settings :
       {scratch.path() + "/plain/settings", scratch.path() + "/settings"}) {
    std::unique_ptr<ProcessInfo> info;
    ASSERT_NO_THROW(info = NewSiteProcessInfo(settings)) << settings;
    EXPECT_THROW(info->AnotherInstanceRunning(), Failure) << settings;
    EXPECT_EQ(info->CurrentProcessId(), ::getpid());
  }
}

TEST(SiteProcessInfoTest, CurrentProcessIdIsOurs) {
  ScratchFolder scratch;
  EXPECT_EQ(NewSiteProcessInfo(scratch.path())->CurrentProcessId(), ::getpid());
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(NewSiteProcessInfo(scratch.path())->CurrentProcessId() == ::getpid()
                ? 0
                : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace qlok
