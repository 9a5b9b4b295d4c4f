#include "frame/error_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using ::testing::HasSubstr;

TEST(WebDateTest, WritesGreenwichTimeWithEnglishNames) {
  struct Case {
    DateTime local;
    std::u16string text;
  } cases[] = {
      {{2026, 12, 9, 10, 30, 5}, u"Wed 09 Dec 2026 01:30:05 GMT"},
      {{2026, 12, 7, 10, 30, 5}, u"Mon 07 Dec 2026 01:30:05 GMT"},
      {{2026, 12, 7, 9, 0, 0}, u"Mon 07 Dec 2026 00:00:00 GMT"},
      {{2026, 12, 7, 8, 59, 59}, u"Sun 06 Dec 2026 23:59:59 GMT"},  // midnight
      {{2027, 1, 1, 5, 0, 0}, u"Thu 31 Dec 2026 20:00:00 GMT"},     // new year
      {{2024, 3, 1, 0, 0, 0}, u"Thu 29 Feb 2024 15:00:00 GMT"},     // leap day
      {{2026, 7, 4, 23, 5, 9}, u"Sat 04 Jul 2026 14:05:09 GMT"},
      {{2026, 1, 12, 12, 0, 0}, u"Mon 12 Jan 2026 03:00:00 GMT"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WebDate(c.local), c.text) << U8(c.text);
  }
  const char16_t* months[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                              u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  for (int m = 1; m <= 12; ++m) {
    EXPECT_THAT(U8(WebDate({2026, m, 15, 12, 0, 0})),
                HasSubstr(" 15 " + U8(months[m - 1]) + " 2026 03:00:00"));
  }
}

std::u16string ErrorPage(const std::u16string& title,
                         const std::u16string& link) {
  return u"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">"
         u"<HTML lang=\"ja\"><HEAD><meta http-equiv=\"Content-Type\" "
         u"content=\"text/html; charset=shift_jis\">\r\n"
         u"<meta name=\"viewport\" content=\"width=device-width, "
         u"initial-scale=1\">\r\n"
         u"<LINK rel=\"stylesheet\" type=\"text/css\" "
         u"href=\"../style2.css\">\r\n"
         u"<TITLE>" +
         title + u"</TITLE></HEAD><BODY>\r\n<DIV ALIGN=\"LEFT\">\r\n<H1>" +
         title +
         u"</H1><HR>\r\n"
         u"申し訳ございません。ただいまこのページを表示できません。<BR>"
         u"しばらく時間をおいてから、もう一度お試しください。<BR><BR>\r\n"
         u"<small>Mon 07 Dec 2026 01:30:05 GMT</small><BR><BR>\r\n"
         u"<A HREF=\"" +
         link +
         u"\">前のページへ戻る</A><BR>\r\n</DIV>\r\n</BODY>\r\n"
         u"</HTML>\r\n";
}

TEST(ShowErrorPageTest, ReplacesHeaderAndPage) {
  struct Case {
    std::u16string title;
    std::u16string referer;
    std::u16string shown_title;
    std::u16string link;
  } cases[] = {
      {u"エラーが発生しました", u"", u"エラーが発生しました", u""},
      {u"", u"", u"サーバーエラー", u""},
      {u"X", u"https://www.example.jp/a.html", u"X",
       u"https://www.example.jp/a.html"},
      {u"X", u"/q?a=1&b=<2>", u"X", u"/q?a=1&amp;b=&lt;2&gt;"},
      {u"X", u"\" onclick='x'", u"X", u"&quot; onclick=&#39;x&#39;"},
  };
  for (const Case& c : cases) {
    RequestFields fields;
    fields.ResponseHeader = u"Content-type: text/html\r\n";
    fields.PageBuffer = u"<!DOCTYPE HTML>\r\nhalf a page";
    fields.HttpReferer = c.referer;
    ShowErrorPage(fields, c.title, {2026, 12, 7, 10, 30, 5});
    EXPECT_EQ(fields.ResponseHeader,
              u"Content-type: text/html\r\n"
              u"Status: 500 Internal Server Error\r\n");
    EXPECT_EQ(fields.PageBuffer, ErrorPage(c.shown_title, c.link))
        << U8(c.title) << " " << U8(c.referer);
  }
}

TEST(ErrorTrapTest, CatchesEveryFailureAndLogsOneLine) {
  struct Case {
    std::function<void()> stretch;
    std::string logged;
  } cases[] = {
      {[] { throw Failure("qevo.txt: missing"); },
       "q_lok: qevo.txt: missing\n"},
      {[] { throw std::out_of_range("basic_string::substr"); },
       "q_lok: unexpected error: basic_string::substr\n"},
      {[] { throw 7; }, "q_lok: unexpected error of unknown kind\n"},
      {[] { throw Failure("two\r\nlines\tand\x01more"); },
       "q_lok: two  lines and more\n"},
  };
  for (const Case& c : cases) {
    RequestFields fields;
    fields.PageBuffer = u"head\r\n";
    StringErrorLog errors;
    FixedClock clock(DateTime{2026, 12, 7, 10, 30, 5});
    ErrorTrap trap(clock, errors);
    EXPECT_FALSE(trap.Run(fields, c.stretch));
    EXPECT_EQ(errors.str(), c.logged);
    EXPECT_EQ(fields.PageBuffer, ErrorPage(u"エラーが発生しました", u""));
    EXPECT_EQ(fields.PageBuffer.find(U16(c.logged.substr(7, 4))),
              std::u16string::npos);
  }
}

TEST(ErrorTrapTest, LongReasonsAreCutBetweenCharacters) {
  StringErrorLog errors;
  FixedClock clock(DateTime{2026, 12, 7, 10, 30, 5});
  ErrorTrap trap(clock, errors);
  RequestFields fields;
  // 1999 ASCII bytes, then three-byte characters across the cut.
  std::string reason = std::string(1999, 'a') + "求人求人";
  trap.Run(fields, [&] { throw Failure(reason); });
  EXPECT_EQ(errors.str(), "q_lok: " + std::string(1999, 'a') + "\n");
}

TEST(ErrorTrapTest, CompletedStretchLeavesTheResponseAlone) {
  StringErrorLog errors;
  FixedClock clock(DateTime{2026, 12, 7, 10, 30, 5});
  ErrorTrap trap(clock, errors);
  RequestFields fields;
  fields.ResponseHeader = u"Content-type: text/html\r\n";
  EXPECT_TRUE(trap.Run(fields, [&] { AppendLine(fields.PageBuffer, u"x"); }));
  EXPECT_EQ(fields.ResponseHeader, u"Content-type: text/html\r\n");
  EXPECT_EQ(fields.PageBuffer, u"x\r\n");
  EXPECT_EQ(errors.str(), "");
}

}  // namespace
}  // namespace qlok
