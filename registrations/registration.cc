#include "registrations/registration.h"

#include <array>

#include "mail/mail_jobs.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// The text fields of the form, in the order it posts them.
constexpr std::array<std::u16string_view, 10> kTextFields = {
    u"aaa", u"aa6", u"aa8", u"aab", u"aac",
    u"aad", u"aae", u"aaf", u"aag", u"aah"};

// The value of `name` in the record's lines; nullopt when it has none.
std::optional<std::u16string_view> RecordValue(std::u16string_view settings,
                                               std::u16string_view name) {
  size_t begin = 0;
  while (begin <= settings.size()) {
    size_t end = settings.find(u"\r\n", begin);
    if (end == std::u16string_view::npos) end = settings.size();
    const std::u16string_view line = settings.substr(begin, end - begin);
    if (line.size() > name.size() && line.substr(0, name.size()) == name &&
        line[name.size()] == u'=') {
      return line.substr(name.size() + 1);
    }
    begin = end + 2;
  }
  return std::nullopt;
}

bool IsPrintableAscii(std::string_view text) {
  for (char c : text) {
    if (c < 0x21 || c > 0x7e) return false;
  }
  return true;
}

// `url` with every byte that is no printable ASCII (and "<", ">", which
// would end the field's bracket) percent-encoded.
std::string HeaderUrl(const std::u16string& url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : U8(url)) {
    if (c > 0x20 && c < 0x7f && c != '<' && c != '>') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

std::optional<int> RegistrationNumberOf(const SearchRequest& request) {
  if (!request.registration_number) return std::nullopt;
  const double number = *request.registration_number;
  for (int n = 1; n <= 5; ++n) {
    if (number == n) return n;
  }
  return std::nullopt;
}

int DailyMaximumOf(const SearchRequest& request) {
  const int64_t limit = MailJobLimit(request.daily_maximum);
  if (limit == 0 || limit > 100) return 100;
  return static_cast<int>(limit);
}

std::u16string PostedFormOfSettings(std::u16string_view settings) {
  std::u16string form = u"_su=is1";
  for (std::u16string_view name : kTextFields) {
    form += u"&";
    form += name;
    form += u"=";
    form += RecordValue(settings, name).value_or(u"");
  }
  form += u"&aai=0";
  for (std::u16string_view box : kBoxNames) {
    if (RecordValue(settings, box) == u"1") {
      form += u"&";
      form += box;
      form += u"=1";
    }
  }
  form += u"&asa=";
  form += RecordValue(settings, u"asa").value_or(u"");
  form += u"&zzz=end";
  return form;
}

SearchRequest RequestOfSettings(std::u16string_view settings) {
  std::u16string posted = PostedFormOfSettings(settings);
  return ReadSearchRequest(posted);
}

std::u16string ManageLink(const SiteConfig& site, std::string_view token) {
  const bool has_query = site.manage_url.find(u'?') != std::u16string::npos;
  return site.manage_url + (has_query ? u"&" : u"?") + U16(kTokenParameter) +
         u"=" + U16(token);
}

MailHeaders MatchMailHeaders(const SiteConfig& site, std::string_view token) {
  MailHeaders headers;
  if (!token.empty()) {
    std::string value = "<" + HeaderUrl(ManageLink(site, token)) + ">";
    const std::string sender = U8(site.sender_addresses[0]);
    if (!sender.empty() && IsPrintableAscii(sender)) {
      value += ", <mailto:" + sender + ">";
    }
    headers.emplace_back("List-Unsubscribe", value);
    headers.emplace_back("List-Unsubscribe-Post", "List-Unsubscribe=One-Click");
  }
  headers.emplace_back("Auto-Submitted", "auto-generated");
  return headers;
}

}  // namespace qlok
