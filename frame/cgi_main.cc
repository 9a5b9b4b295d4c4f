#include "frame/cgi_main.h"

#include <string>

#include "frame/error_page.h"
#include "frame/page_shell.h"
#include "platform/code_page.h"
#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

int32_t ParseContentLength(std::string_view text) {
  std::string_view number = TrimBlanks(text);
  if (number.empty()) return 0;
  auto refuse = [&text](const char* why) {
    return Failure("CONTENT_LENGTH \"" + std::string(text.substr(0, 40)) +
                   "\" " + why);
  };
  bool negative = false;
  if (number.front() == '+' || number.front() == '-') {
    negative = number.front() == '-';
    number.remove_prefix(1);
  }
  if (number.empty()) throw refuse("is not a whole number");
  int64_t value = 0;
  for (char c : number) {
    if (c < '0' || c > '9') throw refuse("is not a whole number");
    value = value * 10 + (c - '0');
    if (value > int64_t{1} << 31) throw refuse("is out of range");
  }
  if (negative) {
    // Zero or below: no body.
    return value == int64_t{1} << 31 ? INT32_MIN : -static_cast<int32_t>(value);
  }
  if (value > kMaxContentLength) {
    throw refuse("is above the largest form body accepted");
  }
  return static_cast<int32_t>(value);
}

std::u16string ReadPostBody(ByteSource& input, int32_t length) {
  if (length <= 0) return u"";
  std::string bytes(static_cast<size_t>(length), '\0');
  size_t have = 0;
  while (have < bytes.size()) {
    size_t got = input.Read(bytes.data() + have, bytes.size() - have);
    if (got == 0) break;
    have += got;
  }
  std::u16string text(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    text[i] = b < 0x80 ? static_cast<char16_t>(b) : u'.';
  }
  return text;
}

void WriteResponse(ByteSink& output, std::u16string_view response) {
  std::string bytes = ToAnsi(response);
  bytes.append(2, '\0');
  output.Write(bytes);
}

bool TakeRequest(CgiProcess& process, RequestFields& fields, ErrorTrap& trap,
                 const std::function<SiteConfig()>& load_site,
                 SiteConfig& site) {
  fields.QueryString = U16(process.environment("QUERY_STRING"));
  fields.HttpCookie = U16(process.environment("HTTP_COOKIE"));
  fields.HttpReferer = U16(process.environment("HTTP_REFERER"));
  std::string length = process.environment("CONTENT_LENGTH");
  fields.ResponseHeader = u"Content-type: text/html\r\n";
  fields.PageBuffer.clear();
  return trap.Run(fields, [&] {
    fields.ContentLength = ParseContentLength(length);
    if (fields.ContentLength > 0) {
      fields.ContentType = U16(process.environment("CONTENT_TYPE"));
      fields.PostedString = ReadPostBody(process.input, fields.ContentLength);
    }
    site = load_site();
  });
}

void WriteFields(CgiProcess& process, const RequestFields& fields) {
  std::u16string response = fields.ResponseHeader;
  response += u"\r\n";
  response += fields.PageBuffer;
  response += u"\r\n";
  WriteResponse(process.output, response);
}

void CgiMain(CgiProcess& process, const std::function<SiteConfig()>& load_site,
             const RequestHandler& handler,
             const std::u16string* added_headers) {
  RequestFields fields;
  ErrorTrap trap(process.clock, process.errors);
  SiteConfig site;
  if (TakeRequest(process, fields, trap, load_site, site)) {
    const RequestHandler with_headers = [&](std::u16string& posted,
                                            const SiteConfig& site) {
      PageBody body = handler(posted, site);
      if (added_headers != nullptr) fields.ResponseHeader += *added_headers;
      return body;
    };
    BuildPage(fields, site, with_headers, trap);
  }
  WriteFields(process, fields);
}

}  // namespace qlok
