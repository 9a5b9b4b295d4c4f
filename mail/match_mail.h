// The body of the first job-match mail.
#ifndef QLOK_MAIL_MATCH_MAIL_H_
#define QLOK_MAIL_MATCH_MAIL_H_

#include <string>

#include "platform/site_config.h"

namespace qlok {

// The head (five lines, the last one the site's top page), then
// `mail_job_text` as it is (it begins with a line break, which leaves a
// blank line after the head), then the foot, which ends with a rule and
// four line breaks. Every line break is CR LF. Never throws.
std::u16string ComposeMatchMail(const std::u16string& mail_job_text,
                                const SiteConfig& site);

}  // namespace qlok

#endif  // QLOK_MAIL_MATCH_MAIL_H_
