#include "search/search_form.h"

#include <optional>
#include <string_view>

#include "text/html_escape.h"
#include "text/text_utils.h"
#include "text/unicode.h"

namespace qlok {
namespace {

struct BoxPiece {
  std::u16string_view prefix;
  std::u16string_view label;
  std::u16string_view tail;
};
// Indexed by BoxFlag.
constexpr std::array<BoxPiece, kBoxFlagCount> kBoxPieces = {{
    {u"", u"正社員", u"<br>"},
    {u"", u"他のフルタイム", u"<br>"},
    {u"", u"パート・バイト", u"<br>"},
    {u"", u"派遣・請負", u"<br>"},
    {u"", u"紹介予定派遣", u"<br>"},
    {u"", u"臨時雇用", u"<br>"},
    {u"<HR>【福利厚生】<BR>", u"雇用保険", u""},
    {u"", u"労災保険", u""},
    {u"", u"厚生年金", u""},
    {u"", u"健康保険", u"<br>"},
    {u"", u"単身用住宅", u""},
    {u"", u"世帯用住宅", u""},
    {u"", u"通勤用駐車場", u""},
}};

struct DisabilityOption {
  std::u16string_view value;
  std::u16string_view label;
};
constexpr DisabilityOption kDisabilityOptions[] = {
    {u"0", u"一般求人のみ（障がい者対象求人は含めない）</OPTION>"},
    {u"1", u"障がい者対象求人のみ（一般求人は含めない）</OPTION>"},
    {u"2", u"一般求人と障がい者対象求人の両方を含める</OPTION></select>"},
};

std::u16string Number(const std::optional<double>& value) {
  return value ? FormatNumber(*value) : std::u16string();
}

}  // namespace

std::u16string RenderSearchForm(const SearchRequest& r,
                                const std::u16string& query_text,
                                size_t* escape_growth) {
  std::u16string f;
  size_t growth = 0;
  // Appends `text` escaped for HTML, counting what escaping adds.
  auto shown = [&](const std::u16string& text) {
    const std::u16string escaped = EscapeHtml(text);
    growth += escaped.size() - text.size();
    f += escaped;
  };
  f += u"<form method=POST action=\"q_lok.cgi\"><INPUT TYPE='hidden' "
       u"NAME='_su' value='is1'>";
  shown(query_text);
  f += u"<HR>";
  f += u"<HR>【メールアドレス】<BR>あなたのアドレスに求人情報を送信します<BR>";
  f += u"<INPUT TYPE=text NAME='aaa' SIZE=50 maxlength='99' ";
  if (!r.refused_address.empty()) {
    f += u"value='";
    shown(r.refused_address);
    f += u"' ";
  }
  f += u"class='hankaku'><HR>";
  f += u"【登録番号】<BR>初めての方は『１』を選択してください。<BR>"
       u"違う登録番号を選択すると条件を変えて多重登録することができます。<BR>"
       u"前回と同じアドレスと登録番号で２回目の登録をすると"
       u"条件を変更したことになります。<BR>";
  f += u"選択→<select name='aa6'><option value='1'>１<option value='2'>２"
       u"<option value='3'>３<option value='4'>４<option value='5'>５</select>"
       u"<HR>";
  f += u"【1日上限送信求人数】<BR>求人１件につき全角７００字程度になります。"
       u"<BR>特に問題無ければ１００件を指定されると良いでしょう。<BR>";
  f += u"選択→<select name='aa8'><option value='100'>100件<option "
       u"value='50'>50件<option value='30'>30件<option value='20'>20件";
  f += u"<option value='10'>10件</select><HR><INPUT TYPE=submit "
       u"VALUE='　送信　' ACCESSKEY='#'><HR>";
  f += u"【年齢】<BR><INPUT TYPE=text NAME='aab' SIZE=20 maxlength='2' "
       u"value='";
  if (r.age != 0) shown(FormatNumber(r.age));
  f += u"' class='hankaku'><HR>【職種】<BR>空白区切で５つ以内<BR>"
       u"いずれかを含む求人を探します<BR>";
  f += u"<INPUT TYPE=text NAME='aac' SIZE=50 maxlength='50' value='";
  shown(r.job_type_text);
  f += u"' class='zenkaku'><HR>【内容検索単語】<BR>空白区切で３語以内<BR>"
       u"いずれかを含む求人を探します<BR>";
  f += u"<INPUT TYPE=text NAME='aad' SIZE=50 maxlength='99' value='";
  shown(r.content_text);
  f += u"' class='zenkaku'><HR>【休みたい曜日】<BR>記入例→土日祝<BR>";
  f += u"<INPUT TYPE=text NAME='aae' SIZE=20 maxlength='7' value='";
  shown(r.days_off_text);
  f += u"' class='zenkaku'><HR>【時間】<BR>AM8:30例→830<BR>PM8:00例→2000<BR>";
  f += u"開始時間～終了時間<BR><INPUT TYPE=text NAME='aaf' SIZE=4 "
       u"maxlength='4' value='";
  shown(r.start_digits);
  f += u"' class='hankaku'>～<INPUT TYPE=text NAME='aag' SIZE=4 "
       u"maxlength='4' value='";
  shown(r.end_digits);
  f += u"' class='hankaku'><BR>※両方入力入力しないと検索対象になりません。"
       u"<BR>※日を超えての時間設定も可。ただし24時間未満の間隔で。";
  f += u"<HR>【都県市町村区】<BR>空白区切で５所以内<BR>";
  f += u"<INPUT TYPE=text NAME='aah' SIZE=50 maxlength='99' value='";
  shown(r.places_text);
  f += u"' class='zenkaku'><HR><INPUT TYPE='hidden' NAME='aai' "
       u"value='0'>【就労形態】<BR>";
  for (size_t k = 0; k < kBoxFlagCount; ++k) {
    f += kBoxPieces[k].prefix;
    f += u"<input type=checkbox name='";
    f += kBoxNames[k];
    f += r.boxes[k] ? u"' value='1' checked>" : u"' value='1'>";
    f += kBoxPieces[k].label;
    f += kBoxPieces[k].tail;
  }
  f += u"<HR>【障がい者対象求人】<BR><select name='asa'>";
  for (const DisabilityOption& option : kDisabilityOptions) {
    f += r.disability_choice == option.value ? u"<option selected value='"
                                             : u"<option value='";
    f += option.value;
    f += u"'>";
    f += option.label;
  }
  f += u"<HR><br><INPUT TYPE='hidden' NAME='zzz' value='end'>";
  f += u"<INPUT TYPE=submit VALUE='　送信　' ACCESSKEY='#'></FORM>";
  if (escape_growth != nullptr) *escape_growth = growth;
  return f;
}

std::u16string BuildRegistrationRecord(const SearchRequest& r) {
  std::u16string record;
  auto line = [&](std::u16string_view name, std::u16string_view value) {
    record += name;
    record += BlankControlCharacters(value);
    record += u"\r\n";
  };
  line(u"_su=ss0", u"");
  line(u"aaa=", r.address);
  line(u"aa6=", Number(r.registration_number));
  line(u"aa8=", Number(r.daily_maximum));
  line(u"aab=", FormatNumber(r.age));
  line(u"aac=", r.job_type_text);
  line(u"aad=", r.content_text);
  line(u"aae=", r.days_off_text);
  line(u"aaf=", r.start_digits);
  line(u"aag=", r.end_digits);
  line(u"aah=", r.places_text);
  for (size_t k = 0; k < kBoxFlagCount; ++k) {
    record += kBoxNames[k];
    record += r.boxes[k] ? u"=1\r\n" : u"=0\r\n";
  }
  line(u"asa=", r.disability_choice);
  record += u"zzz";
  return record;
}

}  // namespace qlok
