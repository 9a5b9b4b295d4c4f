#include "tools/job_generator.h"

#include <algorithm>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "jobs/job_columns.h"
#include "text/date_time.h"
#include "text/unicode.h"
#include "tools/job_generator_data.h"

namespace qlok {

uint64_t SplitMix64::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

int64_t SplitMix64::Between(int64_t low, int64_t high) {
  return low +
         static_cast<int64_t>(Below(static_cast<uint64_t>(high - low) + 1));
}

namespace {

using namespace generator_data;

// A job's row, filled column by column by name.
class Row {
 public:
  Row() : values_(JobColumns().size()) {}
  void Set(std::u16string_view column, Value value) {
    values_[Index(column)] = std::move(value);
  }
  void Text(std::u16string_view column, std::u16string text) {
    Set(column, Value::Text(std::move(text)));
  }
  void Number(std::u16string_view column, int64_t number) {
    Set(column, Value::Integer(number));
  }
  std::vector<Value> Take() { return std::move(values_); }

 private:
  static size_t Index(std::u16string_view column) {
    static const std::unordered_map<std::u16string_view, size_t> indexes = [] {
      std::unordered_map<std::u16string_view, size_t> map;
      for (size_t i = 0; i < JobColumns().size(); ++i) {
        map.emplace(JobColumns()[i].name, i);
      }
      return map;
    }();
    // Every name below is a column; a wrong one is caught by the tests.
    return indexes.at(column);
  }

  std::vector<Value> values_;
};

std::u16string Wide(int64_t number) {
  std::u16string digits = Digits(number);
  for (char16_t& c : digits) c = static_cast<char16_t>(c - u'0' + u'０');
  return digits;
}

std::u16string ZeroPadded(int64_t number, int width) {
  std::u16string digits = Digits(number);
  return std::u16string(width - std::min<int>(width, digits.size()), u'0') +
         digits;
}

class JobMaker {
 public:
  JobMaker(uint64_t seed, uint64_t index, const DateTime& day)
      : random_(SplitMix64(seed ^ (index * 0xD1B54A32D192ED03ULL)).Next()),
        day_{day.year, day.month, day.day} {}

  std::vector<Value> Make();

 private:
  std::u16string_view Pick(Texts texts) {
    return texts[random_.Below(texts.size())];
  }
  template <typename T, size_t N>
  const T& PickOf(const T (&items)[N]) {
    return items[random_.Below(N)];
  }
  // A multiple of `step` from `low` to `high`.
  int64_t Amount(int64_t low, int64_t high, int64_t step) {
    return random_.Between(low / step, high / step) * step;
  }
  bool Percent(int percent) { return random_.Percent(percent); }
  // The date `days` after the day of generation (before it when negative).
  DateTime DaysFromDay(int64_t days) const {
    return AddSeconds(day_, days * 24 * 3600);
  }

  void Company();
  void FormsAndPlaces();
  void Pay();
  void Hours();
  void Holidays();
  void Welfare();
  void Requirements();
  void Notes();

  std::u16string Phone(const Location& at);
  // A shift time `minutes` after midnight of 2000/01/01.
  static Value Time(int minutes) {
    DateTime t;  // 2000/01/01 0:00:00
    t.day += minutes / 1440;
    t.hour = minutes % 1440 / 60;
    t.minute = minutes % 60;
    return Value::DateTimeOf(t);
  }

