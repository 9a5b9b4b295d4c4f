#include "platform/smtp_probe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace qlok {
namespace {

using Clock = std::chrono::steady_clock;

// Longest answer line taken; a relay that sends more is broken.
constexpr size_t kMaxAnswer = 64 * 1024;

struct Socket {
  int fd = -1;
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
};

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool IsLoopback(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
  }
  if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr) &&
           v6->sin6_addr.s6_addr[12] == 127;
  }
  return false;
}

// Connects to one address within the deadline; "" or the reason.
std::string ConnectOne(Socket& socket, const addrinfo& address,
                       Clock::time_point deadline) {
  socket.fd = ::socket(address.ai_family,
                       address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                       address.ai_protocol);
  if (socket.fd < 0) return std::strerror(errno);
  if (::connect(socket.fd, address.ai_addr, address.ai_addrlen) == 0) {
    return "";
  }
  if (errno != EINPROGRESS) return std::strerror(errno);
  pollfd wait = {socket.fd, POLLOUT, 0};
  int ready = ::poll(&wait, 1, MillisecondsLeft(deadline));
  if (ready == 0) return "no connection within the time allowed";
  if (ready < 0) return std::strerror(errno);
  int error = 0;
  socklen_t size = sizeof error;
  ::getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &error, &size);
  return error == 0 ? "" : std::strerror(error);
}

// Reads one whole answer (its last line has a blank after the code) within
// the deadline into `lines`; "" or the reason.
std::string ReadAnswer(int fd, std::string& buffer,
                       std::vector<std::string>& lines,
                       Clock::time_point deadline) {
  lines.clear();
  while (true) {
    size_t end;
    while ((end = buffer.find('\n')) != std::string::npos) {
      std::string line = buffer.substr(0, end);
      buffer.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      // "250-..." goes on; "250 ..." (or a bare code) is the last line.
      if (line.size() <= 3 || line[3] != '-') return "";
    }
    if (buffer.size() > kMaxAnswer) return "an answer without end";
    pollfd wait = {fd, POLLIN, 0};
    int ready = ::poll(&wait, 1, MillisecondsLeft(deadline));
    if (ready == 0) return "no answer within the time allowed";
    if (ready < 0) return std::strerror(errno);
    char chunk[1024];
    ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) return std::strerror(errno);
    if (got == 0) return "the relay closed the connection";
    buffer.append(chunk, static_cast<size_t>(got));
  }
}

bool SendAll(int fd, const std::string& text, Clock::time_point deadline) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n =
        ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd wait = {fd, POLLOUT, 0};
    if (::poll(&wait, 1, MillisecondsLeft(deadline)) <= 0) return false;
  }
  return true;
}

std::string Code(const std::vector<std::string>& lines) {
  return lines.empty() ? "" : lines.back().substr(0, 3);
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += (text.empty() ? "" : " ") + line;
  return text;
}

}  // namespace

bool SmtpProbe::Offers(const std::string& keyword) const {
  for (const std::string& extension : extensions) {
    if (extension == keyword || extension.starts_with(keyword + " ")) {
      return true;
    }
  }
  return false;
}

SmtpProbe ProbeSmtpRelay(const std::string& host, int port, int seconds) {
  SmtpProbe probe;
  const auto allowed = std::chrono::seconds(seconds);
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* addresses = nullptr;
  const std::string service = std::to_string(port);
  if (int error =
          ::getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses);
      error != 0) {
    probe.error =
        "the name cannot be resolved: " + std::string(::gai_strerror(error));
    return probe;
  }
  Socket socket;
  std::string failed;
  for (const addrinfo* a = addresses; a != nullptr; a = a->ai_next) {
    Socket attempt;
    failed = ConnectOne(attempt, *a, Clock::now() + allowed);
    if (failed.empty()) {
      probe.loopback = IsLoopback(a->ai_addr);
      std::swap(socket.fd, attempt.fd);
      break;
    }
  }
  ::freeaddrinfo(addresses);
  if (socket.fd < 0) {
    probe.error = "cannot connect: " + failed;
    return probe;
  }

  std::string buffer;
  std::vector<std::string> lines;
  const std::string within = " within " + std::to_string(seconds) + " s";
  if (std::string error =
          ReadAnswer(socket.fd, buffer, lines, Clock::now() + allowed);
      !error.empty()) {
    probe.error = "no greeting" + within + " (" + error + ")";
    return probe;
  }
  if (Code(lines) != "220") {
    probe.error = "greets with: " + Joined(lines);
    return probe;
  }
  char name[256] = "localhost";
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
    std::strcpy(name, "localhost");
  }
  if (!SendAll(socket.fd, "EHLO " + std::string(name) + "\r\n",
               Clock::now() + allowed)) {
    probe.error = "cannot send EHLO";
    return probe;
  }
  if (std::string error =
          ReadAnswer(socket.fd, buffer, lines, Clock::now() + allowed);
      !error.empty()) {
    probe.error = "no answer to EHLO" + within + " (" + error + ")";
    return probe;
  }
  if (Code(lines) != "250") {
    probe.error = "answers EHLO with: " + Joined(lines);
    return probe;
  }
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string extension = lines[i].size() > 4 ? lines[i].substr(4) : "";
    for (char& c : extension) {
      if (c == ' ') break;
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (!extension.empty()) probe.extensions.push_back(extension);
  }
  SendAll(socket.fd, "QUIT\r\n", Clock::now() + std::chrono::seconds(1));
  return probe;
}

}  // namespace qlok
