// The request handler: from the decoded form to the HTML of the page body.
#ifndef QLOK_SEARCH_HANDLE_REQUEST_H_
#define QLOK_SEARCH_HANDLE_REQUEST_H_

#include <ostream>
#include <string>

#include "platform/clock.h"
#include "platform/database.h"
#include "platform/mail_sender.h"
#include "platform/process_info.h"
#include "platform/settings_store.h"
#include "platform/site_config.h"
#include "platform/text_files.h"

namespace qlok {

// Everything outside the process that a request reaches. Only main builds
// the real ones; tests hand in fakes.
struct RequestServices {
  Clock& clock;
  SettingsStore& settings;
  ProcessInfo& processes;
  TextFiles& files;
  Databases& databases;
  MailSender& mail;
  Sleeper& sleeper;
  const SiteConfig& site;
  // Where failures the visitor is not shown leave their line.
  std::ostream& errors;
};

// Handles one posted form (already URL-decoded; the handler may shorten it
// as it reads) and returns the HTML of the page body. Throws Failure for the
// page shell's trap where a failure is not ignored.
std::u16string HandleRequest(std::u16string& posted, RequestServices& services);

}  // namespace qlok

#endif  // QLOK_SEARCH_HANDLE_REQUEST_H_
