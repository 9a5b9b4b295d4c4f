#include "frame/standard_streams.h"

#include <unistd.h>

#include <cerrno>
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

}  // namespace qlok
