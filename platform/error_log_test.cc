#include "platform/error_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace qlok {
namespace {

// What has reached the read end of a pipe since the last look.
std::string Arrived(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

TEST(DescriptorErrorLogTest, WritesWholeLines) {
  struct Case {
    const char* name;
    std::vector<std::string> writes;  // "" stands for a flush
    // What has arrived after each write, and after the log is gone.
    std::vector<std::string> arrived;
  };
  const std::vector<Case> cases = {
      {"nothing", {}, {""}},
      {"one line in pieces",
       {"q_lok: ", "a", "\n"},
       {"", "", "q_lok: a\n", ""}},
      {"two lines at once", {"a\nb\n"}, {"a\nb\n", ""}},
      {"a line and a started one", {"a\nb", "c\n"}, {"a\n", "bc\n", ""}},
      {"an unended line goes at flush", {"a", ""}, {"", "a", ""}},
      {"an unended line goes at the end", {"a"}, {"", "a"}},
  };
  for (const Case& c : cases) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK), 0);
    std::vector<std::string> arrived;
    {
      DescriptorErrorLog log(fds[1]);
      for (const std::string& piece : c.writes) {
        if (piece.empty()) {
          log.flush();
        } else {
          log << piece;
        }
        arrived.push_back(Arrived(fds[0]));
      }
    }
    arrived.push_back(Arrived(fds[0]));
    EXPECT_EQ(arrived, c.arrived) << c.name;
    ::close(fds[0]);
    ::close(fds[1]);
  }
}

TEST(DescriptorErrorLogTest, AFailingWriteIsDropped) {
  DescriptorErrorLog log(-1);
  log << "q_lok: lost\n";
  log.flush();
}

TEST(StringErrorLogTest, KeepsWhatIsWritten) {
  StringErrorLog log;
  log << "q_lok: " << std::string("x") << ' ' << std::string_view("y") << '\n';
  EXPECT_EQ(log.str(), "q_lok: x y\n");
  log.str("");
  EXPECT_EQ(log.str(), "");
}

}  // namespace
}  // namespace qlok
