#include "results/job_items.h"

#include <array>
#include <optional>

#include "results/map_link.h"
#include "text/like.h"
#include "text/text_utils.h"
#include "text/unicode.h"

namespace qlok {
namespace {

constexpr std::u16string_view kCrLf = u"\r\n";

// "*?????-????*", written in two literals so that no "??-" stands in one (an
// old trigraph, which compilers still warn of).
constexpr std::u16string_view kServiceNumberPattern =
    u"*?????"
    u"-????*";

constexpr std::array<std::u16string_view, 3> kPageServiceLines = {
    u"ハローワーク求人です。",
    u"応募は原則として直接可能です。",
    u"下記ページの「求人情報検索」ボタンから"
    u"求人番号を入力して詳細をご確認ください。",
};
constexpr std::array<std::u16string_view, 2> kMailServiceLines = {
    u"ハローワーク求人です。",
    u"下記で確認し直接応募することも可能です。",
};

const JobMedium kPage = {
    .line_break = u"<BR>",
    .company_name_min_length = 2,
    .service_lines_before_link = kPageServiceLines,
    .service_link = &SiteConfig::service_page_url,
    .service_line_after_link =
        u"最寄の安定所に下記の求人番号を伝えて"
        u"相談・紹介を受ける方法も有り、その方がお勧めです。",
    .map_anchor_when_place_matches = true,
    .hours_note_min_length = 2,
    .breaks_after_application_notes = 1,
    .rankmemo_breaks_as_html = true,
};

const JobMedium kMail = {
    .line_break = kCrLf,
    .company_name_min_length = 0,  // only a null name is missing
    .service_lines_before_link = kMailServiceLines,
    .service_link = &SiteConfig::service_mail_url,
    .service_line_after_link =
        u"あなたの最寄のハローワークに下記の求人番号を伝えて"
        u"相談・紹介を受けるのがお勧めです。",
    .map_anchor_when_place_matches = false,
    .hours_note_min_length = 3,
    .breaks_after_application_notes = 2,
    .rankmemo_breaks_as_html = false,
};

// The current row, read column by column by name as the items use them.
class Row {
 public:
  explicit Row(const Recordset& job) : job_(job) {}

  Value Get(std::u16string_view column) const { return job_.Field(column); }
  std::u16string Text(std::u16string_view column) const {
    return Get(column).ToText();
  }
  bool IsNull(std::u16string_view column) const { return Get(column).IsNull(); }
  // The whole number of a column; nullopt for null. Throws Failure for a
  // value that is no number.
  std::optional<int64_t> Number(std::u16string_view column) const {
    Value v = Get(column);
    if (v.IsNull()) return std::nullopt;
    return v.AsInteger();
  }
  bool Is(std::u16string_view column, int64_t n) const {
    std::optional<int64_t> v = Number(column);
    return v && *v == n;
  }
  // Not null and at least `min_length` characters long.
  bool Present(std::u16string_view column, size_t min_length) const {
    Value v = Get(column);
    return !v.IsNull() && v.TextLength() >= min_length;
  }

 private:
  const Recordset& job_;
};

// Appends the items of one job; one member per item, in the order shown.
class ItemWriter {
 public:
  ItemWriter(const Recordset& job, const JobMedium& medium,
             const SiteConfig& site)
      : row_(job), m_(medium), site_(site), br_(medium.line_break) {}

