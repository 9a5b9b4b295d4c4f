// The running instances of a site, told apart by locks on one file.
//
// Each instance holds a shared lock on the first byte of
// <settings>/instances.lock through its own open description of the file;
// the kernel drops it when the process ends, also when it is killed, so no
// stale entry can outlive a process. "Another instance runs" is then the
// question whether an exclusive lock on that byte would conflict with a
// lock held elsewhere; it is only asked, never taken, so no instance ever
// waits for another.
#include "platform/process_info.h"

#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/failure.h"
#include "platform/file_lock.h"

namespace qlok {
namespace {

constexpr char kInstancesFile[] = "/instances.lock";
constexpr LockRange kInstanceByte{0, 1};

class SiteProcessInfo : public ProcessInfo {
 public:
  explicit SiteProcessInfo(const std::string& settings_dir) {
    // Failures are kept for the question: making the services of a request
    // must not fail on them.
    const std::string path = settings_dir + kInstancesFile;
    try {
      fd_ = OpenLockFile(path, LockKind::kShared);
      // Nobody takes the exclusive lock, so the shared one is granted at
      // once.
      if (!TakeLock(fd_, LockKind::kShared, kInstanceByte,
                    std::chrono::milliseconds(0))) {
        failure_ = "instances: " + path + " is locked by another program";
      }
    } catch (const Failure& failure) {
      failure_ = failure.what();
    }
  }
  ~SiteProcessInfo() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool AnotherInstanceRunning() override {
    if (failure_) throw Failure(*failure_);
    return LockedElsewhere(fd_, LockKind::kExclusive, kInstanceByte);
  }

  int64_t CurrentProcessId() override { return ::getpid(); }

 private:
  int fd_ = -1;
  std::optional<std::string> failure_;
};

}  // namespace

std::unique_ptr<ProcessInfo> NewSiteProcessInfo(
    const std::string& settings_dir) {
  return std::make_unique<SiteProcessInfo>(settings_dir);
}

}  // namespace qlok
