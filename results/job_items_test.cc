#include "results/job_items.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

#include "platform/failure.h"
#include "results/job_rows_testing.h"
#include "results/map_link.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using testing_jobs::JobRow;
using testing_jobs::JobRows;
using testing_jobs::N;
using testing_jobs::T;
using testing_jobs::Time;

SiteConfig Site() {
  SiteConfig site;
  site.map_base = u"https://map.example";
  site.service_page_url = u"https://service.example/";
  site.service_mail_url = u"http://service.example/";
  return site;
}

std::u16string Render(const JobRow& row, const JobMedium& medium) {
  JobRows rows({row});
  return RenderJobItems(rows, medium, Site());
}

// "¶" stands for the medium's break, "{MAP}" for the map link of the head
// office.
std::u16string Expand(std::u16string text, const JobMedium& medium,
                      const JobRow& row) {
  for (size_t at; (at = text.find(u"{MAP}")) != std::u16string::npos;) {
    text.replace(
        at, 5, AddressMapLink(row.at(u"本社所在地").ToText(), Site().map_base));
  }
  for (size_t at; (at = text.find(u'¶')) != std::u16string::npos;) {
    text.replace(at, 1, medium.line_break);
  }
  return text;
}

enum class Media { kBoth, kPage, kMail };

struct ItemCase {
  const char* name;
  std::vector<std::pair<std::u16string, Value>> changes;  // on QuietJobRow
  Media media;
  std::u16string shown;  // a fragment of the items
  std::u16string absent = {};
};

void PrintTo(const ItemCase& c, std::ostream* out) { *out << c.name; }

class JobItemsTest : public testing::TestWithParam<ItemCase> {};

TEST_P(JobItemsTest, ShowsTheItem) {
  const ItemCase& c = GetParam();
  JobRow row = testing_jobs::QuietJobRow();
  for (const auto& [column, value] : c.changes) row.at(column) = value;
  for (const JobMedium* medium : {&PageMedium(), &MailMedium()}) {
    if ((c.media == Media::kPage && medium != &PageMedium()) ||
        (c.media == Media::kMail && medium != &MailMedium())) {
      continue;
    }
    const std::string items = U8(Render(row, *medium));
    SCOPED_TRACE(medium == &PageMedium() ? "page" : "mail");
    EXPECT_NE(items.find(U8(Expand(c.shown, *medium, row))), std::string::npos)
        << items;
    if (!c.absent.empty()) {
      EXPECT_EQ(items.find(U8(Expand(c.absent, *medium, row))),
                std::string::npos)
          << items;
    }
  }
}

const std::u16string kServiceNumber = u"12345-1234567";