  std::u16string Write() {
    const Value job_number = row_.Get(u"求人番");
    service_job_ = IsServiceJobNumber(job_number);
    job_number_null_ = job_number.IsNull();
    Company(job_number.ToText());
    Phone();
    HeadOffice();
    if (!row_.Is(u"従業員数", -1)) {
      Line(u"【従業員数】" + row_.Text(u"従業員数") + u"人");
    }
    Industries();
    if (!row_.IsNull(u"事業内容")) {
      Line(u"【事業内容】 ");
      Line(row_.Text(u"事業内容"));
    }
    EmploymentForms();
    Openings();
    JobTypes();
    if (!row_.IsNull(u"職内1")) {
      Line(u"【職務内容】 ");
      Line(row_.Text(u"職内1"));
    }
    Places();
    PlaceChoice();
    if (!row_.IsNull(u"給料系")) Line(u"【給料体系】" + row_.Text(u"給料系"));
    Range(u"下固給", u"上固給", u"【固定給】　");
    Range(u"ナス下", u"ナス上", u"【年間賞与】　");
    PayNotes();
    Hours();
    if (row_.Is(u"残時", -1)) {
      Line(u"【残業時間】未記入");
    } else {
      Line(u"【残業時間】 １ヶ月に" + row_.Text(u"残時") + u"時間");
    }
    if (row_.Present(u"時補", m_.hours_note_min_length)) {
      Line(u"【時間について補足】 ");
      Line(row_.Text(u"時補"));
    }
    Holidays();
    if (!row_.Is(u"年休", 0)) {
      Line(u"【年間休日数】　" + row_.Text(u"年休") + u"日");
    }
    HolidayNotes();
    WeeklyDays();
    Insurance();
    if (row_.Is(u"労組", 1)) Line(u"【労働組合】有");
    if (row_.Is(u"育休実", 1)) Line(u"【育児休業実績】有");
    Housing(u"単", u"【単身用住宅】有　", u"【単身用住宅】無");
    Housing(u"世", u"【世帯用住宅】有　", u"【世帯用住宅】無");
    Nursery();
    Housing(u"カー通勤", u"【マイカー通勤用駐車場】有　",
            u"【マイカー通勤用駐車場】無");
    if (row_.Is(u"バイク", 1)) out_ += u"《バイク通勤》可";
    Retirement();
    Age();
    if (!row_.IsNull(u"必要学歴")) {
      Line(u"【必要学歴】" + row_.Text(u"必要学歴"));
    }
    if (row_.Present(u"専攻", 2)) Line(u"【必要専攻】" + row_.Text(u"専攻"));
    if (row_.Present(u"卒業年", 2)) {
      Line(u"【卒業した期間】　" + row_.Text(u"卒業年"));
    }
    Situation();
    Licences();
    WelcomeLicences();
    Experience(u"業界経験", u"業界経験年", u"【必要業界経験】");
    Experience(u"職種経験", u"職種経験年", u"【必要職種経験】");
    if (!row_.IsNull(u"募集締切日")) {
      Line(u"【募集締切日】　" + row_.Text(u"募集締切日"));
    }
    if (!row_.IsNull(u"採用予定日")) {
      Line(u"【採用予定日】　" + row_.Text(u"採用予定日"));
    }
    ApplicationNotes();
    Recommendation();
    return std::move(out_);
  }

 private:
  // A break, then `text`.
  void Line(std::u16string_view text) {
    out_ += br_;
    out_ += text;
  }

  void Company(const std::u16string& job_number) {
    const bool missing = !row_.Present(u"社名", m_.company_name_min_length);
    if (missing && service_job_) {
      Line(u"【事業所名】非公開");
      Line(
          u"求人者が詳細情報の非公開を希望する求人です。"
          u"詳細情報は最寄の安定所で得られます。 ");
      Line(u"問い合わせ時に以下の求人番号をお伝えください。");
      Line(u"《求人番号》" + job_number);
    } else if (missing) {
      Line(u"【事業所名】未記入");
    } else if (service_job_) {
      for (std::u16string_view line : m_.service_lines_before_link) Line(line);
      Line(site_.*m_.service_link);
      Line(m_.service_line_after_link);
      Line(u"【事業所名】" + row_.Text(u"社名"));
      Line(u"《求人番号》" + job_number);
    } else {
      Line(u"【事業所名】" + row_.Text(u"社名"));
    }
  }

