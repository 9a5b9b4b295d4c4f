#include "manage/registration_words.h"

#include <array>
#include <optional>

#include "registrations/registration.h"
#include "search/search_request.h"
#include "text/date_time.h"
#include "text/html_escape.h"
#include "text/unicode.h"

namespace qlok {
namespace {

constexpr char16_t kNotSet[] = u"指定なし";

// The form's label of each box, indexed by BoxFlag.
constexpr std::array<std::u16string_view, kBoxFlagCount> kBoxLabels = {
    u"正社員",       u"他のフルタイム", u"パート・バイト", u"派遣・請負",
    u"紹介予定派遣", u"臨時雇用",       u"雇用保険",       u"労災保険",
    u"厚生年金",     u"健康保険",       u"単身用住宅",     u"世帯用住宅",
    u"通勤用駐車場"};

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The first `count` characters of `text` (a surrogate pair is one).
std::u16string_view FirstCharacters(std::u16string_view text, size_t count) {
  size_t end = 0;
  for (size_t n = 0; n < count && end < text.size(); ++n) {
    end += IsHighSurrogate(text[end]) && end + 1 < text.size() ? 2 : 1;
  }
  return text.substr(0, end);
}

size_t CountCharacters(std::u16string_view text) {
  size_t count = 0;
  for (char16_t c : text) {
    if (c < 0xDC00 || c > 0xDFFF) ++count;
  }
  return count;
}

// 「a」「b」
std::u16string Quoted(const std::vector<std::u16string>& words) {
  std::u16string out;
  for (const std::u16string& word : words) out += u"「" + word + u"」";
  return out;
}

std::u16string Joined(const std::vector<std::u16string>& items,
                      std::u16string_view separator) {
  std::u16string out;
  for (const std::u16string& item : items) {
    if (!out.empty()) out += separator;
    out += item;
  }
  return out;
}

template <size_t N>
std::vector<std::u16string> NonEmpty(
    const std::array<std::u16string, N>& words) {
  std::vector<std::u16string> out;
  for (const std::u16string& word : words) {
    if (!word.empty()) out.push_back(word);
  }
  return out;
}

// Words of which any one will do, looked for in `where`.
std::u16string AnyWord(const std::vector<std::u16string>& words,
                       std::u16string_view where) {
  if (words.empty()) return kNotSet;
  return std::u16string(where) + Quoted(words) +
         (words.size() == 1 ? u"を含む求人" : u"のいずれかを含む求人");
}

std::vector<std::u16string> CheckedLabels(const SearchRequest& request,
                                          size_t first, size_t last) {
  std::vector<std::u16string> labels;
  for (size_t box = first; box <= last; ++box) {
    if (request.boxes[box]) labels.emplace_back(kBoxLabels[box]);
  }
  return labels;
}

std::u16string DaysOff(const SearchRequest& request) {
  // Monday first, as a week is read; the public holiday last.
  static constexpr std::array<DayFlag, kDayFlagCount> kOrder = {
      kMonday, kTuesday,  kWednesday, kThursday,
      kFriday, kSaturday, kSunday,    kPublicHoliday};
  std::vector<std::u16string> days;
  for (DayFlag day : kOrder) {
    if (request.days[day]) days.emplace_back(1, kDayCharacters[day]);
  }
  if (days.empty()) return kNotSet;
  return Joined(days, u"・") + u"が休みの求人";
}

// "8:30" for a stamp of the first day, "翌5:00" for one of the next.
std::optional<std::u16string> ClockOf(std::u16string_view stamp) {
  const std::optional<DateTime> t = ParseDateTime(stamp);
  if (!t) return std::nullopt;
  std::u16string minutes = Digits(t->minute);
  if (minutes.size() < 2) minutes = u"0" + minutes;
  return (t->day > 1 ? u"翌" : u"") + Digits(t->hour) + u":" + minutes;
}

std::u16string Hours(const SearchRequest& request) {
  // The search has a time condition only with both stamps.
  if (request.start_stamp.empty() || request.end_stamp.empty()) return kNotSet;
  const std::optional<std::u16string> start = ClockOf(request.start_stamp);
  const std::optional<std::u16string> end = ClockOf(request.end_stamp);
  if (!start || !end) return kNotSet;
  return *start + u"～" + *end + u"の間に収まる勤務時間の求人";
}

std::u16string Forms(const SearchRequest& request) {
  const std::vector<std::u16string> forms = CheckedLabels(request, kAga, kAgf);
  if (forms.empty()) return kNotSet;
  return Joined(forms, u"、") +
         (forms.size() == 1 ? u"の求人" : u"のいずれかの求人");
}

std::u16string Welfare(const SearchRequest& request) {
  const std::vector<std::u16string> items = CheckedLabels(request, kAra, kArk);
  if (items.empty()) return kNotSet;
  return Joined(items, u"、") +
         (items.size() == 1 ? u"がある求人" : u"がすべてある求人");
}

std::u16string Disability(const SearchRequest& request) {
  if (request.disability_choice == u"0") {
    return u"一般求人のみ（障がい者対象求人は含めない）";
  }
  if (request.disability_choice == u"1") {
    return u"障がい者対象求人のみ（一般求人は含めない）";
  }
  return u"一般求人と障がい者対象求人の両方を含める";
}

std::u16string Age(const SearchRequest& request) {
  if (request.age == 0) return kNotSet;
  return FormatNumber(request.age) + u"歳で応募できる求人";
}

std::u16string State(const Registration& registration) {
  if (registration.active) return u"配信中";
  std::u16string text = u"停止中（登録抹消済み）";
  if (registration.stopped) {
    text = u"停止中（" + FormatDate(*registration.stopped) + u"に登録抹消）";
  }
  return text;
}

}  // namespace

std::u16string MaskAddress(std::u16string_view address) {
  const size_t at = address.rfind(u'@');
  if (at == std::u16string_view::npos) {
    return std::u16string(FirstCharacters(address, 1)) + u"***";
  }
  const std::u16string_view local = address.substr(0, at);
  const size_t length = CountCharacters(local);
  const size_t kept = length >= 3 ? 2 : length == 2 ? 1 : 0;
  return std::u16string(FirstCharacters(local, kept)) + u"***" +
         std::u16string(address.substr(at));
}

std::vector<WordedLine> DescribeRegistration(const Registration& registration) {
  const SearchRequest request = RequestOfSettings(registration.settings);
  std::vector<WordedLine> lines = {
      {u"【登録番号】", Digits(registration.number)},
      {u"【配信状況】", State(registration)},
      {u"【職種】", AnyWord(NonEmpty(request.job_type_words), u"職種に")},
      {u"【内容検索単語】",
       AnyWord(NonEmpty(request.content_words), u"仕事の内容などに")},
      {u"【休みたい曜日】", DaysOff(request)},
      {u"【時間】", Hours(request)},
      {u"【都県市町村区】",
       AnyWord(NonEmpty(request.place_words), u"就労場所に")},
      {u"【就労形態】", Forms(request)},
      {u"【福利厚生】", Welfare(request)},
      {u"【障がい者対象求人】", Disability(request)},
      {u"【年齢】", Age(request)},
      {u"【1日上限送信求人数】", Digits(registration.daily_maximum) + u"件"},
      {u"【登録日】", FormatDate(registration.created)},
  };
  if (FormatDate(registration.changed) != FormatDate(registration.created)) {
    lines.push_back({u"【条件の変更日】", FormatDate(registration.changed)});
  }
  return lines;
}

std::u16string WordedLinesHtml(const std::vector<WordedLine>& lines) {
  std::u16string html;
  for (const WordedLine& line : lines) {
    html += EscapeHtml(line.label) + EscapeHtml(line.text) + u"<BR>";
  }
  return html;
}

std::u16string WordedLinesText(const std::vector<WordedLine>& lines) {
  std::u16string text;
  for (const WordedLine& line : lines) {
    text += line.label + line.text + u"\r\n";
  }
  return text;
}

}  // namespace qlok
