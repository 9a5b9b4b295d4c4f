// q_lok-manage.cgi: started by the web server once per request to the
// manage page. Builds the real services of the site home and serves the
// request through CgiServe.
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
#include "platform/site_config.h"
#include "platform/site_home.h"
#include "platform/smtp_mail_sender.h"
#include "platform/sqlite_connection.h"
#include "platform/text_files.h"

namespace qlok {
namespace {

int Serve(ErrorLog& errors) {
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
        std::unique_ptr<Databases> databases = NewDatabases(home);
        std::unique_ptr<Sleeper> sleeper = NewSystemSleeper();
        std::unique_ptr<MailSender> mail = NewSmtpMailSender();
        SiteRegistrations registrations(*files, *databases);
        ManageServices services{
            *clock,
            [&]() -> RegistrationStore& { return registrations.Store(); },
            *mail, *sleeper, errors};
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
