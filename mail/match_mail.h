// The bodies of the job-match mails: the first one, and the frame that the
// daily one shares with it.
#ifndef QLOK_MAIL_MATCH_MAIL_H_
#define QLOK_MAIL_MATCH_MAIL_H_

#include <string>

#include "site/site_config.h"

namespace qlok {

// A job-match mail around its job text: `head` (whole lines), then
// `mail_job_text` as it is (it begins with a line break, which leaves a
// blank line after the head), a blank line, a rule of 32 "━", `foot`
// (whole lines), the rule again and four line breaks. Every line break is
// CR LF. The first and the daily mail differ only in head and foot.
std::u16string FrameMailJobs(const std::u16string& head,
                             const std::u16string& mail_job_text,
                             const std::u16string& foot);

// The first match mail: the head (five lines, the last one the site's top
// page), then
// `mail_job_text` as it is (it begins with a line break, which leaves a
// blank line after the head), then the foot, which ends with a rule and
// four line breaks. Every line break is CR LF. Never throws.
std::u16string ComposeMatchMail(const std::u16string& mail_job_text,
                                const SiteConfig& site);

}  // namespace qlok

#endif  // QLOK_MAIL_MATCH_MAIL_H_