INSTANTIATE_TEST_SUITE_P(
    Items, JobItemsTest,
    testing::Values(
        ItemCase{
            "ShortNameWithServiceNumberIsHiddenOnThePage",
            {{u"社名", T(u"某")},
             {u"求人番", T(kServiceNumber)},
             {u"電話", T(u"03-1234-5678")}},
            Media::kPage,
            u"¶【事業所名】非公開¶求人者が詳細情報の非公開を希望する求人です。"
            u"詳細情報は最寄の安定所で得られます。 "
            u"¶問い合わせ時に以下の求人番号をお伝えください。¶《求人番号》"
            u"12345-1234567¶",
            u"【電話番号】"},
        ItemCase{"NullNameWithServiceNumberIsHiddenInTheMail",
                 {{u"社名", Value()}, {u"求人番", T(u"12345-1234")}},
                 Media::kMail,
                 u"¶【事業所名】非公開¶"},
        ItemCase{
            "ShortNameCountsInTheMail",
            {{u"社名", T(u"某")}, {u"求人番", T(kServiceNumber)}},
            Media::kMail,
            u"¶ハローワーク求人です。¶下記で確認し直接応募することも可能です。"
            u"¶http://service.example/"
            u"¶あなたの最寄のハローワークに下記の求人番号を伝えて相談・紹介を"
            u"受けるのがお勧めです。¶【事業所名】某¶《求人番号》12345-"
            u"1234567¶"},
        ItemCase{
            "ServiceJobOnThePage",
            {{u"求人番", T(kServiceNumber)}, {u"電話", T(u"03-1")}},
            Media::kPage,
            u"ハローワーク求人です。<BR>応募は原則として直接可能です。<BR>"
            u"下記ページの「求人情報検索」ボタンから求人番号を入力して詳細を"
            u"ご確認ください。<BR>https://service.example/<BR>"
            u"最寄の安定所に下記の求人番号を伝えて相談・紹介を受ける方法も有"
            u"り、その方がお勧めです。<BR>【事業所名】株式会社見本<BR>"
            u"《求人番号》12345-1234567<BR>",
            u"【電話番号】"},
        ItemCase{"FourDigitsIsNoServiceNumber",
                 {{u"求人番", T(u"1234-12345678")}, {u"電話", T(u"03-1")}},
                 Media::kBoth,
                 u"¶【事業所名】株式会社見本¶【電話番号】03-1¶"},
        ItemCase{"ShortNameWithoutServiceNumber",
                 {{u"社名", T(u"某")}},
                 Media::kPage,
                 u"¶【事業所名】未記入¶"},
        ItemCase{
            "LongPhoneSplitsAtTheNote",
            {{u"電話", T(u"03-1234-5678（代表）受付は平日のみ《補足》"
                         u"担当：総務課の山田まで")}},
            Media::kBoth,
            u"¶03-1234-5678（代表）受付は平日のみ¶《補足》担当：総務課の山田ま"
            u"で¶",
            u"【電話番号】"},
        ItemCase{"PhoneOfThirtySplits",
                 {{u"電話", T(u"03-1234-5678-9012-34567《補足》夜間可")}},
                 Media::kBoth,
                 u"¶03-1234-5678-9012-34567¶《補足》夜間可¶"},
        ItemCase{"ShortPhoneKeepsItsNote",
                 {{u"電話", T(u"03-1《補足》夜")}},
                 Media::kBoth,
                 u"¶【電話番号】03-1《補足》夜¶"},
        ItemCase{"OfficeMatchingThePlaceLinksOnThePage",
                 {{u"本社所在地", T(u"大阪府大阪市北区中之島１")},
                  {u"就労場所1", T(u"京都府大阪市南")}},
                 Media::kPage,
                 u"¶【本社所在地と参考地図】¶大阪府大阪市北区中之島１<BR><a "
                 u"href=\"{MAP}\" target=\"_blank\">{MAP}</a>¶"},
        ItemCase{"OfficeMatchingThePlaceIsALineInTheMail",
                 {{u"本社所在地", T(u"大阪府大阪市北区中之島１")},
                  {u"就労場所1", T(u"京都府大阪市南")}},
                 Media::kMail,
                 u"¶【本社所在地と参考地図】¶大阪府大阪市北区中之島１¶{MAP}¶"},
        ItemCase{"OfficeWithoutPlaceShowsTheMapAsText",
                 {{u"本社所在地", T(u"大阪府大阪市北区中之島１")}},
                 Media::kBoth,
                 u"¶【本社所在地と参考地図】¶大阪府大阪市北区中之島１¶{MAP}¶"},
        ItemCase{"OfficeElsewhereHasNoMap",
                 {{u"本社所在地", T(u"大阪府大阪市北区中之島１")},
                  {u"就労場所1", T(u"兵庫県神戸市中央区")}},
                 Media::kBoth,
                 u"¶【本社所在地】大阪府大阪市北区中之島１¶",
                 u"m.cgi"},
        ItemCase{"PatternSignsInThePlaceMatch",
                 {{u"本社所在地", T(u"東京都港区芝公園４丁目")},
                  {u"就労場所1", T(u"東京都?区芝公園")}},
                 Media::kMail,
                 u"¶【本社所在地と参考地図】¶"},
        ItemCase{"NullEmployeesIsNotMinusOne",
                 {{u"従業員数", Value()}},
                 Media::kBoth,
                 u"¶【従業員数】人¶"},
        ItemCase{"IndustriesKeepTheirBlanks",
                 {{u"業界1", T(u"製造")}, {u"業界3", T(u"食品")}},
                 Media::kBoth,
                 u"¶【業界】 製造  食品¶"},
        ItemCase{"EmploymentFormsDropTheLastDot",
                 {{u"正", N(1)}, {u"パート", N(1)}, {u"日雇", N(2)}},
                 Media::kBoth,
                 u"¶【雇用形態】正社員・パートタイム¶"},
        ItemCase{"OpeningsEachOnALine",
                 {{u"不問数", N(2)}, {u"住込数", N(1)}},
                 Media::kBoth,
                 u"¶【募集人数】 2人¶【募集人数】 住込で1人¶【職種】"},
        ItemCase{"PlacesFifthFirstAndOneCharacterSkipped",
                 {{u"就労場所1", T(u"札幌市")},
                  {u"就労場所2", T(u"X")},
                  {u"就労場所5", T(u"全国")}},
                 Media::kBoth,
                 u"¶【就労場所】 ¶全国¶札幌市¶【固定給】"},
        ItemCase{"PayWithoutUpperBound",
                 {{u"下固給", N(180000)}, {u"ナス上", N(300000)}},
                 Media::kBoth,
                 u"¶【固定給】　180000円以上¶【年間賞与】　300000円以下¶"},
        ItemCase{"PayRange",
                 {{u"下固給", N(180000)}, {u"上固給", N(250000)}},
                 Media::kBoth,
                 u"¶【固定給】　180000円～250000円¶"},
        ItemCase{"OneShift",
                 {{u"始時", Time(8, 30)}, {u"終時", Time(17, 0)}},
                 Media::kBoth,
                 u"¶【就業時間】　 8:30～ 17:00  ¶"},
        ItemCase{"ThreeShifts",
                 {{u"始時", Time(8, 30)},
                  {u"終時", Time(17, 0)},
                  {u"始時1", Time(17, 0)},
                  {u"終時1", Time(0, 0)},
                  {u"始時2", Time(0, 0)},
                  {u"終時2", Time(8, 30)}},
                 Media::kBoth,
                 u"¶【就業時間】　 8:30～ 17:00   17:00～00:00  00:00～ 8:30¶"},
        ItemCase{"TwoCharacterHoursNoteOnThePage",
                 {{u"時補", T(u"交替")}},
                 Media::kPage,
                 u"¶【時間について補足】 ¶交替¶"},
        ItemCase{"TwoCharacterHoursNoteNotInTheMail",
                 {{u"時補", T(u"交替")}},
                 Media::kMail,
                 u"¶【休日】",
                 u"時間について補足"},
        ItemCase{"HolidayLines",
                 {{u"日", N(5)}, {u"土", N(2)}, {u"水", N(4)}, {u"祝", N(2)}},
                 Media::kBoth,
                 u"¶【休日】¶日曜：休日¶土曜：月２回ほど休日¶",
                 u"祝日："},
        ItemCase{"NoHolidayCodeIsOther", {}, Media::kBoth, u"¶【休日】その他¶"},
        ItemCase{"HolidayNotesNeedThreeCharacters",
                 {{u"休日説", T(u"\r\n")}, {u"年休", N(120)}},
                 Media::kBoth,
                 u"¶【年間休日数】　120日¶",
                 u"休日補足"},
        ItemCase{"WeeklyRange",
                 {{u"週低", N(3)}, {u"週高", N(5)}},
                 Media::kBoth,
                 u"¶【週出勤数】　3日～5日¶"},
        ItemCase{"WeeklyAtMost",
                 {{u"週高", N(4)}},
                 Media::kBoth,
                 u"¶【週出勤数】　4日以下¶"},
        ItemCase{"InsuranceList",
                 {{u"雇", N(1)}, {u"厚", N(1)}},
                 Media::kBoth,
                 u"¶【保険等】雇用保険  厚生年金  ¶"},
        ItemCase{"NoInsuranceWithJobNumberSaysNothing",
                 {{u"求人番", T(u"A1")}},
                 Media::kBoth,
                 u"¶【単身用住宅】",
                 u"保険"},
        ItemCase{"NoInsuranceWithoutJobNumber",
                 {},
                 Media::kBoth,
                 u"¶【社会保険等】無¶"},
        ItemCase{"Housing",
                 {{u"単", N(-1)}, {u"世", N(0)}, {u"保育園", N(-1)}},
                 Media::kBoth,
                 u"¶【単身用住宅】有　¶【世帯用住宅】有　0円¶【保育園】有　¶"},
        ItemCase{"CarAndMotorbike",
                 {{u"カー通勤", N(3000)}, {u"バイク", N(1)}},
                 Media::kBoth,
                 u"¶【マイカー通勤用駐車場】有　3000円《バイク通勤》可¶"},
        ItemCase{"RetirementWithReemployment",
                 {{u"定年", N(60)}, {u"再雇", N(1)}},
                 Media::kBoth,
                 u"¶【定年】60才　  定年後の再雇用制度あり¶"},
        ItemCase{"RetirementUnknownAge",
                 {{u"定年", N(-1)}},
                 Media::kBoth,
                 u"¶【定年】有　¶【募集年齢】"},
        ItemCase{"RetirementCodeOutOfRange",
                 {{u"定年", N(-5)}},
                 Media::kBoth,
                 u"¶【マイカー通勤用駐車場】無¶【募集年齢】",
                 u"【定年】"},
        ItemCase{"AgeRange",
                 {{u"齢下", N(18)}, {u"齢上", N(35)}},
                 Media::kBoth,
                 u"¶【募集年齢】　18才～35才¶"},
        ItemCase{"RequirementTexts",
                 {{u"専攻", T(u"X")},
                  {u"卒業年", T(u"3年以内")},
                  {u"現状", T(u"\r\n")},
                  {u"必免2", T(u"普通免許")}},
                 Media::kBoth,
                 u"¶【卒業した期間】　3年以内¶【必要な免許】　普通免許¶",
                 u"必要専攻"},
        ItemCase{"WelcomeLicencesAllShortAreHidden",
                 {{u"免4", T(u"A")}, {u"免5", T(u"B")}, {u"免6", T(u"C")}},
                 Media::kBoth,
                 u"¶【必要な免許】なし¶",
                 u"歓迎の免許"},
        ItemCase{"WelcomeLicenceShortButNotAll",
                 {{u"免5", T(u"B")}},
                 Media::kBoth,
                 u"¶【有れば歓迎の免許】　B¶"},
        ItemCase{"ExperienceYearsAlone",
                 {{u"業界経験年", N(3)}},
                 Media::kBoth,
                 u"¶【必要業界経験】　3年以上¶"},
        ItemCase{"ExperienceShortTextWithoutYears",
                 {{u"職種経験", T(u"A")}},
                 Media::kBoth,
                 u"¶【必要な免許】なし¶",
                 u"職種経験"},
        ItemCase{"ExperienceWithNullYearsShowsNoYears",
                 {{u"業界経験", T(u"IT業界")}, {u"業界経験年", Value()}},
                 Media::kBoth,
                 u"¶【必要業界経験】　IT業界¶",
                 u"年以上"},
        ItemCase{"NullYearsWithoutTextShowTheLabelAlone",
                 {{u"職種経験年", Value()}},
                 Media::kBoth,
                 u"¶【必要職種経験】¶",
                 u"年以上"},
        ItemCase{"ZeroYearsAreShown",
                 {{u"職種経験", T(u"接客")}, {u"職種経験年", N(0)}},
                 Media::kBoth,
                 u"¶【必要職種経験】　接客　0年以上¶"},
        ItemCase{"YearsAreWrittenAsTheColumnHoldsThem",
                 {{u"業界経験年", Value::Double(2.5)}},
                 Media::kBoth,
                 u"¶【必要業界経験】　2.5年以上¶"},
        ItemCase{"BothApplicationNotesEndOneBreakOnThePage",
                 {{u"応説", T(u"電話連絡")}, {u"自由", T(u"見学可")}},
                 Media::kPage,
                 u"<BR>【応募方法・補足】<BR>電話連絡<BR>見学可<BR>【この求人"},
        ItemCase{"FreeNoteEndsTwoBreaksInTheMail",
                 {{u"自由", T(u"見学可")}},
                 Media::kMail,
                 u"\r\n【補足】\r\n見学可\r\n\r\n【この求人"},
        ItemCase{"RankAbove100",
                 {{u"rank", N(130)}},
                 Media::kBoth,
                 u"【この求人のお勧めポイント】 100点／100点満点¶¶"},
        ItemCase{"Rank72",
                 {{u"rank", N(72)}},
                 Media::kBoth,
                 u"¶【この求人のお勧めポイント】72点／100点満点¶¶"},
        ItemCase{"RankMemoOnThePage",
                 {{u"rankmemo", T(u"駅近\r\n残業少")}},
                 Media::kPage,
                 u"<BR>駅近<BR>残業少<BR><BR>",
                 u"お勧めポイント"},
        ItemCase{"RankMemoInTheMail",
                 {{u"rankmemo", T(u"駅近\r\n残業少")}},
                 Media::kMail,
                 u"\r\n\r\n駅近\r\n残業少\r\n\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JobItemsTest, QuietJobInFull) {
  const JobRow row = testing_jobs::QuietJobRow();
  const std::u16string expected =
      u"¶【事業所名】株式会社見本¶【職種】 事務  ¶【固定給】　未記入"
      u"¶【年間賞与】　未記入¶【残業時間】未記入¶【休日】その他"
      u"¶【社会保険等】無¶【単身用住宅】無¶【世帯用住宅】無"
      u"¶【マイカー通勤用駐車場】無¶【定年】無¶【募集年齢】　不問"
      u"¶【必要な免許】なし¶【この求人のお勧めポイント】50点／100点満点¶¶";
  std::u16string mail = Expand(expected, MailMedium(), row);
  mail.insert(mail.rfind(u"【この求人"), u"\r\n");  // the notes end in two
  EXPECT_EQ(U8(Render(row, PageMedium())),
            U8(Expand(expected, PageMedium(), row)));
  EXPECT_EQ(U8(Render(row, MailMedium())), U8(mail));
}

TEST(JobItemsTest, EveryColumnNullRenders) {
  const JobRow row = testing_jobs::NullJobRow();
  for (const JobMedium* medium : {&PageMedium(), &MailMedium()}) {
    const std::u16string items = Render(row, *medium);
    EXPECT_NE(items.find(Expand(u"¶【事業所名】未記入¶", *medium, row)),
              std::u16string::npos);
    EXPECT_NE(items.find(u"【この求人のお勧めポイント】点／100点満点"),
              std::u16string::npos);
  }
}

TEST(JobItemsTest, MissingColumnFails) {
  JobRow row = testing_jobs::QuietJobRow();
  row.erase(u"rank");
  EXPECT_THROW(Render(row, PageMedium()), Failure);
}

struct TimeCase {
  const char* name;
  Value time;
  std::u16string text;
};

void PrintTo(const TimeCase& c, std::ostream* out) { *out << c.name; }

class HoursMinutesTest : public testing::TestWithParam<TimeCase> {};

TEST_P(HoursMinutesTest, DropsDateAndSeconds) {
  EXPECT_EQ(U8(HoursMinutes(GetParam().time)), U8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Times, HoursMinutesTest,
    testing::Values(TimeCase{"Morning", Time(8, 30), u" 8:30"},
                    TimeCase{"Evening", Time(18, 5), u" 18:05"},
                    TimeCase{"Midnight", Time(0, 0), u"00:00"},
                    TimeCase{"NextDay",
                             Value::DateTimeOf(DateTime{2000, 1, 2, 1, 0, 0}),
                             u" 1:00"},
                    TimeCase{"TooShortText", T(u"8:30"), u""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JobItemsTest, ServiceJobNumbers) {
  EXPECT_TRUE(IsServiceJobNumber(T(u"12345-1234")));
  EXPECT_TRUE(IsServiceJobNumber(T(u"No.12345-12345678")));
  EXPECT_FALSE(IsServiceJobNumber(T(u"1234-12345678")));
  EXPECT_FALSE(IsServiceJobNumber(T(u"12345-123")));
  EXPECT_FALSE(IsServiceJobNumber(Value()));
}

}  // namespace
}  // namespace qlok
