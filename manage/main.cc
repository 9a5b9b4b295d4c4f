// q_lok-manage.cgi: started by the web server once per request to the
// manage page. Builds the real services of the site home and serves the
// request through CgiServe.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "frame/cgi_serve.h"
#include "frame/standard_streams.h"
#include "manage/handle_manage.h"
#include "manage/site_registrations.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/error_log.h"
#include "platform/mail_sender.h"
#include "platform/outbox.h"
#include "platform/site_config.h"
#include "platform/site_home.h"
#include "platform/smtp_mail_sender.h"
#include "platform/sqlite_connection.h"
#include "platform/text_files.h"

namespace qlok {
namespace {

int Serve(ErrorLog& errors) {
  std::unique_ptr<MonotonicClock> monotonic = NewSystemMonotonicClock();
  const int64_t start_ms = monotonic->Milliseconds();
  const std::string home = SiteHome();
  std::unique_ptr<Clock> clock = NewSystemClock();
  StandardInput input;
  StandardOutput output;
  CgiProcess process{[](const char* name) {
                       const char* value = std::getenv(name);
                       return std::string(value ? value : "");
                     },
                     input, output, errors, *clock};
  CgiServe(
      process, [&home] { return LoadSiteConfig(home + "/site.conf"); },
      [&](const CgiRequest& request, const SiteConfig& site) {
        // Built here, under the page shell's trap, so that a service that
        // cannot be set up still gives the error page.
        std::unique_ptr<TextFiles> files = NewSiteTextFiles(home);
        std::unique_ptr<Databases> databases = NewDatabases(
            home,
            {.connect_timeout_seconds = site.database_connect_timeout,
             .statement_timeout_seconds = site.database_statement_timeout});
        std::unique_ptr<Sleeper> sleeper = NewSystemSleeper();
        std::unique_ptr<MailSender> mail =
            NewSmtpMailSender(SmtpSettingsFor(site));
        std::unique_ptr<Outbox> outbox = NewFileOutbox(home + "/outbox");
        const Deadline deadline(*monotonic, start_ms,
                                site.request_time_limit * int64_t{1000});
        SiteRegistrations registrations(*files, *databases);
        ManageServices services{*clock,
                                [&]() -> RegistrationStore& { return registrations.Store(); },
                                *mail,
                                *sleeper,
                                errors,
                                *files,
                                *outbox,
                                deadline};
        return HandleManageRequest(request, site, services);
      });
  return 0;
}

}  // namespace
}  // namespace qlok

int main() {
  // The request is served by this one thread.
  qlok::UseSqliteFromOneThread();
  // Everything that can answer with a page does so inside CgiServe; what
  // reaches here is a failing output.
  qlok::DescriptorErrorLog errors;  // standard error
  try {
    return qlok::Serve(errors);
  } catch (const std::exception& failure) {
    errors << "q_lok-manage: " << failure.what() << '\n';
    return 1;
  }
}
