// Open file description locks (F_OFD_SETLK, F_OFD_GETLK). Unlike the
// classic record locks they are not dropped when the process closes some
// other descriptor of the same file, and two descriptions in one process
// exclude each other as two processes do.
#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/failure.h"

namespace qlok {
namespace {

// The first pause between two tries, doubled after each try up to the
// longest: a lock held for a few microseconds is taken again almost at
// once, and a long wait costs little.
constexpr std::chrono::microseconds kFirstPause{50};
constexpr std::chrono::microseconds kLongestPause{5000};

struct flock Request(LockKind kind, LockRange range) {
  struct flock request;
  std::memset(&request, 0, sizeof request);  // l_pid must be 0
  request.l_type = kind == LockKind::kShared ? F_RDLCK : F_WRLCK;
  request.l_whence = SEEK_SET;
  request.l_start = range.start;
  request.l_len = range.length;
  return request;
}

[[noreturn]] void Fail(const char* what, int error) {
  throw Failure(std::string("file lock: cannot ") + what + ": " +
                std::strerror(error));
}

void Pause(std::chrono::microseconds pause) {
  struct timespec t;
  t.tv_sec = static_cast<time_t>(pause.count() / 1000000);
  t.tv_nsec = static_cast<long>(pause.count() % 1000000) * 1000;
  while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

}  // namespace

int OpenLockFile(const std::string& path, LockKind kind) {
  const int access = kind == LockKind::kShared ? O_RDONLY : O_RDWR;
  for (int attempt = 0;; ++attempt) {
    const int fd = ::open(path.c_str(), access | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    const int error = errno;
    const size_t slash = path.rfind('/');
    // The folder is missing: make it once, then open again.
    if (error != ENOENT || attempt > 0 || slash == std::string::npos ||
        slash == 0 ||
        (::mkdir(path.substr(0, slash).c_str(), 0777) != 0 &&
         errno != EEXIST)) {
      throw Failure("file lock: cannot open " + path + ": " +
                    std::strerror(error));
    }
  }
}

bool TakeLock(int fd, LockKind kind, LockRange range,
              std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  std::chrono::microseconds pause = kFirstPause;
  for (;;) {
    struct flock request = Request(kind, range);
    if (::fcntl(fd, F_OFD_SETLK, &request) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EACCES) Fail("take a lock", errno);
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    Pause(std::min(pause, std::chrono::duration_cast<std::chrono::microseconds>(
                              deadline - now)));
    pause = std::min(pause * 2, kLongestPause);
  }
}

bool LockedElsewhere(int fd, LockKind kind, LockRange range) {
  struct flock request = Request(kind, range);
  while (::fcntl(fd, F_OFD_GETLK, &request) != 0) {
    if (errno != EINTR) Fail("look at the locks", errno);
    request = Request(kind, range);
  }
  return request.l_type != F_UNLCK;
}

}  // namespace qlok
