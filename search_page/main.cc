// q_lok.cgi: started by the web server once per request. Builds the real
// services of the site home and serves the request through CgiMain.
#include <memory>
#include <string>
#include <utility>

#include "frame/cgi_main.h"
#include "frame/site_services.h"
#include "frame/standard_streams.h"
#include "platform/clock.h"
#include "platform/error_log.h"
#include "platform/process_info.h"
#include "platform/settings_store.h"
#include "search_page/handle_request.h"
#include "site/site_config.h"
#include "site/site_home.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// The page cache of the job database, in KiB: a search reads each page
// about once, and SQLite's 2,000 KiB would only be memory taken for pages
// never read again (a quarter of a millisecond of page faults per request).
constexpr int kSearchCacheKib = 256;

int Serve(ErrorLog& errors) {
  // The request's time limit counts from here.
  std::unique_ptr<MonotonicClock> monotonic = NewSystemMonotonicClock();
  const int64_t start_ms = monotonic->Milliseconds();
  const std::string home = SiteHome();
  // Counted as a running instance of the site from here until the process
  // ends (making it never fails), so that requests whose lives overlap see
  // each other when they take their turn numbers.
  std::unique_ptr<ProcessInfo> processes =
      NewSiteProcessInfo(home + "/settings");
  std::unique_ptr<Clock> clock = NewSystemClock();
  StandardInput input;
  StandardOutput output;
  CgiProcess process{ProcessEnvironment, input, output, errors, *clock};
  // A refused registration's status and Retry-After.
  std::u16string added_headers;
  CgiMain(
      process, [&home] { return LoadSiteConfig(home + "/site.conf"); },
      [&](std::u16string& posted, const SiteConfig& site) {
        // Built here, under the page shell's trap, so that a service that
        // cannot be set up still gives the error page.
        std::unique_ptr<SettingsStore> settings =
            NewFileSettingsStore(home + "/settings");
        SiteServices real(home, site, *monotonic, start_ms, kSearchCacheKib);
        RequestServices services{
            *clock,          *settings,    *processes,    *real.files,
            *real.databases, *real.mail,   *real.sleeper, site,
            real.deadline,   *real.outbox, errors};
        services.visitor = {U16(ProcessEnvironment("REMOTE_ADDR")),
                            U16(ProcessEnvironment("HTTP_USER_AGENT")),
                            U16(ProcessEnvironment("HTTP_REFERER"))};
        services.added_headers = &added_headers;
        size_t escape_growth = 0;
        std::u16string html = HandleRequest(posted, services, &escape_growth);
        return PageBody(std::move(html), escape_growth);
      },
      &added_headers);
  return 0;
}

}  // namespace
}  // namespace qlok

int main() { return qlok::RunCgiProgram("q_lok", qlok::Serve); }
