#include "frame/page_shell.h"

#include <algorithm>
#include <string>

#include "frame/url_decode.h"
#include "text/unicode.h"

namespace qlok {
namespace {

void AppendHead(std::u16string& page, const SiteConfig& site) {
  AppendLine(page,
             u"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 "
             u"Transitional//EN\"><HTML lang=\"ja\"><HEAD><meta "
             u"http-equiv=\"Content-Type\" content=\"text/html; "
             u"charset=shift_jis\">");
  AppendLine(page,
             u"<META http-equiv=\"Content-Script-Type\" "
             u"content=\"text/javascript\">" +
                 std::u16string(kPhoneViewport));
  AppendLine(page,
             u"<LINK rel=\"stylesheet\" type=\"text/css\" "
             u"href=\"../style2.css\">");
  AppendLine(page, u"<TITLE>お試し求人検索と登録</TITLE></HEAD><BODY>");
  AppendLine(page, u"<DIV ALIGN=\"LEFT\">");
  AppendLine(page,
             u"<H1><a name=\"top\">お試し求人検索＆求人マッチメール登録</a>"
             u"</H1>|<A href=\"" +
                 site.top_url +
                 u"\">サイトTOPへ</A>|<script type=\"text/JavaScript\" "
                 u"src=\"moji.js\">");
  AppendLine(page, u"</script><noscript><b><small>");
  AppendLine(page, u"<BR></small></b></noscript><HR>");
}

std::u16string TrackingImage(const std::u16string& address) {
  return u"<img border=\"0\" width=\"1\" height=\"1\" src=\"" + address +
         u"\" alt=\"\">";
}

std::u16string Banner(const std::u16string& address, int width, int height) {
  return u"<img border=\"0\" width=\"" + Digits(width) + u"\" height=\"" +
         Digits(height) + u"\" alt=\"\" src=\"" + address + u"\"></a>";
}

// One advertisement block: its heading, the text link and its tracking
// image, the banner link, the banner and its tracking image. The third
// block differs: its links carry rel="nofollow", and the "<BR>" before its
// banner ends the tracking-image line instead of starting the banner line.
void AppendAdvertisement(std::u16string& page, const Advertisement& ad,
                         std::u16string_view heading, int width, int height,
                         bool third) {
  const std::u16string attributes =
      third ? u"\" target=\"_blank\" rel=\"nofollow\">"
            : u"\" target=\"_blank\">";
  AppendLine(page, std::u16string(heading));
  AppendLine(page, u"<a href=\"" + ad.link + attributes + ad.text + u"</a>");
  AppendLine(page, TrackingImage(ad.tracking_image) + (third ? u"<BR>" : u""));
  AppendLine(page,
             (third ? u"" : u"<BR>") + (u"<a href=\"" + ad.link) + attributes);
  AppendLine(page, Banner(ad.banner_image, width, height));
  AppendLine(page, TrackingImage(ad.banner_tracking));
}

void AppendAdvertisementFoot(std::u16string& page, const SiteConfig& site) {
  AppendLine(page,
             u"<HR><A href=\"" + site.top_url + u"\">サイトトップページへ</A>");
  AppendAdvertisement(page, site.ads[0], u"<HR><HR>【広告 人気1位】<BR>", 468,
                      60, false);
  AppendAdvertisement(page, site.ads[1], u"<HR><BR>【広告 人気2位】<BR>", 728,
                      90, false);
  AppendAdvertisement(page, site.ads[2], u"<HR><BR>【広告 人気3位】<BR>", 320,
                      50, true);
  AppendLine(page, u"<HR>");
}

void AppendShortFoot(std::u16string& page, const SiteConfig& site) {
  AppendLine(
      page, u"<HR><A href=\"" + site.top_url +
                u"\">サイトTOPへ</A>｜<a href=\"#top\">このページの先頭へ</a>");
}

void AppendClose(std::u16string& page) {
  AppendLine(page, u"</DIV>");
  AppendLine(page, u"</BODY>");
  AppendLine(page, u"</HTML>");
}

}  // namespace

void AppendFramedPage(std::u16string& page, const SiteConfig& site,
                      std::u16string_view body, size_t escape_growth) {
  AppendHead(page, site);
  AppendLine(page, u"");
  AppendLine(page, body);
  const size_t unescaped_length =
      body.size() - std::min(escape_growth, body.size());
  if (unescaped_length <= kAdvertisementFootLimit) {
    AppendAdvertisementFoot(page, site);
  } else {
    AppendShortFoot(page, site);
  }
  AppendClose(page);
}

void BuildPage(RequestFields& fields, const SiteConfig& site,
               const RequestHandler& handler, ErrorTrap& trap) {
  trap.Run(fields, [&] {
    std::u16string& page = fields.PageBuffer;
    if (fields.PostedString.empty()) {
      AppendHead(page, site);
      AppendClose(page);
      return;
    }
    std::u16string posted = UrlDecode(fields.PostedString);
    const PageBody body = handler(posted, site);
    AppendFramedPage(page, site, body.html, body.escape_growth);
  });
}

}  // namespace qlok
