#include "consent/consent_texts.h"

#include "registrations/registration.h"
#include "text/html_escape.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// The operator's lines that are set, each with its label.
template <typename Line>
void ForEachOperatorLine(const SiteConfig& site, Line line) {
  if (!site.operator_name.empty()) line(u"運営者：", site.operator_name);
  if (!site.operator_address.empty()) {
    line(u"所在地：", site.operator_address);
  }
  if (!site.operator_contact.empty()) {
    line(u"連絡先：", site.operator_contact);
  }
}

}  // namespace

std::u16string FirstMailParagraph(const SiteConfig& site,
                                  std::string_view token, bool confirmed) {
  const std::u16string link = ManageLink(site, token);
  std::u16string text = u"\r\n【毎日の求人情報メールについて】\r\n";
  if (confirmed) {
    text +=
        u"ご登録の内容の確認と、毎日の求人情報メールの配信停止は、"
        u"下記のページからできます。\r\n" +
        link + u"\r\n";
  } else {
    text +=
        u"このメールアドレスあての毎日の求人情報メールは、まだお送りして"
        u"おりません。\r\n"
        u"下記のページを開き、「配信を確認する」ボタンを押してください。"
        u"確認の後、ご登録の条件に合う新しい求人が見つかった日に"
        u"お届けします。\r\n" +
        link +
        u"\r\n"
        u"配信の停止も、同じページからいつでもできます。\r\n"
        u"確認されなかったご登録は、" +
        Digits(site.confirm_days) +
        u"日後に削除いたします。\r\n"
        u"お心当たりがない場合は、このメールを破棄してください。"
        u"今後メールをお送りすることはありません。\r\n";
  }
  return text + OperatorFootText(site);
}

std::u16string OperatorFootText(const SiteConfig& site) {
  std::u16string lines;
  ForEachOperatorLine(
      site, [&](std::u16string_view label, const std::u16string& value) {
        lines += std::u16string(label) + value + u"\r\n";
      });
  if (lines.empty()) return lines;
  return u"\r\n【配信元】\r\n" + lines +
         u"配信の停止は、メールに記載のページからいつでもできます。\r\n";
}

std::u16string OperatorFootHtml(const SiteConfig& site,
                                std::u16string_view lookup_link) {
  std::u16string lines;
  ForEachOperatorLine(
      site, [&](std::u16string_view label, const std::u16string& value) {
        lines += std::u16string(label) + EscapeHtml(value) + u"<BR>";
      });
  std::u16string foot = u"<HR>";
  if (!lines.empty()) foot += u"【配信元】<BR>" + lines;
  return foot +
         u"メールの配信の停止は、各メールに記載のページ、または<a href=\"" +
         std::u16string(lookup_link) +
         u"\">ご登録の一覧</a>からいつでもできます。";
}

}  // namespace qlok
