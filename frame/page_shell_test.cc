#include "frame/page_shell.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "frame/page_shell_testing.h"
#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

SiteConfig TestSite() {
  SiteConfig site = SiteConfig::Defaults();
  site.top_url = u"https://top.test/";
  for (int i = 0; i < 3; ++i) {
    std::u16string n = Digits(i + 1);
    site.ads[i] = {u"L" + n, u"広告" + n, u"T" + n, u"B" + n, u"BT" + n};
  }
  return site;
}

const std::u16string kAdvertisementFoot =
    u"<HR><A href=\"https://top.test/\">サイトトップページへ</A>\r\n"
    u"<HR><HR>【広告 人気1位】<BR>\r\n"
    u"<a href=\"L1\" target=\"_blank\">広告1</a>\r\n"
    u"<img border=\"0\" width=\"1\" height=\"1\" src=\"T1\" alt=\"\">\r\n"
    u"<BR><a href=\"L1\" target=\"_blank\">\r\n"
    u"<img border=\"0\" width=\"468\" height=\"60\" alt=\"\" "
    u"src=\"B1\"></a>\r\n"
    u"<img border=\"0\" width=\"1\" height=\"1\" src=\"BT1\" alt=\"\">\r\n"
    u"<HR><BR>【広告 人気2位】<BR>\r\n"
    u"<a href=\"L2\" target=\"_blank\">広告2</a>\r\n"
    u"<img border=\"0\" width=\"1\" height=\"1\" src=\"T2\" alt=\"\">\r\n"
    u"<BR><a href=\"L2\" target=\"_blank\">\r\n"
    u"<img border=\"0\" width=\"728\" height=\"90\" alt=\"\" "
    u"src=\"B2\"></a>\r\n"
    u"<img border=\"0\" width=\"1\" height=\"1\" src=\"BT2\" alt=\"\">\r\n"
    u"<HR><BR>【広告 人気3位】<BR>\r\n"
    u"<a href=\"L3\" target=\"_blank\" rel=\"nofollow\">広告3</a>\r\n"
    u"<img border=\"0\" width=\"1\" height=\"1\" src=\"T3\" alt=\"\"><BR>\r\n"
    u"<a href=\"L3\" target=\"_blank\" rel=\"nofollow\">\r\n"
    u"<img border=\"0\" width=\"320\" height=\"50\" alt=\"\" "
    u"src=\"B3\"></a>\r\n"
    u"<img border=\"0\" width=\"1\" height=\"1\" src=\"BT3\" alt=\"\">\r\n"
    u"<HR>\r\n";

const std::u16string kShortFoot =
    u"<HR><A href=\"https://top.test/\">サイトTOPへ</A>｜<a "
    u"href=\"#top\">このページの先頭へ</a>\r\n";

// One BuildPage against a handler that records what it was given.
struct Shell {
  SiteConfig site = TestSite();
  RequestFields fields;
  std::u16string output = u"<P>body</P>";
  size_t escape_growth = 0;    // what the handler says escaping added
  std::function<void()> fail;  // run inside the handler when set
  std::vector<std::u16string> handled;
  StringErrorLog errors;

  std::u16string Build(const std::u16string& posted) {
    fields.PostedString = posted;
    fields.ResponseHeader = u"Content-type: text/html\r\n";
    FixedClock clock(DateTime{2026, 12, 7, 10, 30, 5});
    ErrorTrap trap(clock, errors);
    BuildPage(
        fields, site,
        [this](std::u16string& decoded, const SiteConfig& given) {
          EXPECT_EQ(given.top_url, site.top_url);
          handled.push_back(decoded);
          if (fail) fail();
          return PageBody(output, escape_growth);
        },
        trap);
    return fields.PageBuffer;
  }
};

TEST(BuildPageTest, EmptyPostedStringGivesHeadAndClosingOnly) {
  Shell shell;
  EXPECT_EQ(shell.Build(u""),
            testing_page::Head(u"https://top.test/") + testing_page::kClose);
  EXPECT_THAT(shell.handled, IsEmpty());
}

