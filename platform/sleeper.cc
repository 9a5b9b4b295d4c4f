// Pauses of the calling process.
#include <time.h>

#include <cerrno>
#include <memory>

#include "platform/mail_sender.h"

namespace qlok {
namespace {

class SystemSleeper : public Sleeper {
 public:
  // Sleeps the whole time even when signals interrupt the pause; a
  // negative time does not pause at all.
  void Sleep(int milliseconds) override {
    if (milliseconds <= 0) return;
    struct timespec left;
    left.tv_sec = milliseconds / 1000;
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

std::unique_ptr<Sleeper> NewSystemSleeper() {
  return std::make_unique<SystemSleeper>();
}

}  // namespace qlok
