#include "frame/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "platform/failure.h"

namespace qlok {

size_t StandardInput::Read(char* buffer, size_t size) {
  while (true) {
    ssize_t got = ::read(STDIN_FILENO, buffer, size);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) {
      throw Failure(std::string("standard input: ") + std::strerror(errno));
    }
  }
}

void StandardOutput::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t done = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (done < 0) {
      if (errno == EINTR) continue;
      throw Failure(std::string("standard output: ") + std::strerror(errno));
    }
    bytes.remove_prefix(static_cast<size_t>(done));
  }
}

void StandardOutput::Close() {
  ::signal(SIGTERM, SIG_IGN);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
}

}  // namespace qlok
