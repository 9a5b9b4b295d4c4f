#include "mail/outcome.h"

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

}  // namespace qlok