  void Phone() {
    const Value phone = row_.Get(u"電話");
    if (phone.IsNull() || service_job_) return;
    const std::u16string text = phone.ToText();
    constexpr std::u16string_view kNote = u"《補足》";
    const size_t note = text.find(kNote);
    if (text.size() >= 30 && note != std::u16string::npos) {
      Line(std::u16string_view(text).substr(0, note));
      Line(std::u16string_view(text).substr(note));
    } else {
      Line(u"【電話番号】" + text);
    }
  }

  void HeadOffice() {
    const Value office = row_.Get(u"本社所在地");
    if (office.IsNull()) return;
    const std::u16string address = office.ToText();
    const Value place = row_.Get(u"就労場所1");
    bool with_map = place.IsNull();
    bool anchor = false;
    if (!with_map) {
      const std::u16string place_text = place.ToText();
      // The place without its first two characters (the prefecture, mostly)
      // and its last one, matched as a pattern anywhere in the address.
      if (address.size() > 6 && place_text.size() > 3 &&
          MatchesLike(
              address,
              u"*" + place_text.substr(2, place_text.size() - 3) + u"*")) {
        with_map = true;
        anchor = m_.map_anchor_when_place_matches;
      }
    }
    if (!with_map) {
      Line(u"【本社所在地】" + address);
      return;
    }
    const std::u16string map = AddressMapLink(address, site_.map_base);
    Line(u"【本社所在地と参考地図】");
    Line(address);
    if (anchor) {
      Line(u"<a href=\"" + map + u"\" target=\"_blank\">" + map + u"</a>");
    } else {
      Line(map);
    }
  }

  void Industries() {
    if (row_.IsNull(u"業界1") && row_.IsNull(u"業界2") &&
        row_.IsNull(u"業界3")) {
      return;
    }
    Line(u"【業界】 " + row_.Text(u"業界1") + u" " + row_.Text(u"業界2") +
         u" " + row_.Text(u"業界3"));
  }

  void EmploymentForms() {
    struct Form {
      std::u16string_view column, text;
    };
    static constexpr Form kForms[] = {
        {u"正", u"正社員・"},
        {u"フル非", u"非正社員フルタイム・"},
        {u"パート", u"パートタイム・"},
        {u"バイト", u"アルバイト・"},
        {u"派", u"派遣・請負・"},
        {u"紹予派", u"紹介予定派遣・"},
        {u"臨", u"臨時雇用・"},
        {u"自立", u"契約関係・"},
        {u"インターン", u"インターン・"},
        {u"夫婦応", u"夫婦雇用・"},
        {u"日雇", u"日雇・"},
    };
    std::u16string list;
    for (const Form& form : kForms) {
      if (row_.Is(form.column, 1)) list += form.text;
    }
    if (list.empty()) return;
    list.pop_back();  // the final "・"
    Line(u"【雇用形態】" + list);
  }

  void Openings() {
    if (!row_.Is(u"不問数", 0)) {
      Line(u"【募集人数】 " + row_.Text(u"不問数") + u"人");
    }
    if (!row_.Is(u"通勤数", 0)) {
      Line(u"【募集人数】 通勤で" + row_.Text(u"通勤数") + u"人");
    }
    if (!row_.Is(u"住込数", 0)) {
      Line(u"【募集人数】 住込で" + row_.Text(u"住込数") + u"人");
    }
  }

  void JobTypes() {
    if (row_.IsNull(u"職種1") && row_.IsNull(u"職種2") &&
        row_.IsNull(u"職種3")) {
      Line(u"【職種】未記入");
      return;
    }
    Line(u"【職種】 " + row_.Text(u"職種1") + u" " + row_.Text(u"職種2") +
         u" " + row_.Text(u"職種3"));
  }

