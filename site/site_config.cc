// site.conf through libinih. The file is read whole and fed to the parser
// line by line, so that this file knows which physical line the parser is
// on: that makes continuation lines joinable and overlong lines reportable
// (the library's line buffer holds 199 bytes and would otherwise split a
// longer line silently into two).
#include "site/site_config.h"

#include <ini.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using SectionKey = std::pair<std::string, std::string>;

// A key whose value is a text; continuation lines add to it.
using TextField = std::function<std::u16string&(SiteConfig&)>;

// A key whose value is a whole number within a range.
struct NumberKey {
  int SiteConfig::*field;
  int min;
  int max;
  const char* what;  // for the error: "must be <what>"
};

// A key whose value is one of a few words.
struct ChoiceKey {
  int SiteConfig::*field;
  std::vector<std::pair<std::string, int>> words;
};

// Every text key of the file and the field it sets.
const std::map<SectionKey, TextField>& TextKeys() {
  static const auto* keys = [] {
    auto* map = new std::map<SectionKey, TextField>;
    auto add = [map](const char* section, const char* key,
                     std::u16string SiteConfig::*field) {
      (*map)[{section, key}] = [field](SiteConfig& c) -> std::u16string& {
        return c.*field;
      };
    };
    add("site", "top_url", &SiteConfig::top_url);
    add("site", "map_base", &SiteConfig::map_base);
    add("employment_service", "page_url", &SiteConfig::service_page_url);
    add("employment_service", "mail_url", &SiteConfig::service_mail_url);
    add("smtp", "first_relay", &SiteConfig::first_relay);
    add("smtp", "second_relay", &SiteConfig::second_relay);
    add("manage", "page_url", &SiteConfig::manage_url);
    add("site", "operator_name", &SiteConfig::operator_name);
    add("site", "operator_address", &SiteConfig::operator_address);
    add("site", "operator_contact", &SiteConfig::operator_contact);
    add("mail", "bounce_address", &SiteConfig::bounce_address);
    static constexpr std::u16string Advertisement::*kAdFields[] = {
        &Advertisement::link, &Advertisement::text,
        &Advertisement::tracking_image, &Advertisement::banner_image,
        &Advertisement::banner_tracking};
    static constexpr const char* kAdKeys[] = {
        "link", "text", "tracking_image", "banner_image", "banner_tracking"};
    for (int i = 0; i < 3; ++i) {
      const std::string ad = "ad" + std::to_string(i + 1);
      for (size_t k = 0; k < std::size(kAdKeys); ++k) {
        (*map)[{ad, kAdKeys[k]}] = [i, k](SiteConfig& c) -> std::u16string& {
          return c.ads[i].*kAdFields[k];
        };
      }
      (*map)[{"senders", "account" + std::to_string(i + 1)}] =
          [i](SiteConfig& c) -> std::u16string& {
        return c.sender_addresses[i];
      };
    }
    return map;
  }();
  return *keys;
}

