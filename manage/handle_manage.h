// The request handler of q_lok-manage.cgi: from one request to the page
// that answers it.
#ifndef QLOK_MANAGE_HANDLE_MANAGE_H_
#define QLOK_MANAGE_HANDLE_MANAGE_H_

#include <functional>

#include "consent/consent_store.h"
#include "frame/cgi_serve.h"
#include "mail/outbox.h"
#include "platform/clock.h"
#include "platform/error_log.h"
#include "platform/mail_sender.h"
#include "platform/text_files.h"
#include "registrations/registration_store.h"
#include "site/site_config.h"

namespace qlok {

// Everything outside the process that a request reaches. Only main builds
// the real ones; tests hand in fakes.
struct ManageServices {
  Clock& clock;
  // The registrations of the site's database, opened on first use (pages
  // that need none never open it). Throws Failure when the database cannot
  // be reached.
  std::function<RegistrationStore&()> registrations;
  MailSender& mail;
  Sleeper& sleeper;
  ErrorLog& errors;  // the web server's error log
  TextFiles& files;  // pw/match_mail.txt, the logins of the list mail
  Outbox& outbox;    // the list mails no attempt delivered
  // When the request must have ended ([request] time_limit after it began).
  const Deadline& deadline;
  // The consent kept for the registrations, on the same database, opened on
  // first use. Throws Failure when the database cannot be reached.
  std::function<ConsentStore&()> consents = nullptr;
};

// Answers one request (ReadManageRequest says which):
// - the lookup form (GET without a token), 200;
// - a registration (GET with its token), 200; nothing is changed, since
//   mail scanners open links; one not yet confirmed offers the confirm
//   button beside the stop button;
// - a confirmation (the confirm button's POST): an active registration is
//   confirmed and its daily mails start, 200; a stopped one shows that it
//   is stopped;
// - a stop (the page's button, or a mail client's one-click POST): the
//   registration is stopped and the page confirms, 200; one stopped before
//   is confirmed alike;
// - a lookup: when the address (compared without letter case) has had no
//   more than [manage] lookups_per_day lookups today (this one counted) and has
//   registrations, they are mailed to it (the match mail's attempts,
//   Auto-Submitted) by the answer's after_response, once the page has left, so
//   that `services` must outlive the answer; the page is the same in every
//   case, 200. A mail that no attempt delivers in the request's time waits in
//   the outbox and leaves one line on `errors`; the page does not change;
// - an unknown token 404, a malformed token or a request that cannot be
//   read 400 (also one whose body the frame refused, refused_body, which
//   leaves one line on `errors`), a method other than GET, HEAD and POST
//   405 (with "Allow").
// Every page ends with the sender's foot (consent/consent_texts.h).
// Every answer carries "Referrer-Policy: no-referrer" (the token in the
// page's address must not reach the advertisements' servers) and
// "Cache-Control: no-store". A database that fails throws Failure, for the
// error page.
CgiAnswer HandleManageRequest(const CgiRequest& request, const SiteConfig& site,
                              ManageServices& services);

}  // namespace qlok

#endif  // QLOK_MANAGE_HANDLE_MANAGE_H_
