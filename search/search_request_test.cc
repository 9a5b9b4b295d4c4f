#include "search/search_request.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// Every field of a request as readable lines, so a mismatch shows which.
std::string Describe(const SearchRequest& r) {
  std::u16string out;
  auto line = [&](std::u16string_view name, std::u16string_view value) {
    out += name;
    out += u"=[";
    out += value;
    out += u"]\n";
  };
  auto number = [](const std::optional<double>& v) {
    return v ? FormatNumber(*v) : std::u16string(u"absent");
  };
  line(u"address", r.address);
  line(u"registration_number", number(r.registration_number));
  line(u"daily_maximum", number(r.daily_maximum));
  line(u"age", FormatNumber(r.age));
  line(u"job_type_text", r.job_type_text);
  for (const auto& w : r.job_type_words) line(u"job_type_word", w);
  line(u"content_text", r.content_text);
  for (const auto& w : r.content_words) line(u"content_word", w);
  line(u"days_off_text", r.days_off_text);
  for (size_t k = 0; k < kDayFlagCount; ++k) {
    if (r.days[k]) line(u"day", kDayCharacters.substr(k, 1));
  }
  line(u"start", r.start_digits + u" / " + r.start_stamp);
  line(u"end", r.end_digits + u" / " + r.end_stamp);
  line(u"places_text", r.places_text);
  for (const auto& w : r.place_words) line(u"place_word", w);
  for (size_t k = 0; k < kBoxFlagCount; ++k) {
    if (r.boxes[k]) line(u"box", kBoxNames[k]);
  }
  line(u"disability_choice", r.disability_choice);
  return U8(out);
}

// A body as the form sends it, every field empty but the hidden ones, with
// the values of `values` put in (aai may carry the posted boxes).
std::u16string Body(const std::map<std::u16string, std::u16string>& values) {
  static const char16_t* kOrder[] = {u"aaa", u"aa6", u"aa8", u"aab",
                                     u"aac", u"aad", u"aae", u"aaf",
                                     u"aag", u"aah", u"aai", u"asa"};
  std::u16string body = u"_su=is1";
  for (const char16_t* name : kOrder) {
    auto it = values.find(name);
    std::u16string value = it != values.end()                    ? it->second
                           : std::u16string_view(name) == u"aai" ? u"0"
                                                                 : u"";
    body += u"&";
    body += name;
    body += u"=";
    body += value;
  }
  return body + u"&zzz=end";
}

TEST(ReadSearchRequestTest, ExampleBody) {
  std::u16string posted =
      u"_su=is1&aaa=&aa6=1&aa8=100&aab=&aac=事務　経理&aad=&aae=土日&aaf=830&"
      u"aag=1730&aah=&aai=0&asa=0&zzz=end";
  SearchRequest expected;
  expected.registration_number = 1;
  expected.daily_maximum = 100;
  expected.job_type_text = u"事務　経理";
  expected.job_type_words = {u"事務", u"経理", u"", u"", u""};
  expected.days_off_text = u"土日";
  expected.days[kSaturday] = expected.days[kSunday] = true;
  expected.start_digits = u"830";
  expected.start_stamp = u"2000/01/01 8:30:00";
  expected.end_digits = u"1730";
  expected.end_stamp = u"2000/01/01 17:30:00";
  expected.disability_choice = u"0";
  EXPECT_EQ(Describe(ReadSearchRequest(posted)), Describe(expected));
}

