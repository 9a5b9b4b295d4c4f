// The texts of the manage page: the HTML page bodies (the page shell adds
// head and foot) and the mail that lists an address's registrations.
//
// Pure: values in, texts out.
#ifndef QLOK_MANAGE_MANAGE_PAGES_H_
#define QLOK_MANAGE_MANAGE_PAGES_H_

#include <string>
#include <vector>

#include "registrations/registration_store.h"
#include "site/site_config.h"

namespace qlok {

// The program's own name: the forms of its pages post to it.
inline constexpr char16_t kManageProgram[] = u"q_lok-manage.cgi";

// The lookup form: type an address, get the list of its registrations
// mailed; and how conditions are changed.
std::u16string LookupFormPage();

// The lookup form again, for a text that is no address.
std::u16string LookupRetryPage();

// What every lookup of an address answers, whether the address has
// registrations or not, whether a mail went out or not.
std::u16string LookupAnsweredPage(const SiteConfig& site);

// One registration: its address masked, its conditions in words, and the
// stop button (for an active one) or the note that it is stopped. With
// `offer_confirm` an active one also offers, before the stop button, the
// confirm button that starts its daily mails.
std::u16string RegistrationPage(const Registration& registration,
                                bool offer_confirm = false);

// The answer to the confirm button; `already` when it had been confirmed
// before.
std::u16string ConfirmedPage(const Registration& registration, bool already);

// The confirmation of a stop; `already` when it had been stopped before.
std::u16string StoppedPage(const Registration& registration, bool already);

// The pages of requests that cannot be served.
std::u16string UnknownTokenPage();      // 404
std::u16string MalformedTokenPage();    // 400
std::u16string BadRequestPage();        // 400
std::u16string MethodNotAllowedPage();  // 405

// The list mail of an address: its subject, and its body listing
// `registrations` (at least one) with their links.
inline constexpr char16_t kLookupMailSubject[] =
    u"求人マッチメールのご登録内容";
std::u16string LookupMailBody(const std::vector<Registration>& registrations,
                              const SiteConfig& site);

}  // namespace qlok

#endif  // QLOK_MANAGE_MANAGE_PAGES_H_
