// The request handler: from the decoded form to the HTML of the page body.
#ifndef QLOK_SEARCH_PAGE_HANDLE_REQUEST_H_
#define QLOK_SEARCH_PAGE_HANDLE_REQUEST_H_

#include <string>

#include "mail/outbox.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/error_log.h"
#include "platform/mail_sender.h"
#include "platform/process_info.h"
#include "platform/settings_store.h"
#include "platform/text_files.h"
#include "site/site_config.h"

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
  // When the request must have ended ([request] time_limit after it began).
  const Deadline& deadline;
  Outbox& outbox;    // the mails no attempt delivered
  ErrorLog& errors;  // the web server's error log
};

// Handles one posted form (already URL-decoded; the handler may shorten it
// as it reads) and returns the HTML of the page body. A search whose address
// was refused gets kRefusedAddressNotice above its result. When
// `escape_growth` is given, it is set to the number of code units that HTML
// escaping added to the body (the form's query text and values), for the
// page shell's choice of foot. Throws Failure for the page shell's trap
// where a failure is not ignored.
std::u16string HandleRequest(std::u16string& posted, RequestServices& services,
                             size_t* escape_growth = nullptr);

}  // namespace qlok

#endif  // QLOK_SEARCH_PAGE_HANDLE_REQUEST_H_