TEST(ReadSearchRequestTest, FieldCases) {
  // The form's defaults as they read: empty numbers still read as 0.
  SearchRequest base;
  base.registration_number = 0;
  base.daily_maximum = 0;
  struct Case {
    const char* what;
    std::u16string body;
    std::function<void(SearchRequest&)> expect;
  } cases[] = {
      {"leading and repeated word spaces",
       Body({{u"aac", u"　　事務　　経理"}}),
       [](SearchRequest& e) {
         e.job_type_text = u"　　事務　　経理";
         e.job_type_words = {u"事務", u"経理", u"", u"", u""};
       }},
      {"control characters in free text become blanks",
       Body({{u"aac", std::u16string(u"事務\r\n経理\0x", 8)},
             {u"aah", u"港\t区"}}),
       [](SearchRequest& e) {
         e.job_type_text = e.job_type_words[0] = u"事務  経理 x";
         e.places_text = e.place_words[0] = u"港 区";
       }},
      {"half-width blank does not split", Body({{u"aac", u"a b"}}),
       [](SearchRequest& e) {
         e.job_type_text = u"a b";
         e.job_type_words[0] = u"a b";
       }},
      {"sixth word stays with the fifth", Body({{u"aac", u"a　b　c　d　e　f"}}),
       [](SearchRequest& e) {
         e.job_type_text = u"a　b　c　d　e　f";
         e.job_type_words = {u"a", u"b", u"c", u"d", u"e　f"};
       }},
      {"long content cut at its ampersand",
       Body({{u"aad", u"123456789＆1234567890123456"}}),
       [](SearchRequest& e) {
         e.content_text = u"123456789";
         e.content_words[0] = u"123456789";
       }},
      {"half-width ampersand is sanitised, then cut",
       Body({{u"aad", u"123456789&1234567890123456"}}),
       [](SearchRequest& e) {
         e.content_text = u"123456789";
         e.content_words[0] = u"123456789";
       }},
      {"content of 25 keeps its ampersand",
       Body({{u"aad", u"123456789＆123456789012345"}}),
       [](SearchRequest& e) {
         e.content_text = u"123456789＆123456789012345";
         e.content_words[0] = e.content_text;
       }},
      {"content beginning with ampersand becomes empty",
       Body({{u"aad", u"＆12345678901234567890123456"}}),
       [](SearchRequest& e) {}},
      {"content words", Body({{u"aad", u"看護　介護　保育　調理"}}),
       [](SearchRequest& e) {
         e.content_text = u"看護　介護　保育　調理";
         e.content_words = {u"看護", u"介護", u"保育　調理"};
       }},
      {"night shift crosses midnight",
       Body({{u"aaf", u"2200"}, {u"aag", u"0500"}}),
       [](SearchRequest& e) {
         e.start_digits = u"2200";
         e.start_stamp = u"2000/01/01 22:00:00";
         e.end_digits = u"500";
         e.end_stamp = u"2000/01/02 5:00:00";
       }},
      {"equal times are not moved",
       Body({{u"aaf", u"0900"}, {u"aag", u"0900"}}),
       [](SearchRequest& e) {
         e.start_digits = e.end_digits = u"900";
         e.start_stamp = e.end_stamp = u"2000/01/01 9:00:00";
       }},
      {"end at midnight moves to the next date",
       Body({{u"aaf", u"2200"}, {u"aag", u"2400"}}),
       [](SearchRequest& e) {
         e.start_digits = u"2200";
         e.start_stamp = u"2000/01/01 22:00:00";
         e.end_digits = u"000";
         e.end_stamp = u"2000/01/02";
       }},
      {"sixty minutes are the next hour, and the end moves past midnight",
       Body({{u"aaf", u"2260"}, {u"aag", u"0500"}}),
       [](SearchRequest& e) {
         e.start_digits = u"2260";
         e.start_stamp = u"2000/01/01 23:00:00";
         e.end_digits = u"500";
         e.end_stamp = u"2000/01/02 5:00:00";
       }},
      {"full-width time digits", Body({{u"aaf", u"８３０"}}),
       [](SearchRequest& e) {
         e.start_digits = u"830";
         e.start_stamp = u"2000/01/01 8:30:00";
       }},
      {"100 rejected, 101 accepted", Body({{u"aaf", u"100"}, {u"aag", u"101"}}),
       [](SearchRequest& e) {
         e.end_digits = u"101";
         e.end_stamp = u"2000/01/01 1:01:00";
       }},
      {"0 rejected, 000 accepted", Body({{u"aaf", u"0"}, {u"aag", u"000"}}),
       [](SearchRequest& e) {
         e.end_digits = u"000";
         e.end_stamp = u"2000/01/01 0:00:00";
       }},
      {"full-width age", Body({{u"aab", u"３５"}}),
       [](SearchRequest& e) { e.age = 35; }},
      {"age with text after it", Body({{u"aab", u"35歳"}}),
       [](SearchRequest& e) { e.age = 35; }},
      {"no box posted", Body({{u"asa", u"1"}}),
       [](SearchRequest& e) { e.disability_choice = u"1"; }},
      {"two boxes posted", Body({{u"aai", u"0&agc=1&ark=1"}, {u"asa", u"1"}}),
       [](SearchRequest& e) {
         e.boxes[kAgc] = e.boxes[kArk] = true;
         e.disability_choice = u"1";
       }},
      {"agea does not check age", Body({{u"aai", u"0&agea=1"}}),
       [](SearchRequest& e) { e.boxes[kAgea] = true; }},
      {"box names ignore letter case", Body({{u"aai", u"0&AGA=1&Ari=1"}}),
       [](SearchRequest& e) { e.boxes[kAga] = e.boxes[kAri] = true; }},
      {"four-character address", Body({{u"aaa", u"a@b."}}),
       [](SearchRequest& e) { e.address = u"a@b."; }},
      {"address is not sanitised", Body({{u"aaa", u"o'neil@x.jp"}}),
       [](SearchRequest& e) { e.address = u"o'neil@x.jp"; }},
      {"address beginning with @", Body({{u"aaa", u"@b.cd"}}),
       [](SearchRequest& e) { e.refused_address = u"@b.cd"; }},
      {"address with a line break", Body({{u"aaa", u"a@b.c\r\nbcc: x@y.z"}}),
       [](SearchRequest& e) { e.refused_address = u"a@b.c  bcc: x@y.z"; }},
      {"address without @", Body({{u"aaa", u"taro.example.jp"}}),
       [](SearchRequest& e) { e.refused_address = u"taro.example.jp"; }},
      {"blanks alone are no address typed", Body({{u"aaa", u" 　 "}}),
       [](SearchRequest& e) {}},
      {"registration number and daily maximum",
       Body({{u"aa6", u"2"}, {u"aa8", u"50"}}),
       [](SearchRequest& e) {
         e.registration_number = 2;
         e.daily_maximum = 50;
       }},
      {"days off in any order and number", Body({{u"aae", u"祝日月月x水"}}),
       [](SearchRequest& e) {
         e.days_off_text = u"祝日月月x水";
         e.days[kPublicHoliday] = e.days[kSunday] = e.days[kMonday] =
             e.days[kWednesday] = true;
       }},
      {"values holding & and =",
       Body({{u"aac", u"a=b&c"}, {u"aah", u"東京都　横浜市"}}),
       [](SearchRequest& e) {
         e.job_type_text = u"a＝b＆c";
         e.job_type_words[0] = u"a＝b＆c";
         e.places_text = u"東京都　横浜市";
         e.place_words = {u"東京都", u"横浜市", u"", u"", u""};
       }},
      {"field names ignore letter case",
       u"_su=is1&AAA=a@b.c&AA6=3&aa8=10&aab=20&aac=&aad=&aae=&aaf=&aag=&"
       u"aah=&aai=0&ASA=2&ZZZ=end",
       [](SearchRequest& e) {
         e.address = u"a@b.c";
         e.registration_number = 3;
         e.daily_maximum = 10;
         e.age = 20;
         e.disability_choice = u"2";
       }},
  };
  for (const Case& c : cases) {
    SearchRequest expected = base;
    c.expect(expected);
    std::u16string posted = c.body;
    EXPECT_EQ(Describe(ReadSearchRequest(posted)), Describe(expected))
        << c.what;
  }
}