  void Places() {
    // The fifth place comes first.
    static constexpr std::u16string_view kPlaces[] = {
        u"就労場所5", u"就労場所1", u"就労場所2", u"就労場所3", u"就労場所4"};
    std::array<Value, 5> values;
    bool all_null = true;
    for (size_t i = 0; i < values.size(); ++i) {
      values[i] = row_.Get(kPlaces[i]);
      all_null = all_null && values[i].IsNull();
    }
    if (all_null) return;
    Line(u"【就労場所】 ");
    for (const Value& place : values) {
      if (!place.IsNull() && place.TextLength() > 1) Line(place.ToText());
    }
  }

  void PlaceChoice() {
    static constexpr std::u16string_view kChoices[] = {
        u"上記の就労場所は応募者が選択でき、採用後移動なし。",
        u"上記の就労場所は応募者が選べるが、採用後移動もある。",
        u"上記の就労場所は応募者の住所から通勤可能な圏内で決定。",
        u"上記のすべての就労場所への配置・異動に応じられなければならない。",
    };
    std::optional<int64_t> choice = row_.Number(u"場選");
    if (choice && *choice >= 1 && *choice <= 4) Line(kChoices[*choice - 1]);
  }

  // Pay bounds in yen; -1 is no bound.
  void Range(std::u16string_view lower, std::u16string_view upper,
             std::u16string_view label) {
    const bool no_lower = row_.Is(lower, -1);
    const bool no_upper = row_.Is(upper, -1);
    std::u16string text(label);
    if (no_lower && no_upper) {
      text += u"未記入";
    } else if (no_lower) {
      text += row_.Text(upper) + u"円以下";
    } else if (no_upper) {
      text += row_.Text(lower) + u"円以上";
    } else {
      text += row_.Text(lower) + u"円～" + row_.Text(upper) + u"円";
    }
    Line(text);
  }

  void PayNotes() {
    const Value notes = row_.Get(u"給説");
    if (notes.IsNull() || notes.ToText() == u" ") return;
    Line(u"【給料補足説明】 ");
    Line(notes.ToText());
  }

  void Hours() {
    struct Time {
      std::u16string_view column, suffix;
    };
    static constexpr Time kTimes[] = {
        {u"始時", u"～"},  {u"終時", u"  "},  {u"始時1", u"～"},
        {u"終時1", u"  "}, {u"始時2", u"～"}, {u"終時2", u""},
    };
    std::array<Value, 6> values;
    bool all_null = true;
    for (size_t i = 0; i < values.size(); ++i) {
      values[i] = row_.Get(kTimes[i].column);
      all_null = all_null && values[i].IsNull();
    }
    if (all_null) return;
    std::u16string text = u"【就業時間】　";
    for (size_t i = 0; i < values.size(); ++i) {
      if (values[i].IsNull()) continue;
      text += HoursMinutes(values[i]);
      text += kTimes[i].suffix;
    }
    Line(text);
  }

  void Holidays() {
    struct Day {
      std::u16string_view column, label;
      bool monthly;  // the codes 1 to 3 (off once to three times a month)
    };
    static constexpr Day kDays[] = {
        {u"日", u"日曜：", true}, {u"月", u"月曜：", true},
        {u"火", u"火曜：", true}, {u"水", u"水曜：", true},
        {u"木", u"木曜：", true}, {u"金", u"金曜：", true},
        {u"土", u"土曜：", true}, {u"祝", u"祝日：", false},
    };
    static constexpr std::u16string_view kMonthly[] = {
        u"月１回ほど休日", u"月２回ほど休日", u"月３回ほど休日"};
    std::u16string days;
    for (const Day& day : kDays) {
      std::optional<int64_t> code = row_.Number(day.column);
      if (!code) continue;
      std::u16string_view text;
      if (*code == -1) {
        text = u"その他";
      } else if (*code == 5) {
        text = u"休日";
      } else if (day.monthly && *code >= 1 && *code <= 3) {
        text = kMonthly[*code - 1];
      } else {
        continue;
      }
      days += br_;
      days += day.label;
      days += text;
    }
    if (days.empty()) {
      Line(u"【休日】その他");
    } else {
      Line(u"【休日】" + days);
    }
  }

