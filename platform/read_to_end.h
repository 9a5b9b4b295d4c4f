// Reading a whole file descriptor, for the platform layer's own use.
#ifndef QLOK_PLATFORM_READ_TO_END_H_
#define QLOK_PLATFORM_READ_TO_END_H_

#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

namespace qlok {

// Everything `fd` delivers up to its end, reading on after interruptions by
// signals; nullopt when a read fails, with errno telling why. The caller
// keeps and closes `fd`.
inline std::optional<std::string> ReadToEnd(int fd) {
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace qlok

#endif  // QLOK_PLATFORM_READ_TO_END_H_
