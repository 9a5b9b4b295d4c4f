#include "notify/daily_mail.h"

#include "registrations/registration.h"
#include "text/unicode.h"

namespace qlok {
namespace {

constexpr char16_t kRule[] = u"━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━";

}  // namespace

std::u16string ComposeDailyMail(const std::u16string& mail_job_text,
                                int64_t job_count, const SiteConfig& site,
                                std::string_view token) {
  const std::u16string link = ManageLink(site, token);
  std::u16string body =
      u"求人マッチメールの毎日の求人情報メールです。\r\n"
      u"前回のお知らせの後に見つかった、ご登録の条件に合う新しい求人を";
  body += Digits(job_count);
  body +=
      u"件お届けいたします。\r\n"
      u"登録内容の変更・配信の停止は下記↓からできます。\r\n";
  body += link;
  body += u"\r\n";
  body += mail_job_text;
  body += u"\r\n\r\n";
  body += kRule;
  body +=
      u"\r\nこのメールはご登録の条件に合う新しい求人が見つかった日に"
      u"お送りしています。\r\n"
      u"新しい求人がない日はお送りいたしません。\r\n"
      u"登録内容の変更・配信の停止はこちらからどうぞ。\r\n";
  body += link;
  body += u"\r\n";
  body += kRule;
  body += u"\r\n\r\n\r\n\r\n";
  return body;
}

}  // namespace qlok
