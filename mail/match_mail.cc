#include "mail/match_mail.h"

namespace qlok {
namespace {

constexpr char16_t kRule[] = u"━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━";

}  // namespace

std::u16string FrameMailJobs(const std::u16string& head,
                             const std::u16string& mail_job_text,
                             const std::u16string& foot) {
  std::u16string body = head;
  body += mail_job_text;
  body += u"\r\n\r\n";
  body += kRule;
  body += u"\r\n";
  body += foot;
  body += kRule;
  body += u"\r\n\r\n\r\n\r\n";
  return body;
}

std::u16string ComposeMatchMail(const std::u16string& mail_job_text,
                                const SiteConfig& site) {
  return FrameMailJobs(
      u"求人マッチメールの１回目の求人情報メールです。\r\n"
      u"１回目は期間を遡るので量が多くなる場合があります。\r\n"
      u"１回目は古い求人も含まれており、求人が締め切られている可能性もより高"
      u"くなります。\r\n"
      u"登録内容の変更・抹消は下記↓からできます｡ \r\n" +
          site.top_url + u"\r\n",
      mail_job_text,
      u"「求人って分からない。どれに応募すればいいの？」\r\n"
      u"そんな疑問にこたえます。\r\n"
      u"求人マッチメールは求人のお勧め度を１００点満点で点数化しました。\r\n");
}

}  // namespace qlok
