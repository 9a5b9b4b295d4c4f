// The process table read from /proc.
//
// Another instance is a process other than this one that is neither a
// zombie nor dead, runs the very file this process runs (the same device
// and inode behind /proc/PID/exe, so a copy or a renamed path of the same
// name does not count, while the same file reached by another path does),
// and has our real and effective user ids.
#include "platform/process_info.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/failure.h"
#include "platform/read_to_end.h"

namespace qlok {
namespace {

// The whole of a small /proc file, or nullopt when it cannot be read (the
// process has ended or is not ours to look at).
std::optional<std::string> ReadSmallFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> bytes = ReadToEnd(fd);
  ::close(fd);
  return bytes;
}

// The state letter of /proc/PID/stat ("R", "S", "Z", ...). The command name
// before it stands in parentheses and may itself hold blanks and ")", so
// the state is found after the last ")".
std::optional<char> ProcessState(const std::string& stat) {
  const size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size())
    return std::nullopt;
  return stat[close + 2];
}

// Whether the "Uid:" line of /proc/PID/status starts with our real and
// effective user ids.
bool SameUser(const std::string& status, uid_t real, uid_t effective) {
  const size_t line = status.find("\nUid:");
  if (line == std::string::npos) return false;
  const char* p = status.c_str() + line + 5;
  char* end = nullptr;
  errno = 0;
  const unsigned long r = std::strtoul(p, &end, 10);
  if (end == p || errno != 0) return false;
  p = end;
  const unsigned long e = std::strtoul(p, &end, 10);
  if (end == p || errno != 0) return false;
  return r == real && e == effective;
}

bool AllDigits(const char* name) {
  if (*name == '\0') return false;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9') return false;
  }
  return true;
}

class SystemProcessInfo : public ProcessInfo {
 public:
  bool AnotherInstanceRunning() override {
    struct stat self;
    if (::stat("/proc/self/exe", &self) != 0) {
      throw Failure(
          std::string("process table: cannot examine /proc/self/exe: ") +
          std::strerror(errno));
    }
    const std::string own_id = std::to_string(::getpid());
    const uid_t real = ::getuid();
    const uid_t effective = ::geteuid();

    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) {
      throw Failure(std::string("process table: cannot open /proc: ") +
                    std::strerror(errno));
    }
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(proc.get());
      if (entry == nullptr) {
        if (errno != 0) {
          throw Failure(std::string("process table: cannot read /proc: ") +
                        std::strerror(errno));
        }
        return false;
      }
      if (!AllDigits(entry->d_name) || own_id == entry->d_name) continue;
      const std::string base = std::string("/proc/") + entry->d_name;

      // Cheapest test first: the executable. Processes of other users and
      // kernel threads fail here and are passed over.
      struct stat exe;
      if (::stat((base + "/exe").c_str(), &exe) != 0) continue;
      if (exe.st_dev != self.st_dev || exe.st_ino != self.st_ino) continue;

      const std::optional<std::string> stat = ReadSmallFile(base + "/stat");
      if (!stat) continue;
      const std::optional<char> state = ProcessState(*stat);
      if (!state || *state == 'Z' || *state == 'X' || *state == 'x') continue;

      const std::optional<std::string> status = ReadSmallFile(base + "/status");
      if (!status || !SameUser(*status, real, effective)) continue;
      return true;
    }
  }

  int64_t CurrentProcessId() override { return ::getpid(); }
};

}  // namespace

std::unique_ptr<ProcessInfo> NewSystemProcessInfo() {
  return std::make_unique<SystemProcessInfo>();
}

}  // namespace qlok
