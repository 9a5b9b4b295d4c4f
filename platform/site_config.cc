// site.conf through libinih. The file is read whole and fed to the parser
// line by line, so that this file knows which physical line the parser is
// on: that makes continuation lines joinable and overlong lines reportable
// (the library's line buffer holds 199 bytes and would otherwise split a
// longer line silently into two).
#include "platform/site_config.h"

#include <ini.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string_view>

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using Setter = std::function<std::u16string&(SiteConfig&)>;

// Every section and key of the file and the field it sets.
const std::map<std::pair<std::string, std::string>, Setter>& Keys() {
  static const auto* keys = [] {
    auto* map = new std::map<std::pair<std::string, std::string>, Setter>{
        {{"site", "top_url"}, [](SiteConfig & c) -> auto& {return c.top_url;
  }
}
, {{"site", "map_base"}, [](SiteConfig& c) -> auto& {return c.map_base;
}
}
, {{"employment_service", "page_url"},
   [](SiteConfig& c) -> auto& {return c.service_page_url;
}
}
, {{"employment_service", "mail_url"},
   [](SiteConfig& c) -> auto& {return c.service_mail_url;
}
}
, {{"smtp", "first_relay"}, [](SiteConfig& c) -> auto& {return c.first_relay;
}
}
, {{"smtp", "second_relay"}, [](SiteConfig& c) -> auto& {return c.second_relay;
}
}
,
}
;
for (int i = 0; i < 3; ++i) {
  std::string ad = "ad" + std::to_string(i + 1);
  (*map)[{ad, "link"}] = [i](SiteConfig & c) -> auto& { return c.ads[i].link; };
  (*map)[{ad, "text"}] = [i](SiteConfig & c) -> auto& { return c.ads[i].text; };
  (*map)[{ad, "tracking_image"}] = [i](SiteConfig & c) -> auto& {
    return c.ads[i].tracking_image;
  };
  (*map)[{ad, "banner_image"}] = [i](SiteConfig & c) -> auto& {
    return c.ads[i].banner_image;
  };
  (*map)[{ad, "banner_tracking"}] = [i](SiteConfig & c) -> auto& {
    return c.ads[i].banner_tracking;
  };
  (*map)[{"senders", "account" + std::to_string(i + 1)}] = [i](SiteConfig &
                                                               c) -> auto& {
    return c.sender_addresses[i];
  };
}
return map;
}
();
return *keys;
}

// The keys that hold port numbers.
const std::map<std::pair<std::string, std::string>, int SiteConfig::*>&
PortKeys() {
  static const auto* keys =
      new std::map<std::pair<std::string, std::string>, int SiteConfig::*>{
          {{"smtp", "submission_port"}, &SiteConfig::submission_port},
          {{"smtp", "relay_port"}, &SiteConfig::relay_port},
      };
  return *keys;
}

// A port: decimal digits only, 1 to 65535; 0 for anything else.
int PortNumber(std::string_view value) {
  if (value.empty() || value.size() > 5) return 0;
  int port = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return 0;
    port = port * 10 + (c - '0');
  }
  return port <= 65535 ? port : 0;
}

// The state of one parse: the text, the reader's position, and what the
// handler needs to know about the line the parser is on.
struct Parse {
  std::string_view text;
  size_t position = 0;
  int line_number = 0;
  bool line_is_continuation = false;
  int overlong_line = 0;  // the first line too long for the parser, or 0
  int max_line = 0;       // the parser's line buffer, terminator included
  int bad_port_line = 0;  // the first line with an unusable port, or 0
  std::string bad_port_key;
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

int HandleValue(void* user, const char* section, const char* name,
                const char* value) {
  Parse& parse = *static_cast<Parse*>(user);
  auto port = PortKeys().find({section, name});
  if (port != PortKeys().end()) {
    // A port is one short value: a continuation line makes it unusable.
    bool continues = parse.line_is_continuation &&
                     parse.last_section == section && parse.last_key == name;
    int number = continues ? 0 : PortNumber(value);
    if (number == 0 && parse.bad_port_line == 0) {
      parse.bad_port_line = parse.line_number;
      parse.bad_port_key = name;
    }
    if (number != 0) parse.config.*(port->second) = number;
    parse.last_section = section;
    parse.last_key = name;
    return 1;
  }
  auto it = Keys().find({section, name});
  if (it == Keys().end()) return 1;  // a key of no use here is left alone
  std::u16string& field = it->second(parse.config);
  bool continues = parse.line_is_continuation &&
                   parse.last_section == section && parse.last_key == name;
  if (continues) {
    field += U16(value);
  } else {
    field = U16(value);
  }
  parse.last_section = section;
  parse.last_key = name;
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
  return c;
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
  if (parse.bad_port_line > 0) {
    throw Failure(path + ": line " + std::to_string(parse.bad_port_line) +
                  ": " + parse.bad_port_key +
                  " must be a port number from 1 to 65535");
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