  void HolidayNotes() {
    const Value notes = row_.Get(u"休日説");
    if (notes.IsNull() || notes.TextLength() <= 2) return;
    Line(u"【休日補足】");
    Line(notes.ToText());
  }

  void WeeklyDays() {
    const std::optional<int64_t> low = row_.Number(u"週低");
    const std::optional<int64_t> high = row_.Number(u"週高");
    const bool low_zero = low && *low == 0;
    const bool high_zero = high && *high == 0;
    const std::u16string label = u"【週出勤数】　";
    if (low_zero && high_zero) return;
    if (low && high && *low == *high) {
      Line(label + row_.Text(u"週低") + u"日");
    } else if (low_zero) {
      Line(label + row_.Text(u"週高") + u"日以下");
    } else if (high_zero) {
      Line(label + row_.Text(u"週低") + u"日以上");
    } else {
      Line(label + row_.Text(u"週低") + u"日～" + row_.Text(u"週高") + u"日");
    }
  }

  void Insurance() {
    struct Cover {
      std::u16string_view column, text;
    };
    static constexpr Cover kCovers[] = {
        {u"雇", u"雇用保険  "}, {u"労", u"労災  "}, {u"ken", u"健康保険  "},
        {u"厚", u"厚生年金  "}, {u"財", u"財形  "},
    };
    std::u16string list;
    for (const Cover& cover : kCovers) {
      if (row_.Is(cover.column, 1)) list += cover.text;
    }
    if (!list.empty()) {
      Line(u"【保険等】" + list);
    } else if (job_number_null_) {
      Line(u"【社会保険等】無");
    }
  }

  // -2 or less none; -1 available; 0 or more available at that monthly cost.
  // The break stands even for a null, which matches none of the three.
  void Housing(std::u16string_view column, std::u16string_view available,
               std::u16string_view none) {
    out_ += br_;
    std::optional<int64_t> n = row_.Number(column);
    if (!n) return;
    if (*n == -1) {
      out_ += available;
    } else if (*n >= 0) {
      out_ += available;
      out_ += row_.Text(column) + u"円";
    } else {
      out_ += none;
    }
  }

  void Nursery() {
    std::optional<int64_t> n = row_.Number(u"保育園");
    if (!n || *n <= -2) return;
    if (*n == -1) {
      Line(u"【保育園】有　");
    } else {
      Line(u"【保育園】有　" + row_.Text(u"保育園") + u"円");
    }
  }

  void Retirement() {
    const std::u16string_view reemployment =
        row_.Is(u"再雇", 1) ? u"  定年後の再雇用制度あり" : u"";
    std::optional<int64_t> age = row_.Number(u"定年");
    if (!age) return;
    if (*age == -1) {
      Line(u"【定年】有　" + std::u16string(reemployment));
    } else if (*age == 0) {
      Line(u"【定年】無");
    } else if (*age > 0) {
      Line(u"【定年】" + row_.Text(u"定年") + u"才　" +
           std::u16string(reemployment));
    }
  }

  void Age() {
    std::optional<int64_t> low = row_.Number(u"齢下");
    const bool no_low = low && *low < 1;
    const bool no_high = row_.Is(u"齢上", 99);
    const std::u16string label = u"【募集年齢】　";
    if (no_low && no_high) {
      Line(label + u"不問");
    } else if (no_low) {
      Line(label + row_.Text(u"齢上") + u"才以下");
    } else if (no_high) {
      Line(label + row_.Text(u"齢下") + u"才以上");
    } else {
      Line(label + row_.Text(u"齢下") + u"才～" + row_.Text(u"齢上") + u"才");
    }
  }

