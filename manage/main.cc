// q_lok-manage.cgi: started by the web server once per request to the
// manage page. Builds the real services of the site home and serves the
// request through CgiServe.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "frame/cgi_serve.h"
#include "frame/site_services.h"
#include "frame/standard_streams.h"
#include "manage/handle_manage.h"
#include "manage/site_registrations.h"
#include "platform/clock.h"
#include "platform/error_log.h"
#include "site/site_config.h"
#include "site/site_home.h"

namespace qlok {
namespace {

int Serve(ErrorLog& errors) {
  std::unique_ptr<MonotonicClock> monotonic = NewSystemMonotonicClock();
  const int64_t start_ms = monotonic->Milliseconds();
  const std::string home = SiteHome();
  std::unique_ptr<Clock> clock = NewSystemClock();
  StandardInput input;
  StandardOutput output;
  CgiProcess process{ProcessEnvironment, input, output, errors, *clock};
  // The services outlive the handler: an answer's after-response work (the
  // list mail) uses them once the page has left.
  std::optional<SiteServices> real;
  std::optional<SiteRegistrations> registrations;
  std::optional<ManageServices> services;
  CgiServe(
      process, [&home] { return LoadSiteConfig(home + "/site.conf"); },
      [&](const CgiRequest& request, const SiteConfig& site) {
        // Built here, under the page shell's trap, so that a service that
        // cannot be set up still gives the error page.
        real.emplace(home, site, *monotonic, start_ms);
        registrations.emplace(*real->files, *real->databases);
        services.emplace(ManageServices{
            *clock,
            [&]() -> RegistrationStore& { return registrations->Store(); },
            *real->mail, *real->sleeper, errors, *real->files, *real->outbox,
            real->deadline,
            [&]() -> ConsentStore& { return registrations->Consents(); }});
        return HandleManageRequest(request, site, *services);
      });
  return 0;
}

}  // namespace
}  // namespace qlok

int main() { return qlok::RunCgiProgram("q_lok-manage", qlok::Serve); }
