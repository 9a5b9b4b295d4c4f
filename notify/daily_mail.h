// The daily job-match mail: the jobs new to one registration since its
// last mail, in the first match mail's form.
#ifndef QLOK_NOTIFY_DAILY_MAIL_H_
#define QLOK_NOTIFY_DAILY_MAIL_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "site/site_config.h"

namespace qlok {

// The subject of every daily mail.
inline constexpr char16_t kDailyMailSubject[] = u"新着の求人がみつかりました";

// The head (that this is the daily mail, how many jobs it brings, where to
// change or stop the registration, and the registration's manage link),
// then `mail_job_text` as the mail renderer writes it (it begins with a
// line break), then the foot, which repeats the link and names the sender
// ([site] operator_*, OperatorFootText) between two rules and ends with
// four line breaks. Every line break is CR LF. Never throws.
std::u16string ComposeDailyMail(const std::u16string& mail_job_text,
                                int64_t job_count, const SiteConfig& site,
                                std::string_view token);

}  // namespace qlok

#endif  // QLOK_NOTIFY_DAILY_MAIL_H_