  void Situation() {
    if (!row_.Present(u"現状", 2)) return;
    const std::u16string text = row_.Text(u"現状");
    if (text == kCrLf) return;
    Line(u"【現在の職が次である方を歓迎】");
    Line(text);
  }

  void Licences() {
    std::u16string list;
    bool all_null = true;
    for (std::u16string_view column : {u"必免1", u"必免2", u"必免3"}) {
      const Value v = row_.Get(column);
      if (v.IsNull()) continue;
      all_null = false;
      list += u"　" + v.ToText();
    }
    Line(all_null ? u"【必要な免許】なし" : u"【必要な免許】" + list);
  }

  void WelcomeLicences() {
    std::u16string list;
    int nulls = 0;
    int short_ones = 0;
    for (std::u16string_view column : {u"免4", u"免5", u"免6"}) {
      const Value v = row_.Get(column);
      if (v.IsNull()) {
        ++nulls;
        continue;
      }
      if (v.TextLength() < 2) ++short_ones;
      list += u"　" + v.ToText();
    }
    if (nulls == 3 || short_ones == 3) return;
    Line(u"【有れば歓迎の免許】" + list);
  }

  void Experience(std::u16string_view field, std::u16string_view years,
                  std::u16string_view label) {
    const Value what = row_.Get(field);
    // The item stays out only when its years are -1; a null there is not
    // -1, but it has no years to show either. The years are written as
    // the column holds them.
    if (!row_.Present(field, 2) && row_.Is(years, -1)) return;
    std::u16string text(label);
    if (!what.IsNull()) text += u"　" + what.ToText();
    if (!row_.Get(years).IsNull() && !row_.Is(years, -1)) {
      text += u"　" + row_.Text(years) + u"年以上";
    }
    Line(text);
  }

  void ApplicationNotes() {
    const bool how = row_.Present(u"応説", 2);
    const bool free = row_.Present(u"自由", 2);
    if (how) {
      Line(u"【応募方法・補足】");
      Line(row_.Text(u"応説"));
      if (free) Line(row_.Text(u"自由"));
    } else if (free) {
      Line(u"【補足】");
      Line(row_.Text(u"自由"));
    }
    for (int i = 0; i < m_.breaks_after_application_notes; ++i) out_ += br_;
  }

  void Recommendation() {
    std::u16string memo = row_.Text(u"rankmemo");
    if (memo.empty()) {
      std::optional<int64_t> rank = row_.Number(u"rank");
      if (rank && *rank > 100) {
        out_ += u"【この求人のお勧めポイント】 100点／100点満点";
      } else {
        out_ += u"【この求人のお勧めポイント】" + row_.Text(u"rank") +
                u"点／100点満点";
      }
    } else {
      out_ += m_.rankmemo_breaks_as_html ? CrLfToBr(memo) : memo;
    }
    out_ += br_;
    out_ += br_;
  }

  const Row row_;
  const JobMedium& m_;
  const SiteConfig& site_;
  const std::u16string_view br_;
  bool service_job_ = false;
  bool job_number_null_ = true;
  std::u16string out_;
};

}  // namespace

const JobMedium& PageMedium() { return kPage; }
const JobMedium& MailMedium() { return kMail; }

std::u16string JobHeading(int64_t number) {
  return u"＝＝＝＝＝＝＝＝【求人" + Digits(number) + u"】＝＝＝＝＝＝＝＝";
}

std::u16string RenderJobItems(const Recordset& job, const JobMedium& medium,
                              const SiteConfig& site) {
  return ItemWriter(job, medium, site).Write();
}

std::u16string HoursMinutes(const Value& time) {
  std::u16string text = time.ToText();
  if (text.size() < 11) text += u"00:00:00";
  if (text.size() <= 13) return {};
  return text.substr(10, text.size() - 13);
}

bool IsServiceJobNumber(const Value& job_number) {
  return !job_number.IsNull() &&
         MatchesLike(job_number.ToText(), kServiceNumberPattern);
}

}  // namespace qlok
