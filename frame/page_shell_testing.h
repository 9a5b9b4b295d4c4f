// The fixed lines of every page, written out independently of the page
// shell, for the tests of the shell and of the CGI frame.
#ifndef QLOK_FRAME_PAGE_SHELL_TESTING_H_
#define QLOK_FRAME_PAGE_SHELL_TESTING_H_

#include <string>

namespace qlok::testing_page {

// The eight head lines, each ended by CR LF, for a site top URL.
inline std::u16string Head(const std::u16string& top_url) {
  return u"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">"
         u"<HTML lang=\"ja\"><HEAD><meta http-equiv=\"Content-Type\" "
         u"content=\"text/html; charset=shift_jis\">\r\n"
         u"<META http-equiv=\"Content-Script-Type\" "
         u"content=\"text/javascript\"><meta name=\"viewport\" "
         u"content=\"width=device-width, initial-scale=1\">\r\n"
         u"<LINK rel=\"stylesheet\" type=\"text/css\" "
         u"href=\"../style2.css\">\r\n"
         u"<TITLE>お試し求人検索と登録</TITLE></HEAD><BODY>\r\n"
         u"<DIV ALIGN=\"LEFT\">\r\n"
         u"<H1><a name=\"top\">お試し求人検索＆求人マッチメール登録</a></H1>|"
         u"<A href=\"" +
         top_url +
         u"\">サイトTOPへ</A>|<script type=\"text/JavaScript\" "
         u"src=\"moji.js\">\r\n"
         u"</script><noscript><b><small>\r\n"
         u"<BR></small></b></noscript><HR>\r\n";
}

inline constexpr char16_t kClose[] = u"</DIV>\r\n</BODY>\r\n</HTML>\r\n";

}  // namespace qlok::testing_page

#endif  // QLOK_FRAME_PAGE_SHELL_TESTING_H_