TEST(ReadSearchRequestTest, HostileLengthsAreCut) {
  // A hand-made request may post any length; every value is cut as it is
  // read, and an address beyond its longest length makes a search.
  constexpr size_t kHuge = 60000;
  const std::u16string at_most = u"a@b.jp" + std::u16string(248, u'x');
  SearchRequest base;
  base.registration_number = 0;
  base.daily_maximum = 0;
  struct Case {
    const char* what;
    std::u16string body;
    std::function<void(SearchRequest&)> expect;
  } cases[] = {
      {"job types", Body({{u"aac", std::u16string(kHuge, u'事')}}),
       [](SearchRequest& e) {
         e.job_type_text = e.job_type_words[0] = std::u16string(200, u'事');
       }},
      {"content words", Body({{u"aad", std::u16string(kHuge, u'x')}}),
       [](SearchRequest& e) {
         e.content_text = e.content_words[0] = std::u16string(200, u'x');
       }},
      {"places, cut before the sanitiser counts",
       Body({{u"aah", std::u16string(kHuge, u'%')}}),
       [](SearchRequest& e) {
         // The sanitiser replaces all but the last two of n symbols.
         e.places_text = std::u16string(198, u'％') + u"%%";
         e.place_words[0] = e.places_text;
       }},
      {"many words keep the first five",
       Body({{u"aac",
              [] {
                std::u16string words;
                for (int i = 0; i < 20000; ++i) words += u"ab　";
                return words;
              }()}}),
       [](SearchRequest& e) {
         std::u16string cut;
         for (int i = 0; i < 66; ++i) cut += u"ab　";
         cut += u"ab";  // 200 code units
         e.job_type_text = cut;
         e.job_type_words = {u"ab", u"ab", u"ab", u"ab", cut.substr(12)};
       }},
      {"a surrogate pair is not split",
       Body({{u"aac", std::u16string(199, u'a') + u"\U0001F600"}}),
       [](SearchRequest& e) {
         e.job_type_text = e.job_type_words[0] = std::u16string(199, u'a');
       }},
      {"days off", Body({{u"aae", std::u16string(kHuge, u'土')}}),
       [](SearchRequest& e) {
         e.days_off_text = std::u16string(20, u'土');
         e.days[kSaturday] = true;
       }},
      {"numbers, age and times",
       Body({{u"aa6", std::u16string(kHuge, u'1')},
             {u"aa8", u"10" + std::u16string(kHuge, u'0')},
             {u"aab", std::u16string(kHuge, u'２')},
             {u"aaf", std::u16string(kHuge, u'0')},
             {u"aag", u"1730" + std::u16string(kHuge, u' ')}}),
       [](SearchRequest& e) {
         e.registration_number = 11111111111111111111.0;
         e.daily_maximum = 1e19;
         e.age = 22222222222222222222.0;
         e.start_digits = u"000";
         e.start_stamp = u"2000/01/01 0:00:00";
         e.end_digits = u"1730";
         e.end_stamp = u"2000/01/01 17:30:00";
       }},
      {"disability choice", Body({{u"asa", std::u16string(kHuge, u'1')}}),
       [](SearchRequest& e) {
         e.disability_choice = std::u16string(20, u'1');
       }},
      {"address of the longest length", Body({{u"aaa", at_most}}),
       [&](SearchRequest& e) { e.address = at_most; }},
      {"longer address is no address", Body({{u"aaa", at_most + u"x"}}),
       [&](SearchRequest& e) { e.refused_address = at_most; }},
  };
  for (const Case& c : cases) {
    SearchRequest expected = base;
    c.expect(expected);
    std::u16string posted = c.body;
    EXPECT_EQ(Describe(ReadSearchRequest(posted)), Describe(expected))
        << c.what;
  }
}

