// What the program may learn about its own and other processes.
#ifndef QLOK_PLATFORM_PROCESS_INFO_H_
#define QLOK_PLATFORM_PROCESS_INFO_H_

#include <cstdint>
#include <memory>

namespace qlok {

class ProcessInfo {
 public:
  virtual ~ProcessInfo() = default;
  // True when another running process of the same user runs this same
  // executable. Throws Failure when the process table cannot be read.
  virtual bool AnotherInstanceRunning() = 0;
  // The identifier of the current process.
  virtual int64_t CurrentProcessId() = 0;
};

// The process table of this machine (/proc).
std::unique_ptr<ProcessInfo> NewSystemProcessInfo();

}  // namespace qlok

#endif  // QLOK_PLATFORM_PROCESS_INFO_H_
