#include "platform/random_token.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "platform/failure.h"
#include "text/sha256.h"

namespace qlok {

std::string NewRandomToken() {
  uint8_t bytes[kTokenBytes];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Failure(std::string("no random bytes for a token: ") +
                    std::strerror(errno));
    }
    got += static_cast<size_t>(n);
  }
  return HexDigits(bytes, sizeof bytes);
}

bool IsTokenText(std::string_view text) {
  if (text.size() != 2 * kTokenBytes) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace qlok