TEST(ReadSearchRequestTest, BodyWithoutDaysOff) {
  std::u16string posted =
      u"_su=is1&aaa=&aa6=1&aa8=100&aab=&aac=&aad=看護　介護&aaf=830&aag=1730&"
      u"aah=&aai=0&asa=2&zzz=end";
  SearchRequest r = ReadSearchRequest(posted);
  EXPECT_EQ(r.content_text, u"看護　介護");
  EXPECT_EQ(r.content_words[1], u"介護");
  EXPECT_EQ(r.days_off_text, u"");
  EXPECT_EQ(r.days, (std::array<bool, kDayFlagCount>{}));
  EXPECT_EQ(r.start_stamp, u"2000/01/01 8:30:00");
  EXPECT_EQ(r.end_stamp, u"2000/01/01 17:30:00");
  EXPECT_EQ(r.disability_choice, u"2");
}

TEST(ReadSearchRequestTest, BodiesWithoutTheFieldsGiveAnEmptyRequest) {
  for (std::u16string posted :
       {std::u16string(u"hello=world"), std::u16string(u"x"),
        std::u16string(u"ab"), std::u16string(200, u'&')}) {
    EXPECT_EQ(Describe(ReadSearchRequest(posted)), Describe(SearchRequest{}))
        << U8(posted);
  }
}

