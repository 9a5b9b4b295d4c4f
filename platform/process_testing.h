// Test helpers for code that several processes run at once: a scratch
// folder that is removed afterwards, and a way to run one function in many
// forked processes that all start at the same moment.
#ifndef QLOK_PLATFORM_PROCESS_TESTING_H_
#define QLOK_PLATFORM_PROCESS_TESTING_H_

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qlok::testing_support {

// A fresh folder under the test's temporary folder, removed with all it
// holds when the object goes.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = ::testing::TempDir();
    if (pattern.empty() || pattern.back() != '/') pattern += '/';
    pattern += "qlok-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "mkdtemp failed for " << pattern;
    }
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs `body(i)` for i in 0..count-1, each in its own forked process. The
// children wait at a common start line until all of them exist, then run
// together. A child's exit status is 0 when `body` returned true. Returns
// how many children failed (a crash counts as a failure).
inline int RunInProcesses(int count, const std::function<bool(int)>& body) {
  int start[2];
  if (::pipe(start) != 0) return count;
  std::vector<pid_t> children;
  for (int i = 0; i < count; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(start[1]);
      char c;
      // Blocks until the parent closes its end: then every child is there.
      while (::read(start[0], &c, 1) < 0 && errno == EINTR) {
      }
      bool ok = false;
      try {
        ok = body(i);
      } catch (...) {
        ok = false;
      }
      ::_exit(ok ? 0 : 1);
    }
    if (pid > 0) children.push_back(pid);
  }
  ::close(start[0]);
  ::close(start[1]);
  int failed = count - static_cast<int>(children.size());
  for (pid_t pid : children) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
  }
  return failed;
}

}  // namespace qlok::testing_support

#endif  // QLOK_PLATFORM_PROCESS_TESTING_H_
