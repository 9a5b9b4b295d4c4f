#include "mail/outcome.h"

#include "text/unicode.h"

namespace qlok {

std::u16string NoHitNotice(const std::u16string& page_text) {
  return u"過去約２週間の求人を検索いたしましたがヒットする求人はありませんでし"
         u"た。"
         u"<BR>"
         u"求人がヒットする確率が低いですが、この条件設定でよろしければ、下記に"
         u"メールアドレスを"
         u"<font size=\"3\" color=\"#ff0000\">入力して</font>登録を。<BR>"
         u"条件を変えて再検索する場合はメールアドレスを"
         u"<font size=\"3\" "
         u"color=\"#ff0000\">入力せず</font>に送信してください。" +
         page_text;
}

std::u16string RegistrationOutcome(int64_t mail_job_count,
                                   const std::u16string& sender_address) {
  std::u16string text;
  if (mail_job_count > 0) {
    text = u"登録を受付ました<BR>過去約２週間の情報から求人情報メールを" +
           Digits(mail_job_count) +
           u"件分送信しました。<BR>"
           u"１回目は期間を遡るので古い求人も含まれており、求人が締め切られて"
           u"いる可能性もより高くなります。<BR>"
           u"これから毎日求人をチェックし求人情報が見つかれば通知いたします。"
           u"<BR>"
           u"もし５分以内に初回のメールが届いていないなら↓";
  } else {
    text = u"登録を受付ました<BR>求人情報が見つかり次第通知いたします";
  }
  text +=
      u"<HR>スパム対策でメールが届かない場合があります。<BR>"
      u"こちらからのメールは次のメールアドレスで届きます。<BR>"
      u"許可アドレス・許可ドメインにご指定ください。"
      u"<BR>";
  text += sender_address;
  text +=
      u"<HR>登録変更・登録抹消はトップページよりできます。<BR>"
      u"「お気に入り」や「ブックマーク」などへの登録をお勧めします。";
  return text;
}

std::u16string RegistrationNotKeptNotice() {
  return u"申し訳ございません。ただいま登録を完了できませんでした。<BR>"
         u"お手数ですが、しばらくしてからもう一度送信してください。<HR>";
}

}  // namespace qlok
