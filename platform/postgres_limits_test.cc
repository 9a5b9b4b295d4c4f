// What a PostgreSQL connection costs when none is wanted, and how long it
// may wait when the server does not answer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "platform/database.h"
#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// A TCP port on loopback whose connections the kernel accepts and nobody
// ever answers: a database server that hangs.
class SilentServer {
 public:
  SilentServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd_ < 0 ||
        bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(fd_, 8) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      ADD_FAILURE() << "no listening socket";
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~SilentServer() {
    if (fd_ >= 0) close(fd_);
  }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST(PostgresConnectTimeoutTest, ASilentServerTimesOut) {
  SilentServer server;
  ASSERT_NE(server.port(), 0);
  const std::u16string uri = U16(
      "postgresql://qlok@127.0.0.1:" + std::to_string(server.port()) + "/jobs");
  const auto start = std::chrono::steady_clock::now();
  try {
    OpenConnection(uri, "/", {.connect_timeout_seconds = 2});
    ADD_FAILURE() << "connected to a server that never answers";
  } catch (const Failure& failure) {
    EXPECT_NE(std::string(failure.what()).find("timeout expired"),
              std::string::npos)
        << failure.what();
  }
  // Without the timeout the open would wait for ever; a bound far above
  // the 2 seconds asked for tells the two apart on a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

bool LibpqIsMapped() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find("/libpq.so") != std::string::npos) return true;
  }
  return false;
}

TEST(LibpqLoadingTest, OnlyAPostgresqlConnectionLoadsLibpq) {
  if (LibpqIsMapped()) {
    GTEST_SKIP() << "an earlier test of this process loaded libpq";
  }
  auto db = OpenConnection(u"sqlite::memory:", "/");
  db->Execute(
      u"CREATE TABLE 求人 (社名 TEXT); INSERT INTO 求人 (社名) VALUES ('一')");
  EXPECT_FALSE(db->Open(u"求人", 15)->AtEnd());
  EXPECT_FALSE(LibpqIsMapped());

  // No server listens there: libpq is loaded, then refuses.
  EXPECT_THROW(OpenConnection(u"postgresql:///jobs?host=/nonexistent", "/"),
               Failure);
  EXPECT_TRUE(LibpqIsMapped());
}

}  // namespace
}  // namespace qlok
