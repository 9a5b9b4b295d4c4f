#include "search/search_request.h"

#include <algorithm>
#include <cmath>

#include "platform/failure.h"
#include "text/date_time.h"
#include "text/text_utils.h"
#include "text/unicode.h"

namespace qlok {
namespace {

constexpr char16_t kWordSpace = u'\u3000';
constexpr char16_t kFullWidthAmpersand = u'＆';
// A content text longer than this is cut at its first "＆".
constexpr size_t kLongestUncutContent = 25;
constexpr int64_t kSecondsPerDay = 24 * 60 * 60;

bool AllDigits(std::u16string_view text) {
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

// One run of the time checks on `v`. The repeated subtraction of 2400 for
// times past midnight is done in one step: the last two digits do not change
// under it, so only the remainder matters.
std::optional<std::u16string> ClockSteps(const std::u16string& v) {
  if (v.size() < 3) return std::nullopt;
  const double minutes =
      NumericValue(std::u16string_view(v).substr(v.size() - 2));
  if (minutes > 60) return std::nullopt;
  const double n = NumericValue(v);
  const bool leading_zero = v[0] == u'0';
  if (n == 0) {
    if (leading_zero) return u"000";
    return std::nullopt;
  }
  if (n < 60 && leading_zero && minutes > 0) return v;
  if (n > 100 && n < 2400) return FormatNumber(n);
  if (n > 2399) {
    // A fraction would stay in the result; a number this large is no time
    // and could not be counted down exactly.
    if (n != std::floor(n) || n >= 1e15) return std::nullopt;
    double rest = n - 2400;
    if (rest >= 2400) rest = std::fmod(rest, 2400);
    if (rest < 10) return u"00" + FormatNumber(rest);
    if (rest < 60) return u"0" + FormatNumber(rest);
    return ClockSteps(FormatNumber(rest));  // below 2400: no further turn
  }
  return std::nullopt;
}

// The first `length` code units of `text`; a surrogate pair that the cut
// would split is dropped whole.
std::u16string Capped(std::u16string text, size_t length) {
  if (text.size() <= length) return text;
  if (length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF)
    --length;
  text.resize(length);
  return text;
}

std::u16string Name(std::u16string_view name, std::u16string_view suffix) {
  std::u16string out(name);
  out += suffix;
  return out;
}

}  // namespace

std::u16string TakeField(std::u16string& posted, std::u16string_view name,
                         std::u16string_view end) {
  const size_t at = FindIgnoringAsciiCase(posted, Name(name, u"="));
  // Everything up to and including the "=" goes; without the name, as many
  // code units as the name is long.
  const size_t dropped =
      (at == std::u16string::npos ? 0 : at + 1) + name.size();
  if (dropped > posted.size()) {
    throw Failure("form field " + U8(name) + ": posted text too short");
  }
  posted.erase(0, dropped);
  const size_t end_at = FindIgnoringAsciiCase(posted, end);
  if (end_at == std::u16string::npos || end_at == 0) {
    throw Failure("form field " + U8(name) + ": no " + U8(end) +
                  " after its value");
  }
  // The value stops before the "&" in front of the ending name.
  return posted.substr(0, end_at - 1);
}

std::vector<std::u16string> SplitWords(std::u16string_view text, size_t count) {
  std::vector<std::u16string> words(count);
  if (count == 0) return words;
  size_t from = 0;
  for (size_t k = 0; k + 1 < count; ++k) {
    while (from < text.size() && text[from] == kWordSpace) ++from;
    const size_t space = text.find(kWordSpace, from);
    if (space == std::u16string_view::npos) {
      words[k] = text.substr(from);
      return words;
    }
    words[k] = text.substr(from, space - from);
    from = space + 1;
  }
  words[count - 1] = text.substr(from);
  return words;
}

std::optional<std::u16string> NormaliseClock(std::u16string_view time) {
  std::optional<std::u16string> digits = ClockSteps(std::u16string(time));
  // The digits go into the form and between quotes into the query: a text
  // that passed the checks with other characters is refused.
  if (digits && !AllDigits(*digits)) return std::nullopt;
  return digits;
}

std::u16string ClockStamp(std::u16string_view digits) {
  if (digits.size() != 3 && digits.size() != 4) return u"";
  const std::u16string_view hour = digits.substr(0, digits.size() - 2);
  if (digits.substr(digits.size() - 2) == u"60") {
    // The time check lets sixty minutes through ("2260"). As a stamp that is
    // no time at all: one engine refuses the query, another sorts it after
    // every time. Sixty minutes are the next full hour.
    const int next_hour = static_cast<int>(NumericValue(hour)) + 1;
    return FormatGeneral(AddSeconds(DateTime{2000, 1, 1}, next_hour * 3600));
  }
  std::u16string stamp = u"2000/01/01 ";
  stamp += digits.substr(0, digits.size() - 2);
  stamp += u":";
  stamp += digits.substr(digits.size() - 2);
  stamp += u":00";
  return stamp;
}

void MoveEndPastMidnight(std::u16string_view start_stamp,
                         std::u16string& end_stamp) {
  const std::optional<DateTime> start = ParseDateTime(start_stamp);
  const std::optional<DateTime> end = ParseDateTime(end_stamp);
  if (!start || !end || !(*start > *end)) return;
  end_stamp = FormatGeneral(AddSeconds(*end, kSecondsPerDay));
}

namespace {

// The value of the field `name`, ending at `end`, cut to `length`; taken
// out of `s` as TakeField does.
std::u16string Take(std::u16string& s, std::u16string_view name,
                    std::u16string_view end, size_t length) {
  return Capped(TakeField(s, name, end), length);
}

// A free-text field sanitised, and its first `count` words.
template <size_t N>
std::u16string TakeWords(std::u16string& s, std::u16string_view name,
                         std::u16string_view end,
                         std::array<std::u16string, N>& words) {
  std::u16string text = SanitizeText(
      BlankControlCharacters(Take(s, name, end, kMaxWordFieldLength)));
  std::vector<std::u16string> split = SplitWords(text, N);
  std::copy(split.begin(), split.end(), words.begin());
  return text;
}

// aaa, aa6, aa8, aab: the address, the registration number, the daily
// maximum and the age.
void ReadRegistrationFields(std::u16string& s, SearchRequest& r) {
  constexpr size_t kShort = kMaxShortFieldLength;
  IgnoringFailure([&] {
    std::u16string value = TakeField(s, u"aaa", u"aa6=");
    if (value.size() <= kMaxAddressLength && CheckMailAddress(value) != u"no") {
      r.address = value;
    } else if (value.find_first_not_of(u" \u3000") != std::u16string::npos) {
      r.refused_address =
          BlankControlCharacters(Capped(value, kMaxAddressLength));
    }
  });
  IgnoringFailure([&] {
    r.registration_number = NumericValue(Take(s, u"aa6", u"aa8=", kShort));
  });
  IgnoringFailure([&] {
    r.daily_maximum = NumericValue(Take(s, u"aa8", u"aab=", kShort));
  });
  IgnoringFailure([&] {
    std::u16string value = ToHalfWidth(Take(s, u"aab", u"aac=", kShort));
    r.age = value.empty() ? 0 : NumericValue(value);
  });
}

// aac, aad, aae: the job-type words, the content words and the days off.
// A form without the days-off pair ends the content value at the times.
void ReadWordFields(std::u16string& s, SearchRequest& r) {
  IgnoringFailure([&] {
    r.job_type_text = TakeWords(s, u"aac", u"aad=", r.job_type_words);
  });
  const bool days_off_posted =
      FindIgnoringAsciiCase(s, u"aae=") != std::u16string::npos;
  IgnoringFailure([&] {
    std::u16string text = SanitizeText(BlankControlCharacters(Take(
        s, u"aad", days_off_posted ? u"aae=" : u"aaf", kMaxWordFieldLength)));
    if (text.size() > kLongestUncutContent) {
      const size_t ampersand = text.find(kFullWidthAmpersand);
      if (ampersand != std::u16string::npos) text.resize(ampersand);
    }
    r.content_text = text;
    std::vector<std::u16string> words = SplitWords(r.content_text, 3);
    std::copy(words.begin(), words.end(), r.content_words.begin());
  });
  if (!days_off_posted) return;
  IgnoringFailure([&] {
    r.days_off_text = SanitizeText(
        BlankControlCharacters(Take(s, u"aae", u"aaf=", kMaxShortFieldLength)));
    for (size_t k = 0; k < kDayFlagCount; ++k) {
      r.days[k] =
          r.days_off_text.find(kDayCharacters[k]) != std::u16string::npos;
    }
  });
}

// aaf, aag: the working hours, the end moved past midnight when it lies
// before the start.
void ReadWorkingHours(std::u16string& s, SearchRequest& r) {
  auto read_clock = [&s](std::u16string_view name, std::u16string_view end,
                         std::u16string& digits_out,
                         std::u16string& stamp_out) {
    IgnoringFailure([&] {
      std::optional<std::u16string> digits =
          NormaliseClock(ToHalfWidth(Take(s, name, end, kMaxShortFieldLength)));
      if (!digits) return;
      digits_out = *digits;
      stamp_out = ClockStamp(*digits);
    });
  };
  read_clock(u"aaf", u"aag=", r.start_digits, r.start_stamp);
  read_clock(u"aag", u"aah=", r.end_digits, r.end_stamp);
  IgnoringFailure([&] { MoveEndPastMidnight(r.start_stamp, r.end_stamp); });
}

// aah, the boxes, asa: the places, the checked boxes and the disability
// choice.
void ReadPlacesAndChoices(std::u16string& s, SearchRequest& r) {
  IgnoringFailure(
      [&] { r.places_text = TakeWords(s, u"aah", u"aai=", r.place_words); });
  IgnoringFailure([&] {
    // The boxes stand between aai and asa, so the value of aai is "0" and
    // then every posted box; exactly "0" means that none was checked.
    if (TakeField(s, u"aai", u"asa=") == u"0") return;
    for (size_t k = 0; k < kBoxFlagCount; ++k) {
      r.boxes[k] = FindIgnoringAsciiCase(s, Name(kBoxNames[k], u"=1")) !=
                   std::u16string::npos;
    }
  });
  IgnoringFailure([&] {
    r.disability_choice = Take(s, u"asa", u"zzz", kMaxShortFieldLength);
  });
}

}  // namespace

SearchRequest ReadSearchRequest(std::u16string& posted) {
  SearchRequest r;
  ReadRegistrationFields(posted, r);
  ReadWordFields(posted, r);
  ReadWorkingHours(posted, r);
  ReadPlacesAndChoices(posted, r);
  return r;
}

}  // namespace qlok
