// The request handler: from the decoded form to the HTML of the page body.
#ifndef QLOK_SEARCH_PAGE_HANDLE_REQUEST_H_
#define QLOK_SEARCH_PAGE_HANDLE_REQUEST_H_

#include <string>

#include "consent/consent_store.h"
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
  // The visitor's request as the web server describes it (REMOTE_ADDR,
  // HTTP_USER_AGENT, HTTP_REFERER): a registration keeps it as its consent
  // and is limited per client by it.
  ConsentRequest visitor = {};
  // Header lines the answer adds, each ending in CR LF (a refused
  // registration's "Status: 429" and "Retry-After"); nullptr: none.
  std::u16string* added_headers = nullptr;
};

// Handles one posted form (already URL-decoded; the handler may shorten it
// as it reads) and returns the HTML of the page body. A search whose address
// was refused gets kRefusedAddressNotice above its result. When
// `escape_growth` is given, it is set to the number of code units that HTML
// escaping added to the body (the form's query text and values), for the
// page shell's choice of foot.
//
// A registration first takes its place within the limits of the site
// (limits/); over a limit it is not made, nothing is mailed, one line goes
// to `errors`, the page says when to try again and `added_headers` gets
// status 429 and Retry-After. A registration made is kept with its consent
// (the visitor's request), unconfirmed unless [registration] confirmation
// is "none"; its first match mail gains, after its body, the paragraph with
// the manage link (consent/consent_texts.h) and goes from the envelope
// sender of [mail] bounce_address. A registration that cannot be kept is
// never confirmed: the visitor is asked to send it again, and no mail goes.
// Throws Failure for the page shell's trap where a failure is not ignored.
std::u16string HandleRequest(std::u16string& posted, RequestServices& services,
                             size_t* escape_growth = nullptr);

}  // namespace qlok

#endif  // QLOK_SEARCH_PAGE_HANDLE_REQUEST_H_
