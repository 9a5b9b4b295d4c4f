// What both CGI programs build for one request of the site home: its text
// files, its databases, the mail sender with the outbox, and the request's
// time limit. Only the programs' main functions make one.
#ifndef QLOK_FRAME_SITE_SERVICES_H_
#define QLOK_FRAME_SITE_SERVICES_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mail/outbox.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/error_log.h"
#include "platform/mail_sender.h"
#include "platform/text_files.h"
#include "site/site_config.h"

namespace qlok {

struct SiteServices {
  // The services of the site home `home` as `site` configures them: the
  // databases with its connect and statement timeouts (and a SQLite page
  // cache of `sqlite_cache_kib`, 0 for the engine's own), the SMTP sender
  // with its TLS and timeouts, outbox/, and a deadline [request] time_limit
  // after `start_ms` on `monotonic` (which must outlive the services), until
  // which, less a second kept for the page, a SQLite statement waits for a
  // lock. Throws Failure when one cannot be set up.
  SiteServices(const std::string& home, const SiteConfig& site,
               MonotonicClock& monotonic, int64_t start_ms,
               int sqlite_cache_kib = 0);

  Deadline deadline;
  std::unique_ptr<TextFiles> files;
  std::unique_ptr<Databases> databases;
  std::unique_ptr<Sleeper> sleeper;
  std::unique_ptr<MailSender> mail;
  std::unique_ptr<Outbox> outbox;
};

// The value of the process's environment variable `name`, empty when it
// is not set: what the CGI frame reads the request from.
std::string ProcessEnvironment(const char* name);

// The main function of a CGI program around `serve`: SQLite used from this
// one thread, standard error as the error log, and what `serve` throws (a
// failing output: everything else answers with a page) told there as one
// line "`program`: reason", with exit status 1.
int RunCgiProgram(const char* program,
                  const std::function<int(ErrorLog&)>& serve);

}  // namespace qlok

#endif  // QLOK_FRAME_SITE_SERVICES_H_
