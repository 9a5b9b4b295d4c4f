// What the program may learn about its own and other processes.
#ifndef QLOK_PLATFORM_PROCESS_INFO_H_
#define QLOK_PLATFORM_PROCESS_INFO_H_

#include <cstdint>
#include <memory>
#include <string>

namespace qlok {

class ProcessInfo {
 public:
  virtual ~ProcessInfo() = default;
  // True when another instance of the program runs on the same site. Throws
  // Failure when that cannot be known.
  virtual bool AnotherInstanceRunning() = 0;
  // The identifier of the current process.
  virtual int64_t CurrentProcessId() = 0;
};

// The instances of one site, counted by a lock file in its settings folder
// `settings_dir` (instances.lock): every instance holds a shared lock on it
// from the moment this is made until the process ends, however it ends, and
// another instance runs while some other holder exists. One open file and
// one question to the kernel, however many processes run. Never throws; a
// lock file that cannot be opened or locked makes AnotherInstanceRunning
// throw.
std::unique_ptr<ProcessInfo> NewSiteProcessInfo(
    const std::string& settings_dir);

}  // namespace qlok

#endif  // QLOK_PLATFORM_PROCESS_INFO_H_
