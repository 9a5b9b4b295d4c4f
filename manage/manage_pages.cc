#include "manage/manage_pages.h"

#include "manage/manage_request.h"
#include "manage/registration_words.h"
#include "registrations/registration.h"
#include "text/html_escape.h"
#include "text/unicode.h"

namespace qlok {
namespace {

constexpr char16_t kChangeNotice[] =
    u"<HR>【登録内容の変更】<BR>"
    u"登録の条件を変えるには、検索ページで前回と同じメールアドレスと登録番号を"
    u"選んで、新しい条件でもう一度登録してください。"
    u"その登録番号の条件が新しい条件に置き換わります。<BR>"
    u"条件の違う登録を増やすには、別の登録番号を選んで登録してください。";

constexpr char16_t kRule[] = u"━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━";

std::u16string FormStart() {
  return u"<form method=POST action=\"" + std::u16string(kManageProgram) +
         u"\">";
}

std::u16string LookupForm() {
  return FormStart() + u"【メールアドレス】<BR><INPUT TYPE=text NAME='" +
         kAddressField +
         u"' SIZE=50 maxlength='99' class='hankaku'><BR>"
         u"<INPUT TYPE=submit VALUE='　送信　'></FORM>";
}

std::u16string LinkToLookup() {
  return u"<HR><a href=\"" + std::u16string(kManageProgram) +
         u"\">ご登録の一覧をメールで受け取る</a>";
}

std::u16string Owner(const Registration& registration) {
  return u"【メールアドレス】" + EscapeHtml(MaskAddress(registration.address)) +
         u"<BR>";
}

std::u16string HiddenToken(const Registration& registration) {
  return u"<INPUT TYPE='hidden' NAME='" + U16(kTokenParameter) + u"' value='" +
         EscapeHtml(U16(registration.token)) + u"'>";
}

std::u16string ConfirmForm(const Registration& registration) {
  return u"このご登録はまだ確認されていません。<BR>"
         u"毎日の求人情報メールは、下のボタンを押してご登録を確認して"
         u"いただいた後からお送りします。<BR>"
         u"お心当たりがない場合は、何もせずにこのページを閉じてください。"
         u"<BR>" +
         FormStart() + HiddenToken(registration) +
         u"<INPUT TYPE='hidden' NAME='" + kConfirmField +
         u"' value='1'><INPUT TYPE=submit VALUE='配信を確認する'></FORM><HR>";
}

}  // namespace

std::u16string ConfirmedPage(const Registration& registration, bool already) {
  return (already ? u"このご登録はすでに確認されています。<BR>"
                  : u"ご登録を確認しました。ありがとうございます。<BR>") +
         Owner(registration) + u"【登録番号】" + Digits(registration.number) +
         u"<BR>ご登録の条件に合う新しい求人が見つかった日に、"
         u"毎日の求人情報メールをお送りします。<BR>"
         u"配信を止めるには、メールに記載のページから登録を抹消してください。"
         u"<HR>" +
         RegistrationPage(registration);
}

std::u16string LookupFormPage() {
  return u"【登録の確認・変更・抹消】<BR>"
         u"求人マッチメールにご登録のメールアドレスを入力して、送信してください"
         u"。<BR>"
         u"そのアドレスあてに、ご登録の一覧をメールでお送りします。<BR>"
         u"メールに登録ごとに記載のアドレスから、登録内容の確認と登録の抹消が"
         u"できます。<BR>"
         u"求人マッチメールに記載のアドレスからも同じようにできます。<HR>" +
         LookupForm() + kChangeNotice;
}

std::u16string LookupRetryPage() {
  return u"メールアドレスを読み取れませんでした。"
         u"お手数ですが、もう一度入力してください。<HR>" +
         LookupForm() + kChangeNotice;
}

std::u16string LookupAnsweredPage(const SiteConfig& site) {
  return u"ご入力のメールアドレスで求人マッチメールにご登録があれば、"
         u"そのアドレスあてにご登録の一覧をお送りしました。<BR>"
         u"同じメールアドレスあてにお送りするのは１日" +
         Digits(site.manage_lookups_per_day) +
         u"回までです。<BR>"
         u"数分たっても届かない場合は、迷惑メールのフォルダなどもご確認くださ"
         u"い。<BR>"
         u"こちらからのメールは次のメールアドレスで届きます。<BR>" +
         site.sender_addresses[0] + kChangeNotice;
}

std::u16string RegistrationPage(const Registration& registration,
                                bool offer_confirm) {
  std::u16string page =
      u"【求人マッチメールのご登録内容】<BR>" + Owner(registration) +
      WordedLinesHtml(DescribeRegistration(registration)) + u"<HR>";
  if (registration.active && offer_confirm) {
    page += ConfirmForm(registration);
  }
  if (registration.active) {
    page +=
        u"この登録のメール配信を止めるには、下のボタンを押してください。<BR>"
        u"登録が抹消され、今後この登録の求人マッチメールはお送りしません。"
        u"<BR>" +
        FormStart() + u"<INPUT TYPE='hidden' NAME='" + U16(kTokenParameter) +
        u"' value='" + EscapeHtml(U16(registration.token)) +
        u"'><INPUT TYPE='hidden' NAME='" + kStopField +
        u"' value='1'><INPUT TYPE=submit VALUE='登録を抹消する'></FORM>";
  } else {
    page +=
        u"この登録はすでに抹消されています。"
        u"この登録の求人マッチメールはお送りしていません。<BR>"
        u"また受け取るには、検索ページからもう一度登録してください。";
  }
  return page + kChangeNotice;
}

std::u16string StoppedPage(const Registration& registration, bool already) {
  return (already ? u"この登録はすでに抹消されています。<BR>"
                  : u"登録を抹消しました。<BR>") +
         Owner(registration) + u"【登録番号】" + Digits(registration.number) +
         u"<BR>今後この登録の求人マッチメールはお送りしません。<BR>"
         u"ご利用ありがとうございました。<HR>"
         u"また受け取るには、検索ページからもう一度登録してください。";
}

std::u16string UnknownTokenPage() {
  return u"お探しの登録は見つかりませんでした。<BR>"
         u"メールに記載のアドレスが途中で切れていないか、ご確認ください。" +
         LinkToLookup();
}

std::u16string MalformedTokenPage() {
  return u"アドレスの形式が正しくありません。<BR>"
         u"メールに記載のアドレスを、途中で切れないよう最後までそのままお使い"
         u"ください。" +
         LinkToLookup();
}

std::u16string BadRequestPage() {
  return u"送信された内容を読み取れませんでした。" + LinkToLookup();
}

std::u16string MethodNotAllowedPage() {
  return u"このページはこの方法ではご利用いただけません。" + LinkToLookup();
}

std::u16string LookupMailBody(const std::vector<Registration>& registrations,
                              const SiteConfig& site) {
  std::u16string body =
      u"求人マッチメールのご登録内容をお知らせします。\r\n"
      u"このメールアドレスでご登録いただいている求人マッチメールは次のとおりで"
      u"す。\r\n"
      u"登録ごとのアドレスから、登録内容の確認と登録の抹消ができます。\r\n"
      u"\r\n";
  body += kRule;
  body += u"\r\n";
  for (const Registration& registration : registrations) {
    body += WordedLinesText(DescribeRegistration(registration));
    body += u"確認・抹消はこちら↓\r\n";
    body += ManageLink(site, registration.token) + u"\r\n";
    body += kRule;
    body += u"\r\n";
  }
  body +=
      u"\r\n"
      u"登録の条件を変えるには、検索ページで同じメールアドレスと登録番号を選ん"
      u"で、新しい条件でもう一度登録してください。\r\n"
      u"\r\n"
      u"このメールは、登録の確認ページでこのメールアドレスが入力されたため"
      u"お送りしています。\r\n"
      u"お心当たりがない場合は、このメールを破棄してください。\r\n" +
      site.top_url + u"\r\n";
  return body;
}

}  // namespace qlok
