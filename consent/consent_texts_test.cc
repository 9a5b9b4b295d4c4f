#include "consent/consent_texts.h"

#include <gtest/gtest.h>

#include "text/unicode.h"

namespace qlok {
namespace {

constexpr char kToken[] = "0123456789abcdef0123456789abcdef";

SiteConfig Site(bool with_operator) {
  SiteConfig site = SiteConfig::Defaults();
  site.manage_url = u"https://jobs.test/q/q_lok-manage.cgi";
  if (with_operator) {
    site.operator_name = u"株式会社<例>";
    site.operator_address = u"東京都千代田区1-1";
    site.operator_contact = u"info@jobs.test";
  }
  return site;
}

bool Has(const std::u16string& text, const std::u16string& part) {
  return text.find(part) != std::u16string::npos;
}

TEST(FirstMailParagraphTest, CarriesTheLinkAndSaysWhatTheLinkDoes) {
  const std::u16string link =
      u"https://jobs.test/q/q_lok-manage.cgi?t=" + U16(kToken);
  const struct {
    bool confirmed;
    bool with_operator;
    std::vector<std::u16string> present;
    std::vector<std::u16string> absent;
  } cases[] = {
      {false,
       true,
       {u"\r\n" + link + u"\r\n", u"配信を確認する", u"7日後に削除",
        u"配信の停止も", u"運営者：株式会社<例>\r\n",
        u"連絡先：info@jobs.test"},
       {}},
      {false, false, {link, u"配信を確認する"}, {u"【配信元】"}},
      {true, true, {link, u"配信停止", u"【配信元】"}, {u"配信を確認する"}},
  };
  for (const auto& c : cases) {
    const std::u16string text =
        FirstMailParagraph(Site(c.with_operator), kToken, c.confirmed);
    for (const auto& part : c.present) EXPECT_TRUE(Has(text, part)) << U8(part);
    for (const auto& part : c.absent) EXPECT_FALSE(Has(text, part)) << U8(part);
    EXPECT_EQ(text.substr(0, 2), u"\r\n");
    EXPECT_EQ(text.substr(text.size() - 2), u"\r\n");
    // Every line break is CR LF.
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == u'\n') EXPECT_EQ(text[i - 1], u'\r');
    }
  }
}

TEST(OperatorFootTest, ShowsOnlyTheLinesThatAreSetAndEscapesHtml) {
  SiteConfig site = Site(false);
  EXPECT_EQ(OperatorFootText(site), u"");
  site.operator_name = u"A&B";
  EXPECT_EQ(OperatorFootText(site),
            u"\r\n【配信元】\r\n運営者：A&B\r\n"
            u"配信の停止は、メールに記載のページからいつでもできます。\r\n");
  const std::u16string html = OperatorFootHtml(site, u"q_lok-manage.cgi");
  EXPECT_TRUE(Has(html, u"運営者：A&amp;B<BR>"));
  EXPECT_FALSE(Has(html, u"所在地"));
  EXPECT_TRUE(Has(html, u"<a href=\"q_lok-manage.cgi\">"));
}

}  // namespace
}  // namespace qlok