TEST(BuildPageTest, HandlerOutputStandsOnItsOwnLineBetweenHeadAndFoot) {
  Shell shell;
  EXPECT_EQ(shell.Build(u"aaa=%82%A0"),
            testing_page::Head(u"https://top.test/") + u"\r\n" +
                u"<P>body</P>\r\n" + kAdvertisementFoot + testing_page::kClose);
  EXPECT_THAT(shell.handled, ElementsAre(u"aaa=あ"));
  EXPECT_EQ(shell.fields.ResponseHeader, u"Content-type: text/html\r\n");
}

TEST(BuildPageTest, LongOutputGetsTheShortFoot) {
  struct Case {
    std::u16string output;
    size_t escape_growth;
    bool advertisements;
  } cases[] = {
      {u"", 0, true},
      {std::u16string(10000, u'x'), 0, true},
      {std::u16string(10001, u'x'), 0, false},
      {std::u16string(10000, u'求'), 0, true},  // characters, not bytes
      {std::u16string(10001, u'求'), 0, false},
      {std::u16string(5000, u'\r') + std::u16string(5001, u'\n'), 0, false},
      // Counted before escaping: 9,995 characters that escaping took past
      // 10,000 keep the advertisements.
      {std::u16string(9995, u'x') + u"&amp;&amp;", 8, true},
      {std::u16string(10000, u'x') + u"&amp;", 4, false},
      {std::u16string(10001, u'x'), 1, true},
      {u"&lt;", 99, true},  // never below nothing
  };
  for (const Case& c : cases) {
    Shell shell;
    shell.output = c.output;
    shell.escape_growth = c.escape_growth;
    std::u16string page = shell.Build(u"a=1");
    std::u16string foot = c.advertisements ? kAdvertisementFoot : kShortFoot;
    EXPECT_EQ(page, testing_page::Head(u"https://top.test/") + u"\r\n" +
                        c.output + u"\r\n" + foot + testing_page::kClose)
        << c.output.size();
  }
}

TEST(BuildPageTest, FailuresReplaceTheWholePage) {
  struct Case {
    std::u16string posted;
    std::function<void()> fail;
    std::string logged;
  } cases[] = {
      {u"a=1%", nullptr, "position 4"},
      {u"%ZZ", nullptr, "position 1"},
      {u"a=1", [] { throw Failure("qevo.txt: missing"); }, "qevo.txt"},
      {u"a=1", [] { throw std::length_error("too long"); }, "too long"},
  };
  for (const Case& c : cases) {
    Shell shell;
    shell.fail = c.fail;
    std::u16string page = shell.Build(c.posted);
    EXPECT_THAT(U8(page), HasSubstr("<TITLE>エラーが発生しました</TITLE>"));
    EXPECT_EQ(page.find(u"DOCTYPE"), page.rfind(u"DOCTYPE"));
    EXPECT_EQ(page.find(u"お試し求人検索"), std::u16string::npos);
    EXPECT_EQ(page.find(u"広告"), std::u16string::npos);
    EXPECT_EQ(page.find(u"</DIV>\r\n</BODY>\r\n</HTML>\r\n</DIV>"),
              std::u16string::npos);
    EXPECT_THAT(U8(page), HasSubstr("Mon 07 Dec 2026 01:30:05 GMT"));
    EXPECT_EQ(shell.fields.ResponseHeader,
              u"Content-type: text/html\r\n"
              u"Status: 500 Internal Server Error\r\n");
    EXPECT_THAT(shell.errors.str(), HasSubstr(c.logged));
  }
}

TEST(BuildPageTest, SiteAddressesComeFromTheConfiguration) {
  Shell shell;
  shell.site.top_url = u"https://elsewhere.test/";
  shell.output = std::u16string(10001, u'x');
  std::u16string page = shell.Build(u"a=1");
  EXPECT_THAT(
      U8(page),
      HasSubstr("|<A href=\"https://elsewhere.test/\">サイトTOPへ</A>|"));
  EXPECT_THAT(U8(page),
              HasSubstr("<HR><A href=\"https://elsewhere.test/\">サイトTOPへ"
                        "</A>｜"));
}

}  // namespace
}  // namespace qlok