  SplitMix64 random_;
  DateTime day_;  // the day of generation, midnight
  Row row_;
  const Industry* industry_ = nullptr;
  const Location* office_ = nullptr;
  enum class PayUnit { kMonth, kHour, kDay };
  PayUnit pay_ = PayUnit::kMonth;
  bool regular_ = false;  // a regular or full-time job
  bool public_ = false;   // a public-service job number
};

std::vector<Value> JobMaker::Make() {
  industry_ = &PickOf(kIndustries);
  office_ = &PickOf(kLocations);
  Company();
  FormsAndPlaces();
  Pay();
  Hours();
  Holidays();
  Welfare();
  Requirements();
  Notes();
  row_.Number(u"rank", random_.Between(0, 130));
  row_.Number(u"障専", Percent(4) ? 1 : 0);
  return row_.Take();
}

std::u16string JobMaker::Phone(const Location& at) {
  const int local = 10 - static_cast<int>(at.area.size()) - 4;
  int64_t first = 1;
  for (int i = 1; i < local; ++i) first *= 10;
  // Each draw is a statement of its own: the operands of one expression
  // are evaluated in no fixed order, and the jobs must not depend on the
  // compiler. The order is the one the generated jobs have always had.
  const int64_t line = random_.Between(0, 9999);
  const int64_t exchange = random_.Between(first * 2, first * 10 - 1);
  return std::u16string(at.area) + u"-" + Digits(exchange) + u"-" +
         ZeroPadded(line, 4);
}

void JobMaker::Company() {
  // Job numbers: none, public-service ones ("27010-12345678"), the site's
  // own (no hyphen) and a few with four digits before the hyphen, which are
  // not public-service numbers.
  const uint64_t kind = random_.Below(100);
  // The official number of the office's prefecture leads the number.
  int prefecture = 1;
  for (const Location* at = kLocations + 1; at <= office_; ++at) {
    prefecture += at->prefecture != (at - 1)->prefecture;
  }
  if (kind < 25) {
    public_ = true;
    const int64_t serial = random_.Between(0, 99999999);
    const int64_t office = random_.Between(10, 140);
    row_.Text(u"求人番", ZeroPadded(prefecture, 2) + ZeroPadded(office, 3) +
                             u"-" + ZeroPadded(serial, 8));
  } else if (kind < 60) {
    row_.Text(u"求人番", u"QL" + ZeroPadded(random_.Between(1, 999999), 6));
  } else if (kind < 64) {
    const int64_t serial = random_.Between(0, 9999999);
    const int64_t head = random_.Between(1000, 9999);
    row_.Text(u"求人番", ZeroPadded(head, 4) + u"-" + ZeroPadded(serial, 7));
  }

  std::u16string base(PickOf(kBaseNames));
  std::u16string name;
  if (industry_->corporate != u"株式会社") {
    name = std::u16string(industry_->corporate) + base +
           std::u16string(Pick(industry_->name_endings));
  } else {
    std::u16string form = Percent(85)   ? u"株式会社"
                          : Percent(70) ? u"有限会社"
                                        : u"合同会社";
    std::u16string core = base + std::u16string(Pick(industry_->name_endings));
    name = Percent(65) ? form + core : core + form;
  }
  // Hidden companies: no name or a one-character one, mostly with a
  // public-service number.
  if (public_ && Percent(30)) {
    if (Percent(50)) row_.Text(u"社名", u"＊");
  } else if (!Percent(2)) {
    row_.Text(u"社名", name);
  }

  if (!Percent(12)) {
    std::u16string phone = Phone(*office_);
    const uint64_t form = random_.Below(100);
    if (form < 10) {
      phone += u"（代表）　《補足》採用担当：" +
               std::u16string(PickOf(kSurnames)) +
               u"　受付時間　平日９時～１７時";
    } else if (form < 15) {
      phone += u"（採用担当直通）／" + Phone(*office_) + u"（代表）";
    }
    row_.Text(u"電話", phone);
  }

  if (!Percent(4)) {
    std::u16string address;
    if (Percent(80)) {
      address = u"〒" + std::u16string(office_->postal) + u"-" +
                ZeroPadded(random_.Between(0, 9999), 4) + u" ";
    }
    const int64_t building = random_.Between(1, 20);
    const int64_t block = random_.Between(1, 30);
    const int64_t district = random_.Between(1, 5);
    const std::u16string_view town = office_->towns[random_.Below(2)];
    address += std::u16string(office_->prefecture) +
               std::u16string(office_->city) + std::u16string(town) +
               Wide(district) + u"丁目" + Wide(block) + u"－" + Wide(building);
    if (Percent(50)) {
      address += u"　" + std::u16string(PickOf(kBuildings));
      if (Percent(50)) address += Wide(random_.Between(2, 12)) + u"階";
    }
    row_.Text(u"本社所在地", address);
  }

  row_.Number(u"従業員数", Percent(10)   ? -1
                           : Percent(40) ? random_.Between(3, 30)
                           : Percent(60) ? random_.Between(30, 300)
                                         : random_.Between(300, 3000));
  if (!Percent(5)) {
    row_.Text(u"業界1", std::u16string(industry_->name));
    if (Percent(30))
      row_.Text(u"業界2", std::u16string(PickOf(kOtherIndustries)));
    if (Percent(8)) row_.Text(u"業界3", u"その他");
  }
  if (!Percent(10)) {
    row_.Text(u"事業内容", std::u16string(Pick(industry_->businesses)));
  }
}

void JobMaker::FormsAndPlaces() {
  // Employment forms: one main form, sometimes with a second one.
  static constexpr std::u16string_view kFlags[] = {
      u"正", u"フル非", u"パート",     u"バイト", u"派",  u"紹予派",
      u"臨", u"自立",   u"インターン", u"夫婦応", u"日雇"};
  for (std::u16string_view flag : kFlags) row_.Number(flag, 0);
  const uint64_t form = random_.Below(100);
  std::u16string_view main = form < 45   ? u"正"
                             : form < 52 ? u"フル非"
                             : form < 72 ? u"パート"
                             : form < 80 ? u"バイト"
                             : form < 88 ? u"派"
                             : form < 91 ? u"紹予派"
                             : form < 94 ? u"臨"
                                         : PickOf(kFlags);
  row_.Number(main, 1);
  regular_ = main == u"正" || main == u"フル非" || main == u"紹予派";
  pay_ = main == u"パート" || main == u"バイト" ? PayUnit::kHour
         : main == u"日雇"                      ? PayUnit::kDay
                                                : PayUnit::kMonth;
  if (Percent(15)) row_.Number(PickOf(kFlags), 1);
  if (main == u"パート" && Percent(50)) row_.Number(u"バイト", 1);

  const uint64_t openings = random_.Below(100);
  row_.Number(u"不問数", openings < 70 ? random_.Between(1, 10) : 0);
  row_.Number(u"通勤数",
              openings >= 70 && openings < 90 ? random_.Between(1, 5) : 0);
  row_.Number(u"住込数",
              openings >= 80 && openings < 90 ? random_.Between(1, 2) : 0);

  if (!Percent(2)) {
    row_.Text(u"職種1", std::u16string(Pick(industry_->job_types)));
  }
  if (Percent(30))
    row_.Text(u"職種2", std::u16string(Pick(industry_->job_types)));
  if (Percent(10))
    row_.Text(u"職種3", std::u16string(Pick(industry_->job_types)));
  if (!Percent(10))
    row_.Text(u"職内1", std::u16string(Pick(industry_->duties)));

  // The first place is mostly the head office's city, which the page links
  // to the map; sometimes it lies elsewhere or is missing.
  auto place = [&](const Location& at) {
    std::u16string text =
        std::u16string(at.prefecture) + std::u16string(at.city);
    if (Percent(15)) text += at.towns[random_.Below(2)];
    return text;
  };
  const uint64_t first = random_.Below(100);
  if (first < 68) {
    row_.Text(u"就労場所1", place(*office_));
  } else if (first < 90) {
    row_.Text(u"就労場所1", place(PickOf(kLocations)));
  } else if (first < 93) {
    row_.Text(u"就労場所1", std::u16string(office_->prefecture));
  }
  if (Percent(25)) {
    row_.Text(u"就労場所2", Percent(12) ? u"他" : place(PickOf(kLocations)));
  }
  if (Percent(10)) row_.Text(u"就労場所3", place(PickOf(kLocations)));
  if (Percent(5)) row_.Text(u"就労場所4", place(PickOf(kLocations)));
  if (Percent(5)) row_.Text(u"就労場所5", place(PickOf(kLocations)));
  row_.Number(u"場選", Percent(70) ? 0 : random_.Between(1, 4));
}

void JobMaker::Pay() {
  std::u16string system;
  int64_t low, high, step;
  if (pay_ == PayUnit::kHour) {
    system = u"時給";
    low = 950, high = 1400, step = 10;
  } else if (pay_ == PayUnit::kDay) {
    system = u"日給";
    low = 8000, high = 13000, step = 500;
  } else if (industry_->name == u"情報通信業" && Percent(30)) {
    system = u"年俸制";
    low = 3000000, high = 6000000, step = 100000;
  } else {
    system = Percent(80) ? u"月給" : u"月給制（試用期間あり）";
    low = 150000, high = 300000, step = 5000;
  }
  if (!Percent(5)) row_.Text(u"給料系", system);

  const int64_t lower = Amount(low, high, step);
  const int64_t upper = lower + Amount(step * 5, (high - low) / 2, step);
  const uint64_t bounds = random_.Below(100);
  row_.Number(u"下固給",
              bounds < 5 || (bounds >= 30 && bounds < 38) ? -1 : lower);
  row_.Number(u"上固給", bounds < 30 ? -1 : upper);

  if (regular_ && Percent(60)) {
    const int64_t bonus = Amount(100000, 600000, 10000);
    row_.Number(u"ナス下", Percent(10) ? -1 : bonus);
    row_.Number(u"ナス上",
                Percent(40) ? -1 : bonus + Amount(50000, 400000, 10000));
  } else {
    row_.Number(u"ナス下", -1);
    row_.Number(u"ナス上", -1);
  }

  const uint64_t note = random_.Below(100);
  if (note < 40) {
    row_.Text(u"給説", std::u16string(PickOf(kPayNotes)));
  } else if (note < 45) {
    row_.Text(u"給説", u" ");
  }
}

void JobMaker::Hours() {
  const uint64_t kind = random_.Below(100);
  if (kind >= 4) {
    const ShiftPattern& pattern =
        industry_->round_the_clock && kind < 40 ? PickOf(kRoundTheClockPatterns)
        : pay_ == PayUnit::kHour                ? PickOf(kPartPatterns)
                                                : PickOf(kDayPatterns);
    static constexpr std::u16string_view kStarts[] = {u"始時", u"始時1",
                                                      u"始時2"};
    static constexpr std::u16string_view kEnds[] = {u"終時", u"終時1",
                                                    u"終時2"};
    for (int i = 0; i < pattern.count; ++i) {
      row_.Set(kStarts[i], Time(pattern.shifts[i].start));
      // A few jobs give a start without an end.
      if (i > 0 || kind >= 6) row_.Set(kEnds[i], Time(pattern.shifts[i].end));
    }
  }
  row_.Number(u"残時", Percent(15)   ? -1
                       : Percent(25) ? 0
                                     : random_.Between(5, 45));
  const uint64_t note = random_.Below(100);
  if (note < 30) {
    row_.Text(u"時補", std::u16string(PickOf(kHourNotes)));
  } else if (note < 35) {
    row_.Text(u"時補", u"なし");  // two characters: the page shows it
  } else if (note < 38) {
    row_.Text(u"時補", u"-");
  }
}

void JobMaker::Holidays() {
  static constexpr std::u16string_view kDays[] = {u"日", u"月", u"火", u"水",
                                                  u"木", u"金", u"土", u"祝"};
  // Codes per day, Sunday to Saturday and public holidays.
  static constexpr int kPatterns[][8] = {
      {5, 0, 0, 0, 0, 0, 5, 5},         {5, 0, 0, 0, 0, 0, 2, 5},
      {5, 0, 0, 0, 0, 0, 0, 5},         {5, 0, 0, 5, 0, 0, 0, 0},
      {-1, -1, -1, -1, -1, -1, -1, -1}, {1, 0, 0, 0, 0, 0, 3, -1},
      {0, 0, 0, 0, 0, 0, 0, 0},         {5, 0, 0, 0, 0, 0, 1, 0},
  };
  static constexpr int kCodes[] = {-1, 0, 1, 2, 3, 5};
  const int(&pattern)[8] = PickOf(kPatterns);
  const bool shuffled = Percent(10);
  for (int day = 0; day < 8; ++day) {
    int code = pattern[day];
    if (shuffled) {
      code = PickOf(kCodes);
      if (day == 7 && code >= 1 && code <= 3) code = 0;
    }
    row_.Number(kDays[day], code);
  }
  row_.Number(u"年休", Percent(25) ? 0 : random_.Between(96, 125));
  const uint64_t note = random_.Below(100);
  if (note < 35) {
    row_.Text(u"休日説", std::u16string(PickOf(kHolidayNotes)));
  } else if (note < 38) {
    row_.Text(u"休日説", u"\r\n");
  } else if (note < 41) {
    row_.Text(u"休日説", u"なし");
  }

  int64_t fewest = 0, most = 0;
  const uint64_t week = random_.Below(100);
  if (regular_) {
    if (week < 45)
      fewest = most = 5;
    else if (week < 60)
      fewest = 4, most = 5;
    else if (week < 70)
      fewest = most = 6;
  } else {
    if (week < 30)
      fewest = 2, most = 5;
    else if (week < 50)
      fewest = 3;
    else if (week < 70)
      most = 4;
    else if (week < 80)
      fewest = most = 5;
  }
  row_.Number(u"週低", fewest);
  row_.Number(u"週高", most);
}

void JobMaker::Welfare() {
  const bool none = Percent(6);
  auto flag = [&](std::u16string_view column, int percent) {
    row_.Number(column, !none && Percent(percent) ? 1 : 0);
  };
  flag(u"雇", regular_ ? 97 : 65);
  flag(u"労", regular_ ? 99 : 92);
  flag(u"ken", regular_ ? 95 : 40);
  flag(u"厚", regular_ ? 95 : 40);
  flag(u"財", regular_ ? 25 : 3);
  row_.Number(u"労組", Percent(regular_ ? 25 : 8) ? 1 : 0);
  row_.Number(u"育休実", Percent(regular_ ? 35 : 10) ? 1 : 0);

  // Housing, nursery and parking: -2 or less none, -1 available, 0 or more
  // available at that monthly cost.
  auto offer = [&](std::u16string_view column, int none_percent,
                   int free_percent, int64_t most) {
    const uint64_t roll = random_.Below(100);
    int64_t value;
    if (roll < uint64_t(none_percent)) {
      value = Percent(90) ? -2 : -3;
    } else if (roll < uint64_t(none_percent + free_percent)) {
      value = -1;
    } else {
      value = Percent(20) ? 0 : Amount(1000, most, 1000);
    }
    row_.Number(column, value);
  };
  offer(u"単", 65, 15, 30000);
  offer(u"世", 80, 10, 50000);
  offer(u"保育園", 85, 5, 20000);
  offer(u"カー通勤", 25, 35, 5000);
  row_.Number(u"バイク", Percent(40) ? 1 : 0);

  const uint64_t retire = random_.Below(100);
  int64_t age;
  if (regular_) {
    age = retire < 45 ? 60 : retire < 70 ? 65 : retire < 80 ? -1 : 0;
  } else {
    age = retire < 60 ? 0 : retire < 90 ? 65 : -1;
  }
  row_.Number(u"定年", age);
  row_.Number(u"再雇", age != 0 && Percent(50) ? 1 : 0);

  static constexpr int kAges[][2] = {{0, 99}, {0, 99}, {0, 99},  {0, 99},
                                     {0, 99}, {0, 99}, {18, 99}, {18, 99},
                                     {0, 59}, {0, 64}, {18, 35}, {20, 45}};
  const int(&range)[2] = PickOf(kAges);
  row_.Number(u"齢下", range[0]);
  row_.Number(u"齢上", range[1]);
}

void JobMaker::Requirements() {
  if (!Percent(20)) row_.Text(u"必要学歴", std::u16string(PickOf(kEducation)));
  auto short_or = [&](std::u16string_view column, int percent, Texts texts) {
    const uint64_t roll = random_.Below(100);
    if (roll < uint64_t(percent)) {
      row_.Text(column, std::u16string(Pick(texts)));
    } else if (roll < uint64_t(percent + 3)) {
      row_.Text(column, u"-");  // one character counts as nothing
    }
  };
  short_or(u"専攻", 10, kMajors);
  short_or(u"卒業年", 5, kPeriods);
  const uint64_t situation = random_.Below(100);
  if (situation < 6) {
    row_.Text(u"現状", std::u16string(PickOf(kSituations)));
  } else if (situation < 8) {
    row_.Text(u"現状", u"\r\n");
  } else if (situation < 10) {
    row_.Text(u"現状", u"-");
  }

  if (!industry_->licences.empty()) {
    if (Percent(35))
      row_.Text(u"必免1", std::u16string(Pick(industry_->licences)));
    if (Percent(10))
      row_.Text(u"必免2", std::u16string(Pick(industry_->licences)));
    if (Percent(3)) row_.Text(u"必免3", u"普通自動車免許");
  }
  if (Percent(3)) {
    // Three one-character values, which the renderers leave out.
    row_.Text(u"免4", u"-");
    row_.Text(u"免5", u"-");
    row_.Text(u"免6", u"-");
  } else {
    if (Percent(25))
      row_.Text(u"免4", std::u16string(Pick(industry_->welcome)));
    if (Percent(10))
      row_.Text(u"免5", std::u16string(Pick(industry_->welcome)));
    if (Percent(3)) row_.Text(u"免6", u"普通自動車免許");
  }

  auto experience = [&](std::u16string_view text_column,
                        std::u16string_view years_column, std::u16string text) {
    const uint64_t roll = random_.Below(100);
    if (roll < 15) {
      row_.Text(text_column, std::move(text));
    } else if (roll < 17) {
      row_.Text(text_column, u"-");
    }
    row_.Number(years_column, Percent(75) ? -1 : random_.Between(1, 5));
  };
  experience(u"業界経験", u"業界経験年",
             std::u16string(industry_->name) + u"での実務経験");
  experience(u"職種経験", u"職種経験年",
             std::u16string(Pick(industry_->job_types)) + u"の経験");

  if (Percent(35)) {
    row_.Set(u"募集締切日", Value::DateOf(DaysFromDay(random_.Between(
                                -kDeadlineDaysBefore, kDeadlineDaysAfter))));
  }
  if (Percent(20)) {
    row_.Set(u"採用予定日",
             Value::DateOf(DaysFromDay(random_.Between(0, kHiringDaysAfter))));
  }
}

void JobMaker::Notes() {
  const uint64_t apply = random_.Below(100);
  if (apply < 60) {
    row_.Text(u"応説", std::u16string(PickOf(kApplyNotes)));
  } else if (apply < 63) {
    row_.Text(u"応説", u"-");
  }
  if (Percent(40)) row_.Text(u"自由", std::u16string(PickOf(kFreeNotes)));
  if (Percent(25)) row_.Text(u"rankmemo", std::u16string(PickOf(kRankMemos)));
}

}  // namespace

std::vector<Value> GenerateJob(uint64_t seed, uint64_t index,
                               const DateTime& day) {
  return JobMaker(seed, index, day).Make();
}

}  // namespace qlok
