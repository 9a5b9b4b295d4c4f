#include "search/query_builder.h"

#include <initializer_list>

#include "text/unicode.h"

namespace qlok {
namespace {

// Slot numbers, counted from 1.
constexpr size_t kJobTypeSlot = 1;
constexpr size_t kPlaceSlot = 2;
constexpr size_t kEmploymentSlot = 11;
constexpr size_t kFirstDaySlot = 28;  // 日 .. 祝 take 28 .. 35
constexpr size_t kContentSlot = 38;
constexpr size_t kTimeSlot = 41;
constexpr size_t kAgeSlot = 44;
constexpr size_t kDisabilitySlot = 45;

struct BoxCondition {
  BoxFlag box;
  size_t slot;
  std::u16string_view condition;
};
constexpr BoxCondition kBoxConditions[] = {
    {kAra, 14, u"雇=1"},          {kArb, 15, u"労=1"},
    {kArd, 16, u"ken=1"},         {kArc, 17, u"厚=1"},
    {kArk, 21, u"カー通勤 > -2"}, {kAri, 39, u"単 >= -1"},
    {kArj, 40, u"世 >= -1"},
};

// The employment-form markers, in the order they are listed; パート・バイト
// stands for two of them.
struct EmploymentCondition {
  BoxFlag box;
  std::u16string_view condition;
};
constexpr EmploymentCondition kEmploymentConditions[] = {
    {kAga, u"正=1"},      {kAgb, u"フル非=1"}, {kAgc, u"パート=1"},
    {kAgc, u"バイト=1"},  {kAge, u"派=1"},     {kAgf, u"臨=1"},
    {kAgea, u"紹予派=1"},
};

// "column like '%word%'" for each column, joined by " or ".
std::u16string LikeAny(std::initializer_list<std::u16string_view> columns,
                       std::u16string_view word) {
  const std::u16string quoted = DoubleQuotes(word);
  std::u16string out;
  for (std::u16string_view column : columns) {
    if (!out.empty()) out += u" or ";
    out += column;
    out += u" like '%";
    out += quoted;
    out += u"%'";
  }
  return out;
}

// The non-empty entries joined by " or " and enclosed in parentheses; empty
// when every entry is empty.
template <typename Entries>
std::u16string AnyOf(const Entries& entries) {
  std::u16string out;
  for (const std::u16string& entry : entries) {
    if (entry.empty()) continue;
    if (!out.empty()) out += u" or ";
    out += entry;
  }
  return out.empty() ? out : u"(" + out + u")";
}

std::u16string& Slot(ConditionSlots& slots, size_t number) {
  return slots[number - 1];
}

std::u16string TimeWindow(std::u16string_view start, std::u16string_view end) {
  const std::u16string s = DoubleQuotes(start);
  const std::u16string e = DoubleQuotes(end);
  std::u16string out = u"(";
  for (std::u16string_view suffix : {u"", u"1", u"2"}) {
    if (out.size() > 1) out += u" or ";
    out += u"(始時";
    out += suffix;
    out += u" >= '" + s + u"' and 終時";
    out += suffix;
    out += u" <= '" + e + u"')";
  }
  return out + u")";
}

}  // namespace

std::u16string DoubleQuotes(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    out.push_back(c);
    if (c == u'\'') out.push_back(u'\'');
  }
  return out;
}

ConditionSlots FillConditionSlots(const SearchRequest& r) {
  ConditionSlots slots;

  std::array<std::u16string, 5> job_types;
  for (size_t k = 0; k < job_types.size(); ++k) {
    if (r.job_type_words[k].empty()) continue;
    job_types[k] = LikeAny({u"職種1", u"職種2", u"職種3"}, r.job_type_words[k]);
  }
  Slot(slots, kJobTypeSlot) = AnyOf(job_types);

  std::array<std::u16string, 5> places;
  for (size_t k = 0; k < places.size(); ++k) {
    if (r.place_words[k].empty()) continue;
    places[k] = LikeAny(
        {u"就労場所1", u"就労場所2", u"就労場所3", u"就労場所4", u"就労場所5"},
        r.place_words[k]);
  }
  Slot(slots, kPlaceSlot) = AnyOf(places);

  std::array<std::u16string, std::size(kEmploymentConditions)> forms;
  for (size_t k = 0; k < forms.size(); ++k) {
    if (r.boxes[kEmploymentConditions[k].box]) {
      forms[k] = kEmploymentConditions[k].condition;
    }
  }
  Slot(slots, kEmploymentSlot) = AnyOf(forms);

  for (const BoxCondition& c : kBoxConditions) {
    if (r.boxes[c.box]) Slot(slots, c.slot) = c.condition;
  }

  for (size_t k = 0; k < kDayFlagCount; ++k) {
    if (!r.days[k]) continue;
    Slot(slots, kFirstDaySlot + k) =
        std::u16string(kDayCharacters.substr(k, 1)) + u" >= 2";
  }

  std::array<std::u16string, 3> contents;
  for (size_t k = 0; k < contents.size(); ++k) {
    if (r.content_words[k].empty()) continue;
    contents[k] = LikeAny({u"事業内容", u"職種1", u"必免1", u"必免2", u"必免3",
                           u"職内1", u"自由"},
                          r.content_words[k]);
  }
  Slot(slots, kContentSlot) = AnyOf(contents);

  if (!r.start_stamp.empty() && !r.end_stamp.empty()) {
    Slot(slots, kTimeSlot) = TimeWindow(r.start_stamp, r.end_stamp);
  }

  if (r.age != 0) {
    const std::u16string age = FormatNumber(r.age);
    Slot(slots, kAgeSlot) = u"(齢上 >= " + age + u" and 齢下 <= " + age + u")";
  }

  if (r.disability_choice == u"0" || r.disability_choice == u"1") {
    Slot(slots, kDisabilitySlot) = u"障専= " + r.disability_choice;
  }
  return slots;
}

std::u16string AssembleQuery(const ConditionSlots& slots) {
  return AssembleStatement(slots, JobSource{});
}

std::u16string AssembleStatement(const ConditionSlots& slots,
                                 const JobSource& source) {
  std::u16string conditions;
  for (const std::u16string& slot : slots) {
    if (slot.empty()) continue;
    if (!conditions.empty()) conditions += u" AND ";
    conditions += slot;
  }
  if (conditions.empty()) return u"求人";
  std::u16string out =
      u"SELECT " + source.columns + u" FROM " + source.from + u" WHERE ";
  if (!source.narrowing.empty()) out += source.narrowing + u" AND ";
  return out + conditions + u" ORDER BY " + source.order + u" limit 1000;";
}

std::u16string BuildQuery(const SearchRequest& request) {
  return AssembleQuery(FillConditionSlots(request));
}

}  // namespace qlok
