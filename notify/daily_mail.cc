#include "notify/daily_mail.h"

#include "consent/consent_texts.h"
#include "mail/match_mail.h"
#include "registrations/registration.h"
#include "text/unicode.h"

namespace qlok {

std::u16string ComposeDailyMail(const std::u16string& mail_job_text,
                                int64_t job_count, const SiteConfig& site,
                                std::string_view token) {
  const std::u16string link = ManageLink(site, token);
  return FrameMailJobs(
      u"求人マッチメールの毎日の求人情報メールです。\r\n"
      u"前回のお知らせの後に見つかった、ご登録の条件に合う新しい求人を" +
          Digits(job_count) +
          u"件お届けいたします。\r\n"
          u"登録内容の変更・配信の停止は下記↓からできます。\r\n" +
          link + u"\r\n",
      mail_job_text,
      u"このメールはご登録の条件に合う新しい求人が見つかった日に"
      u"お送りしています。\r\n"
      u"新しい求人がない日はお送りいたしません。\r\n"
      u"登録内容の変更・配信の停止はこちらからどうぞ。\r\n" +
          link + u"\r\n" + OperatorFootText(site));
}

}  // namespace qlok