const std::map<SectionKey, NumberKey>& NumberKeys() {
  static constexpr char kPort[] = "a port number from 1 to 65535";
  static const auto* keys = new std::map<SectionKey, NumberKey>{
      {{"smtp", "submission_port"},
       {&SiteConfig::submission_port, 1, 65535, kPort}},
      {{"smtp", "relay_port"}, {&SiteConfig::relay_port, 1, 65535, kPort}},
      {{"smtp", "connect_timeout"},
       {&SiteConfig::smtp_connect_timeout, 1, 3600,
        "a number of seconds from 1 to 3600"}},
      {{"smtp", "attempt_timeout"},
       {&SiteConfig::smtp_attempt_timeout, 1, 3600,
        "a number of seconds from 1 to 3600"}},
      {{"request", "time_limit"},
       {&SiteConfig::request_time_limit, 1, 3600,
        "a number of seconds from 1 to 3600"}},
      {{"database", "connect_timeout"},
       {&SiteConfig::database_connect_timeout, 1, 3600,
        "a number of seconds from 1 to 3600"}},
      {{"database", "statement_timeout"},
       {&SiteConfig::database_statement_timeout, 1, 3600,
        "a number of seconds from 1 to 3600"}},
      {{"manage", "lookups_per_day"},
       {&SiteConfig::manage_lookups_per_day, 1, 1000,
        "a whole number from 1 to 1000"}},
      {{"notify", "give_up_after"},
       {&SiteConfig::notify_give_up_after, 1, 1000,
        "a whole number from 1 to 1000"}},
      {{"notify", "time_limit"},
       {&SiteConfig::notify_time_limit, 60, 86400,
        "a number of seconds from 60 to 86400"}},
      {{"registration", "confirm_days"},
       {&SiteConfig::confirm_days, 1, 365, "a number of days from 1 to 365"}},
      {{"registration", "keep_stopped_days"},
       {&SiteConfig::keep_stopped_days, 1, 3650,
        "a number of days from 1 to 3650"}},
      {{"registration", "mails_per_address_per_day"},
       {&SiteConfig::mails_per_address_per_day, 1, 1000,
        "a whole number from 1 to 1000"}},
      {{"registration", "per_client_per_hour"},
       {&SiteConfig::per_client_per_hour, 1, 100000,
        "a whole number from 1 to 100000"}},
      {{"mail", "bounces_to_stop"},
       {&SiteConfig::bounces_to_stop, 1, 100, "a whole number from 1 to 100"}},
  };
  return *keys;
}

const std::map<SectionKey, ChoiceKey>& ChoiceKeys() {
  static const auto* keys = new std::map<SectionKey, ChoiceKey>{
      {{"smtp", "tls"},
       {&SiteConfig::smtp_tls,
        {{"required", SiteConfig::kTlsRequired},
         {"opportunistic", SiteConfig::kTlsOpportunistic}}}},
      {{"registration", "confirmation"},
       {&SiteConfig::confirmation,
        {{"required", SiteConfig::kConfirmationRequired},
         {"none", SiteConfig::kConfirmationNone}}}},
  };
  return *keys;
}

// Decimal digits only, no sign, within [min, max]; nullopt for anything else.
std::optional<int> WholeNumber(std::string_view value, int min, int max) {
  if (value.empty() || value.size() > 9) return std::nullopt;
  int number = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  if (number < min || number > max) return std::nullopt;
  return number;
}

// The state of one parse: the text, the reader's position, and what the
// handler needs to know about the line the parser is on.
struct Parse {
  std::string_view text;
  size_t position = 0;
  int line_number = 0;
  bool line_is_continuation = false;
  int overlong_line = 0;   // the first line too long for the parser, or 0
  int max_line = 0;        // the parser's line buffer, terminator included
  int bad_value_line = 0;  // the first line with an unusable value, or 0
  std::string bad_value_error;
  std::string last_section;
  std::string last_key;
  SiteConfig config = SiteConfig::Defaults();
};

// Hands the parser the next physical line, without its line end.
char* ReadLine(char* buffer, int size, void* stream) {
  Parse& parse = *static_cast<Parse*>(stream);
  if (parse.position >= parse.text.size()) return nullptr;
  size_t end = parse.text.find('\n', parse.position);
  if (end == std::string_view::npos) end = parse.text.size();
  std::string_view line =
      parse.text.substr(parse.position, end - parse.position);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  parse.position = end + 1;
  ++parse.line_number;
  parse.max_line = size;
  if (line.size() + 1 > static_cast<size_t>(size)) {
    parse.overlong_line = parse.line_number;
    return nullptr;  // ends the parse; LoadSiteConfig reports the line
  }
  std::memcpy(buffer, line.data(), line.size());
  buffer[line.size()] = '\0';
  parse.line_is_continuation =
      !line.empty() && (line.front() == ' ' || line.front() == '\t');
  return buffer;
}

void BadValue(Parse& parse, const std::string& error) {
  if (parse.bad_value_line != 0) return;
  parse.bad_value_line = parse.line_number;
  parse.bad_value_error = error;
}

