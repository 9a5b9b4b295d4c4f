#include "platform/error_log.h"

#include <unistd.h>

#include <cerrno>

namespace qlok {

void DescriptorErrorLog::Append(std::string_view text) {
  pending_ += text;
  // Everything up to the last line end goes out now, in one write.
  const size_t end = pending_.rfind('\n');
  if (end == std::string::npos) return;
  const std::string rest = pending_.substr(end + 1);
  pending_.resize(end + 1);
  flush();
  pending_ = rest;
}

void DescriptorErrorLog::flush() {
  std::string_view bytes = pending_;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  pending_.clear();
}

}  // namespace qlok
