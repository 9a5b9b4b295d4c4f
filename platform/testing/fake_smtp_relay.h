// For tests: a scripted SMTP relay on a free loopback port, run by a thread
// of the test itself. It greets with a fixed line and answers every EHLO
// with fixed lines, or stays silent, and sends no mail anywhere.
#ifndef QLOK_PLATFORM_TESTING_FAKE_SMTP_RELAY_H_
#define QLOK_PLATFORM_TESTING_FAKE_SMTP_RELAY_H_

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

namespace qlok {

class FakeSmtpRelay {
 public:
  struct Script {
    bool silent = false;  // accepts and never says a word
    std::string greeting = "220 relay.test ESMTP";
    // The answer to EHLO, CR LF after each line.
    std::string ehlo_answer =
        "250-relay.test\r\n250-AUTH LOGIN PLAIN\r\n"
        "250 8BITMIME";
  };

  explicit FakeSmtpRelay(Script script) : script_(std::move(script)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address),
                      &size) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    // A silent relay leaves its connections in the listen queue: they are
    // made, and nothing is ever said on them.
    if (!script_.silent) thread_ = std::thread([this] { Serve(); });
  }

  ~FakeSmtpRelay() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }

  // The port it listens on; 0 when it could not be set up.
  int port() const { return port_; }

  // A port on which nothing listens: connections to it are refused.
  static int ClosedPort() {
    FakeSmtpRelay relay(Script{.silent = true});
    return relay.port();
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd wait = {listener_, POLLIN, 0};
      if (::poll(&wait, 1, 50) != 1) continue;
      const int peer = ::accept(listener_, nullptr, nullptr);
      if (peer < 0) continue;
      Talk(peer);
      ::close(peer);
    }
  }

  void Talk(int peer) {
    Send(peer, script_.greeting + "\r\n");
    std::string buffer;
    char chunk[512];
    while (!stop_) {
      pollfd wait = {peer, POLLIN, 0};
      if (::poll(&wait, 1, 50) != 1) continue;
      const ssize_t got = ::recv(peer, chunk, sizeof chunk, 0);
      if (got <= 0) return;
      buffer.append(chunk, static_cast<size_t>(got));
      size_t end;
      while ((end = buffer.find("\r\n")) != std::string::npos) {
        const std::string line = buffer.substr(0, end);
        buffer.erase(0, end + 2);
        if (line.rfind("EHLO ", 0) == 0) {
          Send(peer, script_.ehlo_answer + "\r\n");
        } else if (line == "QUIT") {
          Send(peer, "221 bye\r\n");
          return;
        } else {
          Send(peer, "502 not here\r\n");
        }
      }
    }
  }

  static void Send(int peer, const std::string& text) {
    ::send(peer, text.data(), text.size(), MSG_NOSIGNAL);
  }

  Script script_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

}  // namespace qlok

#endif  // QLOK_PLATFORM_TESTING_FAKE_SMTP_RELAY_H_