int HandleValue(void* user, const char* section, const char* name,
                const char* value) {
  Parse& parse = *static_cast<Parse*>(user);
  const SectionKey key{section, name};
  // libinih hands a continuation line to the handler as the same key again.
  const bool continues = parse.line_is_continuation &&
                         parse.last_section == section &&
                         parse.last_key == name;
  parse.last_section = section;
  parse.last_key = name;

  if (auto text = TextKeys().find(key); text != TextKeys().end()) {
    std::u16string& field = text->second(parse.config);
    if (continues) {
      field += U16(value);
    } else {
      field = U16(value);
    }
    return 1;
  }
  // A number or a word is one short value: a continuation line makes it
  // unusable.
  if (auto number = NumberKeys().find(key); number != NumberKeys().end()) {
    const NumberKey& known = number->second;
    std::optional<int> parsed =
        continues ? std::nullopt : WholeNumber(value, known.min, known.max);
    if (parsed) {
      parse.config.*known.field = *parsed;
    } else {
      BadValue(parse, std::string(name) + " must be " + known.what);
    }
    return 1;
  }
  if (auto choice = ChoiceKeys().find(key); choice != ChoiceKeys().end()) {
    const ChoiceKey& known = choice->second;
    std::string allowed;
    for (const auto& [word, number] : known.words) {
      if (!continues && word == value) {
        parse.config.*known.field = number;
        return 1;
      }
      allowed += (allowed.empty() ? "" : " or ") + word;
    }
    BadValue(parse, std::string(name) + " must be " + allowed);
    return 1;
  }
  // A key of no use to the programs is left alone, but noted, so that an
  // operator's check can point at a misspelt one.
  if (!continues) {
    parse.config.unknown_keys.push_back("line " +
                                        std::to_string(parse.line_number) +
                                        ": [" + section + "] " + name);
  }
  return 1;
}

}  // namespace

SiteConfig SiteConfig::Defaults() {
  SiteConfig c;
  c.top_url = u"https://www.example.jp/";
  c.map_base = u"https://www.example.jp";
  c.service_page_url = u"https://www.hellowork.mhlw.go.jp/";
  c.service_mail_url = u"http://www.hellowork.mhlw.go.jp/";
  static constexpr const char16_t* kBanners[3] = {u"468x60", u"728x90",
                                                  u"320x50"};
  for (int i = 0; i < 3; ++i) {
    std::u16string base = u"https://ads.example.jp/" + Digits(i + 1) + u"/";
    Advertisement& ad = c.ads[i];
    ad.link = base + u"click";
    ad.text = u"広告" + Digits(i + 1) + u"のご案内";
    ad.tracking_image = base + u"text.gif";
    ad.banner_image = base + u"banner" + kBanners[i] + u".png";
    ad.banner_tracking = base + u"banner.gif";
  }
  c.first_relay = u"smtp.example.jp";
  c.second_relay = u"smtp2.example.jp";
  c.sender_addresses = {u"info@example.jp", u"info2@example.jp",
                        u"info3@example.jp"};
  c.manage_url = u"https://www.example.jp/q/q_lok-manage.cgi";
  return c;
}

bool IsKnownSiteConfigKey(const std::string& section, const std::string& key) {
  const SectionKey k{section, key};
  return TextKeys().count(k) || NumberKeys().count(k) || ChoiceKeys().count(k);
}

SiteConfig LoadSiteConfig(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    if (errno == ENOENT) return SiteConfig::Defaults();
    throw Failure(path + ": cannot be opened: " + std::strerror(errno));
  }
  std::string text;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    text.append(chunk, got);
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) throw Failure(path + ": cannot be read");

  Parse parse;
  parse.text = text;
  int error = ini_parse_stream(&ReadLine, &parse, &HandleValue, &parse);
  if (error > 0) {
    throw Failure(path + ": line " + std::to_string(error) +
                  " is neither a [section], a key = value nor a comment");
  }
  if (error < 0) throw Failure(path + ": the parser ran out of memory");
  if (parse.bad_value_line > 0) {
    throw Failure(path + ": line " + std::to_string(parse.bad_value_line) +
                  ": " + parse.bad_value_error);
  }
  if (parse.overlong_line > 0) {
    throw Failure(path + ": line " + std::to_string(parse.overlong_line) +
                  " is longer than " + std::to_string(parse.max_line - 1) +
                  " bytes; continue a long value on lines that begin with "
                  "a blank");
  }
  return parse.config;
}

}  // namespace qlok
