#include "manage/handle_manage.h"

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "consent/consent_texts.h"
#include "limits/counted_keys.h"
#include "mail/delivery.h"
#include "mail/kept_mail.h"
#include "manage/manage_pages.h"
#include "manage/manage_request.h"
#include "manage/registration_words.h"
#include "text/text_utils.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// The longest address a mail system takes (RFC 5321: 254 octets).
constexpr size_t kLongestAddress = 254;

CgiAnswer Page(std::u16string body, int status = 200) {
  CgiAnswer answer;
  answer.status = status;
  answer.body = std::move(body);
  return answer;
}

// Mails `registrations` to `address`. A mail that no attempt delivers waits
// in the outbox, and only the error log is told: the page must not show
// whether an address has registrations.
void MailList(const std::u16string& address,
              const std::vector<Registration>& registrations,
              const SiteConfig& site, ManageServices& services) {
  const Mail mail{address,
                  kLookupMailSubject,
                  LookupMailBody(registrations, site),
                  {{"Auto-Submitted", "auto-generated"}}};
  const Deadline deadline = services.deadline.Earlier(kTimeAfterMailMs);
  MailPost post{services.mail,  services.sleeper, site,     services.outbox,
                services.clock, services.errors,  &deadline};
  DeliverOrKeep(post, MailKind::kRegistrationList, mail,
                [&] { return MatchMailRoute(services.files); });
}

CgiAnswer Lookup(const std::u16string& address, const SiteConfig& site,
                 ManageServices& services) {
  if (address.size() > kLongestAddress || CheckMailAddress(address) != u"y") {
    return Page(LookupRetryPage());
  }
  RegistrationStore& store = services.registrations();
  CgiAnswer answer = Page(LookupAnsweredPage(site));
  // Every lookup counts, whether the address has registrations or not.
  // Counted as one whatever the spelling's letter case.
  if (store.CountLookup(CountedAddress(address), services.clock.Now()) <=
      site.manage_lookups_per_day) {
    std::vector<Registration> registrations = store.ListByAddress(address);
    if (!registrations.empty()) {
      // Mailed once the page has left: the relays' time would otherwise
      // tell by the answer's time that the address has registrations.
      answer.after_response =
          [address, registrations = std::move(registrations), site, &services] {
            MailList(address, registrations, site, services);
          };
    }
  }
  return answer;
}

CgiAnswer Stop(const std::string& token, ManageServices& services) {
  RegistrationStore& store = services.registrations();
  std::optional<Registration> registration = store.FindByToken(token);
  if (!registration) return Page(UnknownTokenPage(), 404);
  const bool stopped = store.StopByToken(token, services.clock.Now());
  return Page(StoppedPage(*registration, !stopped));
}

// Whether the registration still waits for its owner's confirmation; a
// page without the consent store offers none.
bool Waiting(const Registration& registration, ManageServices& services) {
  if (!services.consents || !registration.active) return false;
  const std::optional<Consent> consent =
      services.consents().Find(registration.id);
  return !consent || !consent->confirmed;
}

CgiAnswer Confirm(const std::string& token, ManageServices& services) {
  std::optional<Registration> registration =
      services.registrations().FindByToken(token);
  if (!registration) return Page(UnknownTokenPage(), 404);
  if (!registration->active || !services.consents) {
    return Page(RegistrationPage(*registration));
  }
  const bool confirmed =
      services.consents().Confirm(registration->id, services.clock.Now());
  return Page(ConfirmedPage(*registration, !confirmed));
}

CgiAnswer Answer(const ManageRequest& asked, const SiteConfig& site,
                 ManageServices& services) {
  switch (asked.kind) {
    case ManageRequest::kLookupForm:
      return Page(LookupFormPage());
    case ManageRequest::kShow: {
      std::optional<Registration> registration =
          services.registrations().FindByToken(asked.token);
      if (!registration) return Page(UnknownTokenPage(), 404);
      return Page(
          RegistrationPage(*registration, Waiting(*registration, services)));
    }
    case ManageRequest::kConfirm:
      return Confirm(asked.token, services);
    case ManageRequest::kStop:
    case ManageRequest::kOneClick:
      return Stop(asked.token, services);
    case ManageRequest::kLookup:
      return Lookup(asked.address, site, services);
    case ManageRequest::kMalformedToken:
      return Page(MalformedTokenPage(), 400);
    case ManageRequest::kBadRequest:
      return Page(BadRequestPage(), 400);
    case ManageRequest::kMethodNotAllowed: {
      CgiAnswer answer = Page(MethodNotAllowedPage(), 405);
      answer.headers.push_back(u"Allow: GET, HEAD, POST");
      return answer;
    }
  }
  return Page(BadRequestPage(), 400);
}

}  // namespace

CgiAnswer HandleManageRequest(const CgiRequest& request, const SiteConfig& site,
                              ManageServices& services) {
  CgiAnswer answer;
  if (!request.refused_body.empty()) {
    // A malformed request, not a failure of the site; told all the same.
    services.errors << "q_lok-manage: bad request: " << request.refused_body
                    << "\n";
    services.errors.flush();
    answer = Page(BadRequestPage(), 400);
  } else {
    answer = Answer(ReadManageRequest(request), site, services);
  }
  answer.body += OperatorFootHtml(site, kManageProgram);
  // The address of a registration's page holds its token: the page's
  // advertisement images and links must not be told it (Referer), and no
  // cache may keep the page.
  answer.headers.insert(
      answer.headers.begin(),
      {u"Referrer-Policy: no-referrer", u"Cache-Control: no-store"});
  return answer;
}

}  // namespace qlok
