#include "manage/registration_words.h"

#include <gtest/gtest.h>

#include <map>

#include "search/search_form.h"
#include "search/search_request.h"
#include "text/unicode.h"

namespace qlok {
namespace {

TEST(MaskAddressTest, HidesMostOfTheLocalPart) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"taro@example.jp", u"ta***@example.jp"},
      {u"tar@example.jp", u"ta***@example.jp"},
      {u"ab@example.jp", u"a***@example.jp"},
      {u"a@example.jp", u"***@example.jp"},
      {u"たろう@example.jp", u"たろ***@example.jp"},
      {u"𠮷野家@example.jp", u"𠮷野***@example.jp"},  // a surrogate pair
      {u"\"a@b\"@example.jp", u"\"a***@example.jp"},  // the last "@"
      {u"no-at-sign", u"n***"},
      {u"", u"***"},
  };
  for (const auto& [address, masked] : cases) {
    EXPECT_EQ(MaskAddress(address), masked) << U8(address);
  }
}

// The settings a registration through the search page keeps for `body`.
Registration Registered(const std::string& fields) {
  std::u16string posted =
      U16("_su=is1&aaa=taro@example.jp&aa6=2&aa8=50&" + fields + "&zzz=end");
  Registration registration;
  registration.address = u"taro@example.jp";
  registration.number = 2;
  registration.daily_maximum = 50;
  registration.settings = BuildRegistrationRecord(ReadSearchRequest(posted));
  registration.created = {2026, 12, 7, 9, 0, 0};
  registration.changed = registration.created;
  return registration;
}

std::map<std::u16string, std::u16string> Lines(
    const Registration& registration) {
  std::map<std::u16string, std::u16string> lines;
  for (const WordedLine& line : DescribeRegistration(registration)) {
    lines[line.label] = line.text;
  }
  return lines;
}

TEST(DescribeRegistrationTest, ConditionsReadAsTheSearchRunsThem) {
  struct Case {
    std::string fields;
    std::map<std::u16string, std::u16string> expected;
  } cases[] = {
      {"aab=&aac=事務　経理&aad=&aae=土日&aaf=830&aag=1730&aah=&aai=0&asa=0",
       {{u"【職種】", u"職種に「事務」「経理」のいずれかを含む求人"},
        {u"【内容検索単語】", u"指定なし"},
        {u"【休みたい曜日】", u"土・日が休みの求人"},
        {u"【時間】", u"8:30～17:30の間に収まる勤務時間の求人"},
        {u"【都県市町村区】", u"指定なし"},
        {u"【就労形態】", u"指定なし"},
        {u"【福利厚生】", u"指定なし"},
        {u"【障がい者対象求人】",
         u"一般求人のみ（障がい者対象求人は含めない）"},
        {u"【年齢】", u"指定なし"}}},
      {"aab=３５&aac=&aad=看護&aae=祝月&aaf=2200&aag=0500&aah=東京都　大阪&"
       "aai=0&agc=1&ara=1&ark=1&asa=1",
       {{u"【職種】", u"指定なし"},
        {u"【内容検索単語】", u"仕事の内容などに「看護」を含む求人"},
        {u"【休みたい曜日】", u"月・祝が休みの求人"},
        {u"【時間】", u"22:00～翌5:00の間に収まる勤務時間の求人"},
        {u"【都県市町村区】",
         u"就労場所に「東京都」「大阪」のいずれかを含む求人"},
        {u"【就労形態】", u"パート・バイトの求人"},
        {u"【福利厚生】", u"雇用保険、通勤用駐車場がすべてある求人"},
        {u"【障がい者対象求人】",
         u"障がい者対象求人のみ（一般求人は含めない）"},
        {u"【年齢】", u"35歳で応募できる求人"}}},
      {"aab=&aac=&aad=&aae=&aaf=0030&aag=2360&aah=&aai=0&aga=1&agea=1&arb=1&"
       "asa=2",
       {{u"【時間】", u"0:30～翌0:00の間に収まる勤務時間の求人"},
        {u"【就労形態】", u"正社員、紹介予定派遣のいずれかの求人"},
        {u"【福利厚生】", u"労災保険がある求人"},
        {u"【障がい者対象求人】",
         u"一般求人と障がい者対象求人の両方を含める"}}},
      // A start without an end (or a rejected time) sets no time.
      {"aab=&aac=&aad=&aae=&aaf=830&aag=&aah=&aai=0&asa=",
       {{u"【時間】", u"指定なし"},
        {u"【障がい者対象求人】",
         u"一般求人と障がい者対象求人の両方を含める"}}},
      {"aab=&aac=&aad=&aae=&aaf=100&aag=1700&aah=&aai=0&asa=2",
       {{u"【時間】", u"指定なし"}}},
  };
  for (const Case& c : cases) {
    const std::map<std::u16string, std::u16string> lines =
        Lines(Registered(c.fields));
    for (const auto& [label, text] : c.expected) {
      EXPECT_EQ(lines.at(label), text) << c.fields << " " << U8(label);
    }
    EXPECT_EQ(lines.at(u"【登録番号】"), u"2");
    EXPECT_EQ(lines.at(u"【1日上限送信求人数】"), u"50件");
  }
}

TEST(DescribeRegistrationTest, StateAndDaysFollowTheRecord) {
  Registration registration = Registered("aai=0&asa=2");
  std::vector<WordedLine> lines = DescribeRegistration(registration);
  EXPECT_EQ(lines[0].label, u"【登録番号】");
  EXPECT_EQ(lines[1].text, u"配信中");
  EXPECT_EQ(lines.back().label, u"【登録日】");
  EXPECT_EQ(lines.back().text, u"2026/12/07");

  registration.active = false;
  registration.stopped = DateTime{2026, 12, 9, 23, 59, 0};
  registration.changed = {2026, 12, 8, 7, 0, 0};
  lines = DescribeRegistration(registration);
  EXPECT_EQ(lines[1].text, u"停止中（2026/12/09に登録抹消）");
  EXPECT_EQ(lines.back().label, u"【条件の変更日】");
  EXPECT_EQ(lines.back().text, u"2026/12/08");
}

TEST(DescribeRegistrationTest, VisitorWordsAreEscapedOnThePageOnly) {
  // Words of three characters pass the sanitiser unchanged.
  const Registration registration =
      Registered("aab=&aac=<b>&aad=&aae=&aaf=&aag=&aah=a&b&aai=0&asa=2");
  const std::vector<WordedLine> lines = DescribeRegistration(registration);
  const std::u16string html = WordedLinesHtml(lines);
  EXPECT_NE(html.find(u"職種に「&lt;b&gt;」を含む求人<BR>"),
            std::u16string::npos);
  EXPECT_EQ(html.find(u"<b>"), std::u16string::npos);
  const std::u16string text = WordedLinesText(lines);
  EXPECT_NE(text.find(u"【職種】職種に「<b>」を含む求人\r\n"),
            std::u16string::npos);
}

}  // namespace
}  // namespace qlok