TEST(ReadSearchRequestTest, FieldsThatCannotBeCutKeepTheirDefaults) {
  // aa8 has no ending name after it: only the address and aa6 are read, and
  // the missing asa leaves the boxes unread although aai is not "0".
  std::u16string posted = u"aaa=a@b.c&aa6=4&aa8=100";
  SearchRequest r = ReadSearchRequest(posted);
  EXPECT_EQ(r.address, u"a@b.c");
  EXPECT_EQ(r.registration_number, 4);
  EXPECT_EQ(r.daily_maximum, std::nullopt);
  EXPECT_EQ(r.age, 0);
  EXPECT_EQ(r.boxes, (std::array<bool, kBoxFlagCount>{}));

  std::u16string no_end = Body({{u"aai", u"0&aga=1"}});
  no_end.resize(no_end.find(u"&asa="));
  SearchRequest boxes = ReadSearchRequest(no_end);
  EXPECT_EQ(boxes.boxes, (std::array<bool, kBoxFlagCount>{}));
}

TEST(TakeFieldTest, Cuts) {
  struct Case {
    std::u16string posted;
    std::u16string name, end;
    bool fails;
    std::u16string value;
    std::u16string rest;
  } cases[] = {
      {u"_su=is1&aaa=x@y.z&aa6=1", u"aaa", u"aa6=", false, u"x@y.z",
       u"x@y.z&aa6=1"},
      {u"AAA=v&AA6=", u"aaa", u"aa6=", false, u"v", u"v&AA6="},
      {u"xyz12&aa6=", u"aaa", u"aa6=", false, u"12", u"12&aa6="},
      {u"aaa=&aa6=", u"aaa", u"aa6=", false, u"", u"&aa6="},
      {u"aaa=a=b&c&aa6=", u"aaa", u"aa6=", false, u"a=b&c", u"a=b&c&aa6="},
      {u"ab", u"aaa", u"aa6=", true, u"", u"ab"},
      {u"abc", u"aaa", u"aa6=", true, u"", u""},
      {u"aaa=1&aa8=", u"aaa", u"aa6=", true, u"", u"1&aa8="},
      {u"aaa=aa6=", u"aaa", u"aa6=", true, u"", u"aa6="},
  };
  for (const Case& c : cases) {
    std::u16string posted = c.posted;
    if (c.fails) {
      EXPECT_THROW(TakeField(posted, c.name, c.end), Failure) << U8(c.posted);
    } else {
      EXPECT_EQ(TakeField(posted, c.name, c.end), c.value) << U8(c.posted);
    }
    EXPECT_EQ(posted, c.rest) << U8(c.posted);
  }
}

