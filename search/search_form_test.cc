#include "search/search_form.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "text/unicode.h"

namespace qlok {
namespace {

size_t Count(std::u16string_view text, std::u16string_view part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != text.npos;
       at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

bool Has(std::u16string_view text, std::u16string_view part) {
  return text.find(part) != text.npos;
}

// The form's pieces 1 to 4 for a given query text.
std::u16string Opening(std::u16string_view shown_query) {
  std::u16string out =
      u"<form method=POST action=\"q_lok.cgi\"><INPUT TYPE='hidden' "
      u"NAME='_su' value='is1'>";
  out += shown_query;
  out +=
      u"<HR><HR>【メールアドレス】<BR>あなたのアドレスに求人情報を送信します"
      u"<BR><INPUT TYPE=text NAME='aaa' SIZE=50 maxlength='99' "
      u"class='hankaku'><HR>【登録番号】<BR>";
  return out;
}

TEST(RenderSearchFormTest, FormWithoutConditions) {
  SearchRequest r;
  r.disability_choice = u"2";
  const std::u16string form = RenderSearchForm(r, u"求人");
  EXPECT_EQ(form.substr(0, Opening(u"求人").size()), Opening(u"求人"));
  EXPECT_EQ(Count(form, u"<input type=checkbox name='"), 13u);
  EXPECT_EQ(Count(form, u" checked>"), 0u);
  EXPECT_EQ(Count(form, u"<option selected"), 1u);
  EXPECT_TRUE(Has(form,
                  u"<option selected value='2'>一般求人と障がい者対象"
                  u"求人の両方を含める</OPTION></select>"));
  EXPECT_TRUE(Has(form, u"maxlength='2' value='' class='hankaku'>"));
  EXPECT_TRUE(form.ends_with(
      u"<HR><br><INPUT TYPE='hidden' NAME='zzz' value='end'><INPUT "
      u"TYPE=submit VALUE='　送信　' ACCESSKEY='#'></FORM>"));
  EXPECT_EQ(form.find(u"\r"), std::u16string::npos);
  EXPECT_EQ(form.find(u"\n"), std::u16string::npos);
}

TEST(RenderSearchFormTest, EveryPieceInOrder) {
  SearchRequest r;
  r.age = 35;
  r.job_type_text = u"事務　経理";
  r.content_text = u"看護";
  r.days_off_text = u"土日";
  r.start_digits = u"830";
  r.end_digits = u"1730";
  r.places_text = u"横浜";
  r.boxes[kAga] = r.boxes[kAra] = true;
  r.disability_choice = u"0";
  const std::u16string expected =
      Opening(u"Q") +
      u"初めての方は『１』を選択してください。<BR>違う登録番号を選択すると"
      u"条件を変えて多重登録することができます。<BR>前回と同じアドレスと登録"
      u"番号で２回目の登録をすると条件を変更したことになります。<BR>選択→"
      u"<select name='aa6'><option value='1'>１<option value='2'>２<option "
      u"value='3'>３<option value='4'>４<option value='5'>５</select><HR>"
      u"【1日上限送信求人数】<BR>求人１件につき全角７００字程度になります。"
      u"<BR>特に問題無ければ１００件を指定されると良いでしょう。<BR>選択→"
      u"<select name='aa8'><option value='100'>100件<option value='50'>50件"
      u"<option value='30'>30件<option value='20'>20件<option value='10'>"
      u"10件</select><HR><INPUT TYPE=submit VALUE='　送信　' ACCESSKEY='#'>"
      u"<HR>【年齢】<BR><INPUT TYPE=text NAME='aab' SIZE=20 maxlength='2' "
      u"value='35' class='hankaku'><HR>【職種】<BR>空白区切で５つ以内<BR>"
      u"いずれかを含む求人を探します<BR><INPUT TYPE=text NAME='aac' SIZE=50 "
      u"maxlength='50' value='事務　経理' class='zenkaku'><HR>【内容検索単語】"
      u"<BR>空白区切で３語以内<BR>いずれかを含む求人を探します<BR><INPUT "
      u"TYPE=text NAME='aad' SIZE=50 maxlength='99' value='看護' "
      u"class='zenkaku'><HR>【休みたい曜日】<BR>記入例→土日祝<BR><INPUT "
      u"TYPE=text NAME='aae' SIZE=20 maxlength='7' value='土日' "
      u"class='zenkaku'><HR>【時間】<BR>AM8:30例→830<BR>PM8:00例→2000<BR>"
      u"開始時間～終了時間<BR><INPUT TYPE=text NAME='aaf' SIZE=4 "
      u"maxlength='4' value='830' class='hankaku'>～<INPUT TYPE=text "
      u"NAME='aag' SIZE=4 maxlength='4' value='1730' class='hankaku'><BR>"
      u"※両方入力入力しないと検索対象になりません。<BR>※日を超えての時間設定"
      u"も可。ただし24時間未満の間隔で。<HR>【都県市町村区】<BR>空白区切で５所"
      u"以内<BR><INPUT TYPE=text NAME='aah' SIZE=50 maxlength='99' "
      u"value='横浜' class='zenkaku'><HR><INPUT TYPE='hidden' NAME='aai' "
      u"value='0'>【就労形態】<BR>"
      u"<input type=checkbox name='aga' value='1' checked>正社員<br>"
      u"<input type=checkbox name='agb' value='1'>他のフルタイム<br>"
      u"<input type=checkbox name='agc' value='1'>パート・バイト<br>"
      u"<input type=checkbox name='age' value='1'>派遣・請負<br>"
      u"<input type=checkbox name='agea' value='1'>紹介予定派遣<br>"
      u"<input type=checkbox name='agf' value='1'>臨時雇用<br>"
      u"<HR>【福利厚生】<BR>"
      u"<input type=checkbox name='ara' value='1' checked>雇用保険"
      u"<input type=checkbox name='arb' value='1'>労災保険"
      u"<input type=checkbox name='arc' value='1'>厚生年金"
      u"<input type=checkbox name='ard' value='1'>健康保険<br>"
      u"<input type=checkbox name='ari' value='1'>単身用住宅"
      u"<input type=checkbox name='arj' value='1'>世帯用住宅"
      u"<input type=checkbox name='ark' value='1'>通勤用駐車場"
      u"<HR>【障がい者対象求人】<BR><select name='asa'>"
      u"<option selected value='0'>一般求人のみ（障がい者対象求人は含めない）"
      u"</OPTION><option value='1'>障がい者対象求人のみ（一般求人は含めない）"
      u"</OPTION><option value='2'>一般求人と障がい者対象求人の両方を含める"
      u"</OPTION></select><HR><br><INPUT TYPE='hidden' NAME='zzz' "
      u"value='end'><INPUT TYPE=submit VALUE='　送信　' ACCESSKEY='#'>"
      u"</FORM>";
  EXPECT_EQ(U8(RenderSearchForm(r, u"Q")), U8(expected));
}

TEST(RenderSearchFormTest, ShowsWhatWasPosted) {
  struct Case {
    const char* what;
    std::function<void(SearchRequest&)> set;
    std::vector<std::u16string> present;
    std::vector<std::u16string> absent;
  } cases[] = {
      {"agc and ark checked",
       [](SearchRequest& r) { r.boxes[kAgc] = r.boxes[kArk] = true; },
       {u"name='agc' value='1' checked>パート・バイト<br>",
        u"name='ark' value='1' checked>通勤用駐車場<HR>"},
       {u"name='aga' value='1' checked", u"name='ara' value='1' checked"}},
      {"choice 0",
       [](SearchRequest& r) { r.disability_choice = u"0"; },
       {u"<option selected value='0'>", u"<option value='1'>",
        u"<option value='2'>"},
       {}},
      {"choice 1",
       [](SearchRequest& r) { r.disability_choice = u"1"; },
       {u"<option value='0'>", u"<option selected value='1'>",
        u"<option value='2'>"},
       {}},
      {"empty choice",
       [](SearchRequest& r) {},
       {u"<option value='0'>", u"<option value='1'>", u"<option value='2'>"},
       {u"<option selected"}},
      {"age 0",
       [](SearchRequest& r) { r.age = 0; },
       {u"value='' class='hankaku'><HR>【職種】"},
       {}},
      {"age 35",
       [](SearchRequest& r) { r.age = 35; },
       {u"value='35' class='hankaku'><HR>【職種】"},
       {}},
      {"no address refused",
       [](SearchRequest& r) {},
       {u"<INPUT TYPE=text NAME='aaa' SIZE=50 maxlength='99' "
        u"class='hankaku'><HR>"},
       {}},
      {"refused address shown as typed",
       [](SearchRequest& r) { r.refused_address = u"taro'.example.jp"; },
       {u"<INPUT TYPE=text NAME='aaa' SIZE=50 maxlength='99' "
        u"value='taro&#39;.example.jp' class='hankaku'><HR>"},
       {}},
      {"rejected start time",
       [](SearchRequest& r) { r.end_digits = u"830"; },
       {u"NAME='aaf' SIZE=4 maxlength='4' value='' class='hankaku'>",
        u"NAME='aag' SIZE=4 maxlength='4' value='830' class='hankaku'>"},
       {}},
  };
  for (const Case& c : cases) {
    SearchRequest r;
    c.set(r);
    const std::u16string form = RenderSearchForm(r, u"求人");
    for (const auto& part : c.present) {
      EXPECT_TRUE(Has(form, part)) << c.what << ": " << U8(part);
    }
    for (const auto& part : c.absent) {
      EXPECT_FALSE(Has(form, part)) << c.what << ": " << U8(part);
    }
  }
}

TEST(RenderSearchFormTest, ValuesCannotLeaveTheirAttributes) {
  SearchRequest r;
  r.job_type_text = u"a'b";
  r.content_text = u"'><script>x</script>";
  r.days_off_text = u"\"&";
  r.places_text = u"<'>";
  const std::u16string form = RenderSearchForm(
      r, u"SELECT * FROM 求人 WHERE 日 >= 2 AND (職種1 like '%<b>%')");
  EXPECT_TRUE(Has(form, u"value='a&#39;b' class='zenkaku'>"));
  EXPECT_TRUE(Has(form,
                  u"value='&#39;&gt;&lt;script&gt;x&lt;/script&gt;' "
                  u"class='zenkaku'>"));
  EXPECT_TRUE(Has(form, u"value='&quot;&amp;' class='zenkaku'>"));
  EXPECT_TRUE(Has(form, u"value='&lt;&#39;&gt;' class='zenkaku'>"));
  EXPECT_FALSE(Has(form, u"<script>"));
  EXPECT_FALSE(Has(form, u"<b>"));
  EXPECT_TRUE(Has(form,
                  u"value='is1'>SELECT * FROM 求人 WHERE 日 &gt;= 2 AND (職種1 "
                  u"like &#39;%&lt;b&gt;%&#39;)<HR>"));
  // Outside the escaped values, the form holds exactly its own quotes.
  SearchRequest plain;
  EXPECT_EQ(Count(form, u"'"), Count(RenderSearchForm(plain, u"求人"), u"'"));
}

// What escaping adds is counted, so that the page's foot is chosen on the
// length before it; the sums are worked out by hand.
TEST(RenderSearchFormTest, CountsWhatEscapingAdds) {
  struct Case {
    const char* what;
    std::function<void(SearchRequest&)> set;
    std::u16string query;
    size_t growth;
  } cases[] = {
      {"nothing to escape", [](SearchRequest&) {}, u"求人", 0},
      {"query text", [](SearchRequest&) {}, u"a >= 'b'", 3 + 4 + 4},
      {"values",
       [](SearchRequest& r) {
         r.job_type_text = u"a'b";         // 4
         r.content_text = u"<x>";          // 3 + 3
         r.days_off_text = u"\"&";         // 5 + 4
         r.places_text = u"東京";          // 0
         r.refused_address = u"<taro>@x";  // 3 + 3
       },
       u"求人", 4 + 6 + 9 + 6},
  };
  for (const Case& c : cases) {
    SearchRequest r;
    c.set(r);
    size_t growth = 99;
    const std::u16string form = RenderSearchForm(r, c.query, &growth);
    EXPECT_EQ(growth, c.growth) << c.what;
    SearchRequest plain;
    EXPECT_GE(form.size(), growth) << c.what;
  }
}

TEST(BuildRegistrationRecordTest, Records) {
  struct Case {
    const char* what;
    std::function<void(SearchRequest&)> set;
    std::u16string record;
  } cases[] = {
      {"address, number, maximum and one job type",
       [](SearchRequest& r) {
         r.address = u"a@b.jp";
         r.registration_number = 2;
         r.daily_maximum = 50;
         r.job_type_text = u"事務";
       },
       u"_su=ss0\r\naaa=a@b.jp\r\naa6=2\r\naa8=50\r\naab=0\r\naac=事務\r\n"
       u"aad=\r\naae=\r\naaf=\r\naag=\r\naah=\r\naga=0\r\nagb=0\r\nagc=0\r\n"
       u"age=0\r\nagea=0\r\nagf=0\r\nara=0\r\narb=0\r\narc=0\r\nard=0\r\n"
       u"ari=0\r\narj=0\r\nark=0\r\nasa=\r\nzzz"},
      {"every value",
       [](SearchRequest& r) {
         r.address = u"x@y.z";
         r.registration_number = 1;
         r.daily_maximum = 100;
         r.age = 35;
         r.job_type_text = u"事務　経理";
         r.content_text = u"看護";
         r.days_off_text = u"土日";
         r.start_digits = u"2200";
         r.end_digits = u"500";
         r.end_stamp = u"2000/01/02 5:00:00";
         r.places_text = u"横浜";
         r.boxes[kAgea] = r.boxes[kArk] = true;
         r.disability_choice = u"1";
       },
       u"_su=ss0\r\naaa=x@y.z\r\naa6=1\r\naa8=100\r\naab=35\r\n"
       u"aac=事務　経理\r\naad=看護\r\naae=土日\r\naaf=2200\r\naag=500\r\n"
       u"aah=横浜\r\naga=0\r\nagb=0\r\nagc=0\r\nage=0\r\nagea=1\r\nagf=0\r\n"
       u"ara=0\r\narb=0\r\narc=0\r\nard=0\r\nari=0\r\narj=0\r\nark=1\r\n"
       u"asa=1\r\nzzz"},
      {"fractional numbers",
       [](SearchRequest& r) {
         r.address = u"x@y.z";
         r.registration_number = 1.5;
         r.daily_maximum = 0;
         r.age = 20.5;
       },
       u"_su=ss0\r\naaa=x@y.z\r\naa6=1.5\r\naa8=0\r\naab=20.5\r\naac=\r\n"
       u"aad=\r\naae=\r\naaf=\r\naag=\r\naah=\r\naga=0\r\nagb=0\r\nagc=0\r\n"
       u"age=0\r\nagea=0\r\nagf=0\r\nara=0\r\narb=0\r\narc=0\r\nard=0\r\n"
       u"ari=0\r\narj=0\r\nark=0\r\nasa=\r\nzzz"},
      {"line breaks inside values stay on their line",
       [](SearchRequest& r) {
         r.address = u"x@y.z";
         r.job_type_text = u"a\r\naaa=evil@x.jp";
         r.disability_choice = u"0\n";
       },
       u"_su=ss0\r\naaa=x@y.z\r\naa6=\r\naa8=\r\naab=0\r\n"
       u"aac=a  aaa=evil@x.jp\r\naad=\r\naae=\r\naaf=\r\naag=\r\naah=\r\n"
       u"aga=0\r\nagb=0\r\nagc=0\r\nage=0\r\nagea=0\r\nagf=0\r\nara=0\r\n"
       u"arb=0\r\narc=0\r\nard=0\r\nari=0\r\narj=0\r\nark=0\r\nasa=0 \r\nzzz"},
  };
  for (const Case& c : cases) {
    SearchRequest r;
    c.set(r);
    EXPECT_EQ(U8(BuildRegistrationRecord(r)), U8(c.record)) << c.what;
  }
}

TEST(BuildRegistrationRecordTest, PostedFormReadsBackTheSameRecord) {
  // The form sends what the reader expects: a body in the form's order,
  // read and recorded, gives the settings it carried.
  std::u16string posted =
      u"_su=is1&aaa=me@ex.jp&aa6=3&aa8=20&aab=４０&aac=調理&aad=&aae=月&"
      u"aaf=0830&aag=1700&aah=横浜　川崎&aai=0&agb=1&ari=1&asa=2&zzz=end";
  const std::u16string record =
      BuildRegistrationRecord(ReadSearchRequest(posted));
  EXPECT_EQ(U8(record),
            U8(u"_su=ss0\r\naaa=me@ex.jp\r\naa6=3\r\naa8=20\r\naab=40\r\n"
               u"aac=調理\r\naad=\r\naae=月\r\naaf=830\r\naag=1700\r\n"
               u"aah=横浜　川崎\r\naga=0\r\nagb=1\r\nagc=0\r\nage=0\r\n"
               u"agea=0\r\nagf=0\r\nara=0\r\narb=0\r\narc=0\r\nard=0\r\n"
               u"ari=1\r\narj=0\r\nark=0\r\nasa=2\r\nzzz"));
}

}  // namespace
}  // namespace qlok
