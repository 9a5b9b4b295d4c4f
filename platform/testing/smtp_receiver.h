// For tests: a real SMTP receiver on a free loopback port
// (platform/testing/smtp_receiver.py on Debian's aiosmtpd), started by the
// test itself and stopped when the object goes.
#ifndef QLOK_PLATFORM_TESTING_SMTP_RECEIVER_H_
#define QLOK_PLATFORM_TESTING_SMTP_RECEIVER_H_

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef QLOK_PYTHON
#define QLOK_PYTHON "/usr/bin/python3"
#endif

namespace qlok {

class SmtpReceiver {
 public:
  struct Options {
    std::string login;        // "user:password": require AUTH LOGIN
    std::string refuse_from;  // refuse MAIL FROM this address
    // Offer STARTTLS with this certificate and key (PEM files).
    std::string tls_certificate;
    std::string tls_key;
    // "accept", "refuse" (every MAIL FROM), "close" (each connection at
    // once) or "silent" (connections accepted and never answered).
    std::string behave = "accept";
  };
  // One mail as the receiver saved it; the texts are UTF-8.
  struct Mail {
    std::string raw;        // the message as it arrived
    std::string mail_from;  // the envelope
    std::string rcpt_to;    // blank-separated
    std::string user;       // who authenticated, or empty
    std::string mechanism;  // "LOGIN" or empty
    std::string subject;    // decoded
    std::string from;       // decoded From field
    std::string body;       // decoded
  };

  // Options that differ from the defaults, one at a time.
  static Options Login(std::string login) {
    Options options;
    options.login = std::move(login);
    return options;
  }
  static Options Behaving(std::string behave) {
    Options options;
    options.behave = std::move(behave);
    return options;
  }

  SmtpReceiver() : SmtpReceiver(Options()) {}
  // Starts the receiver; port() is 0 when it could not be started (the
  // reason is in error()).
  explicit SmtpReceiver(const Options& options) {
    char folder[] = "/tmp/qlok_smtp_XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
      error_ = "mkdtemp failed";
      return;
    }
    folder_ = folder;
    int out[2];
    if (::pipe(out) != 0) {
      error_ = "pipe failed";
      return;
    }
    std::vector<std::string> args = {QLOK_PYTHON, QLOK_SMTP_RECEIVER, folder_};
    if (!options.login.empty())
      args.insert(args.end(), {"--login", options.login});
    if (!options.refuse_from.empty()) {
      args.insert(args.end(), {"--refuse-from", options.refuse_from});
    }
    if (!options.tls_certificate.empty()) {
      args.insert(args.end(),
                  {"--tls", options.tls_certificate, options.tls_key});
    }
    args.insert(args.end(), {"--behave", options.behave});
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    // The first line, "PORT <n>", says that it listens.
    std::string line;
    struct pollfd wait = {out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos &&
           ::poll(&wait, 1, 20000) == 1) {
      char chunk[64];
      ssize_t got = ::read(out[0], chunk, sizeof chunk);
      if (got <= 0) break;
      line.append(chunk, got);
    }
    ::close(out[0]);
    if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
    if (port_ == 0) error_ = "the receiver did not start: " + line;
  }

  ~SmtpReceiver() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  SmtpReceiver(const SmtpReceiver&) = delete;
  SmtpReceiver& operator=(const SmtpReceiver&) = delete;

  int port() const { return port_; }
  const std::string& error() const { return error_; }

  // Every AUTH the receiver was given, as "MECHANISM USER tls|plain".
  std::vector<std::string> Logins() const {
    std::vector<std::string> lines;
    std::ifstream log(folder_ + "/auth.log");
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
  }

  // Makes a throw-away certificate for "localhost" and 127.0.0.1 and its
  // key in `folder` (cert.pem, key.pem); false when openssl fails.
  static bool MakeCertificate(const std::string& folder) {
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
        "-nodes -days 2 -subj /CN=localhost "
        "-addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout '" +
        folder + "/key.pem' -out '" + folder + "/cert.pem' 2>/dev/null";
    return std::system(command.c_str()) == 0;
  }

  // The mails saved so far, in the order they arrived.
  std::vector<Mail> Mails() const {
    std::vector<Mail> mails;
    for (int n = 1; std::filesystem::exists(Path(n, ".done")); ++n) {
      Mail mail;
      mail.raw = Read(n, ".eml");
      std::istringstream envelope(Read(n, ".envelope"));
      std::getline(envelope, mail.mail_from);
      std::getline(envelope, mail.rcpt_to);
      std::getline(envelope, mail.user);
      std::getline(envelope, mail.mechanism);
      mail.subject = Read(n, ".subject");
      mail.from = Read(n, ".from");
      mail.body = Read(n, ".body");
      mails.push_back(mail);
    }
    return mails;
  }

 private:
  std::string Path(int n, const char* suffix) const {
    return folder_ + "/" + std::to_string(n) + suffix;
  }
  std::string Read(int n, const char* suffix) const {
    std::ifstream file(Path(n, suffix), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

  std::string folder_;
  std::string error_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace qlok

#endif  // QLOK_PLATFORM_TESTING_SMTP_RECEIVER_H_
