// The search request: every field of the posted search and registration
// form, read out of the decoded posted string and normalised.
//
// The posted string is already URL-decoded as a whole, so a value may itself
// hold "&" or "="; the fields are therefore cut out one after the other in
// the fixed order the form sends them, each value ending where the next
// field's name begins. Every step of the reading ignores failures: a field
// that cannot be cut or read leaves its part of the request as it was (empty
// texts, unset flags, age 0, no registration number or daily maximum), and
// reading goes on with the next field. ReadSearchRequest never throws.
#ifndef QLOK_SEARCH_SEARCH_REQUEST_H_
#define QLOK_SEARCH_SEARCH_REQUEST_H_

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qlok {

// The eight weekday flags, in the order of their characters 日月火水木金土祝.
enum DayFlag : size_t {
  kSunday,
  kMonday,
  kTuesday,
  kWednesday,
  kThursday,
  kFriday,
  kSaturday,
  kPublicHoliday,
  kDayFlagCount
};
// The character of each day flag, indexed by DayFlag.
inline constexpr std::u16string_view kDayCharacters = u"日月火水木金土祝";

// The thirteen check boxes, in the order the form shows and sends them: six
// employment forms, then seven welfare items.
enum BoxFlag : size_t {
  kAga,   // 正社員
  kAgb,   // 他のフルタイム
  kAgc,   // パート・バイト
  kAge,   // 派遣・請負
  kAgea,  // 紹介予定派遣
  kAgf,   // 臨時雇用
  kAra,   // 雇用保険
  kArb,   // 労災保険
  kArc,   // 厚生年金
  kArd,   // 健康保険
  kAri,   // 単身用住宅
  kArj,   // 世帯用住宅
  kArk,   // 通勤用駐車場
  kBoxFlagCount
};
// The form field name of each box, indexed by BoxFlag.
inline constexpr std::array<std::u16string_view, kBoxFlagCount> kBoxNames = {
    u"aga", u"agb", u"agc", u"age", u"agea", u"agf", u"ara",
    u"arb", u"arc", u"ard", u"ari", u"arj",  u"ark"};

// The longest value kept of each field, in UTF-16 code units. Whatever a
// hand-made request posts, a value is cut to its field's length as it is
// read, before anything else looks at it, so that no word makes a statement
// an engine refuses and the query, the registration log, the form and the
// registration record stay small. The form lets a visitor type far less.
// The word fields: job types (aac), content words (aad), places (aah).
inline constexpr size_t kMaxWordFieldLength = 200;
// Numbers, age, days off, times and the disability choice (aa6, aa8, aab,
// aae, aaf, aag, asa).
inline constexpr size_t kMaxShortFieldLength = 20;
// The e-mail address (aaa) is not cut: an address longer than the longest
// path RFC 5321 allows is no address, and the request is a search.
inline constexpr size_t kMaxAddressLength = 254;

struct SearchRequest {
  // aaa: the checked e-mail address; empty for a search without
  // registration (also when the check refused the value).
  std::u16string address;
  // aaa as typed when the check refused it (control characters blanked,
  // cut to kMaxAddressLength), so that the page can say so and show it
  // again; empty when the field was empty, held only blanks, or was taken.
  std::u16string refused_address;
  // aa6 and aa8: the leading numeric value; absent when not read.
  std::optional<double> registration_number;
  std::optional<double> daily_maximum;
  // aab: 0 means that no age was given.
  double age = 0;
  // aac: sanitised text and its first five words.
  std::u16string job_type_text;
  std::array<std::u16string, 5> job_type_words;
  // aad: sanitised (and possibly cut) text and its first three words.
  std::u16string content_text;
  std::array<std::u16string, 3> content_words;
  // aae: sanitised text and the weekday flags it names.
  std::u16string days_off_text;
  std::array<bool, kDayFlagCount> days{};
  // aaf and aag: normalised digits ("830", "1730") and their stamps
  // ("2000/01/01 8:30:00"); the end stamp may have been moved to the next
  // day. Empty when the time was rejected.
  std::u16string start_digits;
  std::u16string start_stamp;
  std::u16string end_digits;
  std::u16string end_stamp;
  // aah: sanitised text and its first five words.
  std::u16string places_text;
  std::array<std::u16string, 5> place_words;
  // The thirteen check boxes, indexed by BoxFlag.
  std::array<bool, kBoxFlagCount> boxes{};
  // asa: as posted ("0", "1" or "2" from the form).
  std::u16string disability_choice;

  bool operator==(const SearchRequest&) const = default;
};

// Reads every field of `posted` in the form's order and returns the
// normalised request, each value first cut to the length above. Consumes
// `posted` from the front as it reads; its content afterwards is of no use.
// Never throws.
SearchRequest ReadSearchRequest(std::u16string& posted);

// Cuts the value of field `name` out of `posted`: the first `name` + "="
// (ASCII letters compared without case) is looked up, and `posted` is
// shortened to what follows the "="; when it is absent, the first
// name.size() code units are dropped instead. The value is then what stands
// before the "&" in front of the first `end` (compared the same way).
// Throws Failure when the value cannot be cut: `posted` too short to drop
// the name's length (`posted` then stays as it was), or `end` absent from
// the shortened string or standing at its very start (`posted` stays
// shortened).
std::u16string TakeField(std::u16string& posted, std::u16string_view name,
                         std::u16string_view end);

// Splits `text` into exactly `count` words at the ideographic space U+3000
// (a half-width blank does not separate). Leading spaces and runs of spaces
// before each of the first count - 1 words are skipped; the last word is
// the whole remaining text, spaces and all. Missing words are empty.
std::vector<std::u16string> SplitWords(std::u16string_view text, size_t count);

// Normalises a half-width time text such as "830", "0830", "1730", "2530"
// into three or four digits ("830", "830", "1730", "130"), or nullopt when
// the text is no usable time: fewer than three code units, minutes (the last
// two) above 60, and so on. A result that would hold anything but digits is
// rejected too, so nothing but digits can reach a stamp.
std::optional<std::u16string> NormaliseClock(std::u16string_view time);

// The stamp of normalised digits: "2000/01/01 " + hour + ":" + the last two
// digits + ":00", the hour being the first digit of three or the first two
// of four, as they stand ("830" -> "2000/01/01 8:30:00", "0030" ->
// "2000/01/01 00:30:00"). Sixty minutes, which the time check lets
// through, are the next full hour ("2260" -> "2000/01/01 23:00:00", "2360"
// -> "2000/01/02"), so that every stamp reads as a time. Empty for digits of
// any other length.
std::u16string ClockStamp(std::u16string_view digits);

// When both stamps read as date-times and the start lies strictly after the
// end, `end_stamp` becomes the end plus one day in the general date-and-time
// form ("2000/01/02 5:00:00"). Otherwise `end_stamp` stays as it is.
void MoveEndPastMidnight(std::u16string_view start_stamp,
                         std::u16string& end_stamp);

}  // namespace qlok

#endif  // QLOK_SEARCH_SEARCH_REQUEST_H_