TEST(SplitWordsTest, Splits) {
  struct Case {
    std::u16string text;
    size_t count;
    std::vector<std::u16string> words;
  } cases[] = {
      {u"", 3, {u"", u"", u""}},
      {u"事務", 5, {u"事務", u"", u"", u"", u""}},
      {u"　　事務　　経理", 3, {u"事務", u"経理", u""}},
      {u"a　b　c　d", 3, {u"a", u"b", u"c　d"}},
      {u"a　b　　　c", 3, {u"a", u"b", u"　　c"}},
      {u"a b", 2, {u"a b", u""}},
      {u"　　　", 3, {u"", u"", u""}},
      {u"a　", 3, {u"a", u"", u""}},
      {u"　a", 1, {u"　a"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitWords(c.text, c.count), c.words) << U8(c.text);
  }
}

// The time checks as a plain loop, step by step, for whole-number texts.
std::optional<std::u16string> ClockByTheSteps(std::u16string v) {
  for (;;) {
    if (v.size() < 3) return std::nullopt;
    double r = NumericValue(v.substr(v.size() - 2));
    double n = NumericValue(v);
    if (r > 60) return std::nullopt;
    if (n == 0) {
      if (v[0] == u'0') return u"000";
      return std::nullopt;
    }
    if (n < 60 && v[0] == u'0' && r > 0) return v;
    if (n > 100 && n < 2400) return FormatNumber(n);
    if (n > 2399) {
      n -= 2400;
      if (n < 10) return u"00" + FormatNumber(n);
      if (n < 60) return u"0" + FormatNumber(n);
      v = FormatNumber(n);
      continue;
    }
    return std::nullopt;
  }
}

TEST(NormaliseClockTest, Cases) {
  struct Case {
    std::u16string in;
    std::optional<std::u16string> out;
  } cases[] = {
      {u"830", u"830"},
      {u"0830", u"830"},
      {u"1730", u"1730"},
      {u"2530", u"130"},
      {u"2400", u"000"},
      {u"2405", u"005"},
      {u"2430", u"030"},
      {u"030", u"030"},
      {u"0030", u"0030"},
      {u"005", u"005"},
      {u"000", u"000"},
      {u"0ab", u"000"},
      {u"101", u"101"},
      {u"860", u"860"},
      {u" 830", u"830"},
      {u"1e3", u"1000"},
      {u"4930", u"130"},
      {u"100000000002530", u"1730"},
      {u"100", std::nullopt},
      {u"060", std::nullopt},
      {u"075", std::nullopt},
      {u"0", std::nullopt},
      {u"00", std::nullopt},
      {u"", std::nullopt},
      {u"2460", std::nullopt},
      {u"2399", std::nullopt},
      {u"abc", std::nullopt},
      {u"-830", std::nullopt},
      // Texts that pass the checks with other characters than digits.
      {u"01'05", std::nullopt},
      {u"0.5x", std::nullopt},
      {u"01 5", std::nullopt},
      {u"830.5", std::nullopt},
      {u"2530.5", std::nullopt},
      {u"2405.5", std::nullopt},
      // Large values are refused at once instead of being counted down.
      {u"99999999999999999999", std::nullopt},
      {u"1e300", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NormaliseClock(c.in), c.out) << U8(c.in);
  }
}

TEST(NormaliseClockTest, AgreesWithTheStepsForEveryShortNumber) {
  for (int width = 3; width <= 5; ++width) {
    for (int n = 0; n < 100000; ++n) {
      std::u16string digits = Digits(n);
      if (static_cast<int>(digits.size()) > width) break;
      std::u16string v(width - digits.size(), u'0');
      v += digits;
      ASSERT_EQ(NormaliseClock(v), ClockByTheSteps(v)) << U8(v);
    }
  }
}

TEST(ClockStampTest, Stamps) {
  struct Case {
    std::u16string digits, stamp;
  } cases[] = {
      {u"830", u"2000/01/01 8:30:00"},
      {u"1730", u"2000/01/01 17:30:00"},
      {u"0030", u"2000/01/01 00:30:00"},
      {u"000", u"2000/01/01 0:00:00"},
      {u"1760", u"2000/01/01 18:00:00"},
      {u"960", u"2000/01/01 10:00:00"},
      {u"2360", u"2000/01/02"},
      {u"00030", u""},
      {u"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClockStamp(c.digits), c.stamp) << U8(c.digits);
  }
}

TEST(MoveEndPastMidnightTest, Moves) {
  struct Case {
    std::u16string start, end, moved;
  } cases[] = {
      {u"2000/01/01 22:00:00", u"2000/01/01 5:00:00", u"2000/01/02 5:00:00"},
      {u"2000/01/01 9:00:00", u"2000/01/01 9:00:00", u"2000/01/01 9:00:00"},
      {u"2000/01/01 8:30:00", u"2000/01/01 17:30:00", u"2000/01/01 17:30:00"},
      {u"2000/01/01 00:30:00", u"2000/01/01 0:00:00", u"2000/01/02"},
      {u"", u"2000/01/01 5:00:00", u"2000/01/01 5:00:00"},
      {u"2000/01/01 22:00:00", u"", u""},
      {u"2000/01/01 22:60:00", u"2000/01/01 5:00:00", u"2000/01/01 5:00:00"},
  };
  for (const Case& c : cases) {
    std::u16string end = c.end;
    MoveEndPastMidnight(c.start, end);
    EXPECT_EQ(end, c.moved) << U8(c.start) << " " << U8(c.end);
  }
}

}  // namespace
}  // namespace qlok
