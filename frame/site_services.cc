#include "frame/site_services.h"

#include <cstdlib>
#include <exception>

#include "platform/smtp_mail_sender.h"
#include "platform/sqlite_connection.h"
#include "site/smtp_settings.h"

namespace qlok {
namespace {

// What a lock wait leaves of the request's time: the page must still be
// made and written.
constexpr int64_t kPageRoomMs = 1000;

}  // namespace

SiteServices::SiteServices(const std::string& home, const SiteConfig& site,
                           MonotonicClock& monotonic, int64_t start_ms,
                           int sqlite_cache_kib)
    : deadline(monotonic, start_ms, site.request_time_limit * int64_t{1000}),
      files(NewSiteTextFiles(home)),
      databases(NewDatabases(
          home, {.connect_timeout_seconds = site.database_connect_timeout,
                 .statement_timeout_seconds = site.database_statement_timeout,
                 .sqlite_cache_kib = sqlite_cache_kib,
                 .sqlite_lock_deadline = deadline.Earlier(kPageRoomMs)})),
      sleeper(NewSystemSleeper()),
      mail(NewSmtpMailSender(SmtpSettingsFor(site))),
      outbox(NewFileOutbox(home + "/outbox")) {}

std::string ProcessEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return std::string(value ? value : "");
}

int RunCgiProgram(const char* program,
                  const std::function<int(ErrorLog&)>& serve) {
  // The request is served by this one thread.
  UseSqliteFromOneThread();
  DescriptorErrorLog errors;  // standard error
  try {
    return serve(errors);
  } catch (const std::exception& failure) {
    errors << program << ": " << failure.what() << '\n';
    return 1;
  }
}

}  // namespace qlok
