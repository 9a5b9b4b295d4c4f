// The texts of consent that mails and pages share: the paragraph the first
// match mail gains after its fixed body, and the sender's foot of every
// daily mail and manage page.
//
// Pure: values in, texts out.
#ifndef QLOK_CONSENT_CONSENT_TEXTS_H_
#define QLOK_CONSENT_CONSENT_TEXTS_H_

#include <string>
#include <string_view>

#include "site/site_config.h"

namespace qlok {

// The paragraph after the first match mail's body, with the registration's
// manage link (the link of `token`): while `confirmed` is false, that the
// daily mails start once the link is opened and the registration
// confirmed there, that the same page stops them, and that a registration
// not confirmed within [registration] confirm_days is deleted; once
// confirmed, only where it is seen and stopped. Then the sender's foot.
// Every line ends in CR LF.
std::u16string FirstMailParagraph(const SiteConfig& site,
                                  std::string_view token, bool confirmed);

// Who sends the mails ([site] operator_name, operator_address,
// operator_contact, each line only when set) and how the mails are
// refused: as mail text, lines ending in CR LF, beginning with a line
// "【配信元】"; the empty text when all three are empty.
std::u16string OperatorFootText(const SiteConfig& site);

// The same as HTML for the manage page's foot (escaped), after "<HR>";
// the stop is through the link of each mail or the list of registrations
// the page mails (`lookup_link`).
std::u16string OperatorFootHtml(const SiteConfig& site,
                                std::u16string_view lookup_link);

}  // namespace qlok

#endif  // QLOK_CONSENT_CONSENT_TEXTS_H_
