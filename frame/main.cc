// q_lok.cgi: started by the web server once per request. Builds the real
// services of the site home and serves the request through CgiMain.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "frame/cgi_main.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "platform/mail_sender.h"
#include "platform/process_info.h"
#include "platform/settings_store.h"
#include "platform/site_config.h"
#include "platform/site_home.h"
#include "platform/smtp_mail_sender.h"
#include "platform/text_files.h"
#include "search/handle_request.h"

namespace qlok {
namespace {

// Standard input, read as the pipe delivers it.
class StandardInput : public ByteSource {
 public:
  size_t Read(char* buffer, size_t size) override {
    while (true) {
      ssize_t got = ::read(STDIN_FILENO, buffer, size);
      if (got >= 0) return static_cast<size_t>(got);
      if (errno != EINTR) {
        throw Failure(std::string("standard input: ") + std::strerror(errno));
      }
    }
  }
};

// Standard output; the response normally leaves in one write, and what a
// pipe takes only in part is written on until all is out.
class StandardOutput : public ByteSink {
 public:
  void Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      ssize_t done = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
      if (done < 0) {
        if (errno == EINTR) continue;
        throw Failure(std::string("standard output: ") + std::strerror(errno));
      }
      bytes.remove_prefix(static_cast<size_t>(done));
    }
  }
};

int Serve() {
  const std::string home = SiteHome();
  std::unique_ptr<Clock> clock = NewSystemClock();
  StandardInput input;
  StandardOutput output;
  CgiProcess process{[](const char* name) {
                       const char* value = std::getenv(name);
                       return std::string(value ? value : "");
                     },
                     input, output, std::cerr, *clock};
  CgiMain(
      process, [&home] { return LoadSiteConfig(home + "/site.conf"); },
      [&](std::u16string& posted, const SiteConfig& site) {
        // Built here, under the page shell's trap, so that a service that
        // cannot be set up still gives the error page.
        std::unique_ptr<SettingsStore> settings =
            NewFileSettingsStore(home + "/settings");
        std::unique_ptr<ProcessInfo> processes = NewSystemProcessInfo();
        std::unique_ptr<TextFiles> files = NewSiteTextFiles(home);
        std::unique_ptr<Databases> databases = NewDatabases(home);
        std::unique_ptr<Sleeper> sleeper = NewSystemSleeper();
        std::unique_ptr<MailSender> mail = NewSmtpMailSender();
        RequestServices services{*clock,   *settings,  *processes,
                                 *files,   *databases, *mail,
                                 *sleeper, site,       std::cerr};
        return HandleRequest(posted, services);
      });
  return 0;
}

}  // namespace
}  // namespace qlok

int main() {
  // Everything that can answer with a page does so inside CgiMain; what
  // reaches here is a failing output.
  try {
    return qlok::Serve();
  } catch (const std::exception& failure) {
    std::cerr << "q_lok: " << failure.what() << '\n';
    return 1;
  }
}
