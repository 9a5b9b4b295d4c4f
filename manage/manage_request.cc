#include "manage/manage_request.h"

#include <optional>

#include "frame/url_decode.h"
#include "platform/failure.h"
#include "platform/random_token.h"
#include "registrations/registration.h"
#include "text/unicode.h"

namespace qlok {
namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\u3000';
}

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char16_t LowerAscii(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool StartsWithIgnoringCase(std::u16string_view text,
                            std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  }
  return true;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && StartsWithIgnoringCase(a, b);
}

// The value of parameter `name` in a header value such as
// `multipart/form-data; boundary="a;b"` or `form-data; name="x"` (a quoted
// value ends at its closing quote); nullopt when it has none.
std::optional<std::u16string> HeaderParameter(std::u16string_view value,
                                              std::u16string_view name) {
  constexpr size_t npos = std::u16string_view::npos;
  size_t at = value.find(u';');
  while (at != npos) {
    const size_t begin = at + 1;
    const size_t equals = value.find(u'=', begin);
    const size_t semicolon = value.find(u';', begin);
    if (equals == npos || (semicolon != npos && semicolon < equals)) {
      at = semicolon;
      continue;
    }
    const std::u16string_view key = Trim(value.substr(begin, equals - begin));
    size_t start = equals + 1;
    while (start < value.size() && IsBlank(value[start])) ++start;
    std::u16string_view found;
    if (start < value.size() && value[start] == u'"') {
      const size_t close = value.find(u'"', start + 1);
      if (close == npos) return std::nullopt;
      found = value.substr(start + 1, close - start - 1);
      at = value.find(u';', close);
    } else {
      at = value.find(u';', start);
      found = Trim(value.substr(start, at == npos ? npos : at - start));
    }
    if (EqualsIgnoringCase(key, name)) return std::u16string(found);
  }
  return std::nullopt;
}

// The token of `text`, or nullopt when it is no token.
std::optional<std::string> TokenOf(std::u16string_view text) {
  std::string token;
  for (char16_t c : text) {
    if (c > 0x7f) return std::nullopt;
    token.push_back(static_cast<char>(LowerAscii(c)));
  }
  if (!IsTokenText(token)) return std::nullopt;
  return token;
}

ManageRequest Asked(ManageRequest::Kind kind) {
  ManageRequest request;
  request.kind = kind;
  return request;
}

// A request about the registration of `token` (nullptr: none was sent).
ManageRequest WithToken(ManageRequest::Kind kind, const std::u16string* token) {
  if (token == nullptr) return Asked(ManageRequest::kBadRequest);
  std::optional<std::string> read = TokenOf(*token);
  if (!read) return Asked(ManageRequest::kMalformedToken);
  ManageRequest request = Asked(kind);
  request.token = *read;
  return request;
}

ManageRequest ReadPost(const CgiRequest& request, const FormFields& query) {
  const FormFields body =
      StartsWithIgnoringCase(Trim(request.content_type), u"multipart/form-data")
          ? MultipartFields(request.body, request.content_type)
          : UrlEncodedFields(request.body);
  const std::u16string token_name = U16(kTokenParameter);
  const std::u16string* token = FieldValue(body, token_name);
  if (token == nullptr) token = FieldValue(query, token_name);
  if (const std::u16string* one_click = FieldValue(body, kOneClickField)) {
    if (*one_click != kOneClickValue) return Asked(ManageRequest::kBadRequest);
    return WithToken(ManageRequest::kOneClick, token);
  }
  if (FieldValue(body, kStopField) != nullptr) {
    return WithToken(ManageRequest::kStop, token);
  }
  if (FieldValue(body, kConfirmField) != nullptr) {
    return WithToken(ManageRequest::kConfirm, token);
  }
  if (const std::u16string* address = FieldValue(body, kAddressField)) {
    ManageRequest lookup = Asked(ManageRequest::kLookup);
    lookup.address = std::u16string(Trim(*address));
    return lookup;
  }
  return Asked(ManageRequest::kBadRequest);
}

}  // namespace

FormFields UrlEncodedFields(std::u16string_view text) {
  FormFields fields;
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find(u'&', begin);
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view pair = text.substr(begin, end - begin);
    if (!pair.empty()) {
      const size_t equals = pair.find(u'=');
      const std::u16string_view name = pair.substr(0, equals);
      const std::u16string_view value = equals == std::u16string_view::npos
                                            ? std::u16string_view()
                                            : pair.substr(equals + 1);
      fields.emplace_back(UrlDecode(name), UrlDecode(value));
    }
    begin = end + 1;
  }
  return fields;
}

FormFields MultipartFields(std::u16string_view body,
                           std::u16string_view content_type) {
  const std::optional<std::u16string> boundary =
      HeaderParameter(content_type, u"boundary");
  if (!boundary || boundary->empty()) {
    throw Failure("multipart body: the content type names no boundary");
  }
  const std::u16string delimiter = u"--" + *boundary;
  FormFields fields;
  size_t at = body.find(delimiter);
  while (at != std::u16string_view::npos) {
    size_t part = at + delimiter.size();
    if (body.substr(part, 2) == u"--") return fields;  // the closing one
    // The rest of the delimiter line (blanks may follow it).
    const size_t line_end = body.find(u'\n', part);
    if (line_end == std::u16string_view::npos) break;
    part = line_end + 1;
    const size_t next = body.find(delimiter, part);
    if (next == std::u16string_view::npos) break;
    // The part ends with the line break in front of the next delimiter.
    std::u16string_view content = body.substr(part, next - part);
    if (content.ends_with(u"\n")) content.remove_suffix(1);
    if (content.ends_with(u"\r")) content.remove_suffix(1);
    // Its header lines end at the first empty line.
    std::u16string_view headers = content;
    std::u16string_view value;
    size_t blank = content.find(u"\r\n\r\n");
    size_t skip = 4;
    const size_t bare = content.find(u"\n\n");
    if (blank == std::u16string_view::npos ||
        (bare != std::u16string_view::npos && bare < blank)) {
      blank = bare;
      skip = 2;
    }
    if (blank != std::u16string_view::npos) {
      headers = content.substr(0, blank);
      value = content.substr(blank + skip);
    }
    size_t line = 0;
    while (line < headers.size()) {
      size_t end = headers.find(u'\n', line);
      if (end == std::u16string_view::npos) end = headers.size();
      const std::u16string_view header = Trim(headers.substr(line, end - line));
      if (StartsWithIgnoringCase(header, u"content-disposition:")) {
        if (std::optional<std::u16string> name =
                HeaderParameter(header, u"name")) {
          fields.emplace_back(*name, std::u16string(value));
        }
      }
      line = end + 1;
    }
    at = next;
  }
  throw Failure("multipart body: no closing delimiter");
}

const std::u16string* FieldValue(const FormFields& fields,
                                 std::u16string_view name) {
  for (const auto& [field, value] : fields) {
    if (field == name) return &value;
  }
  return nullptr;
}

ManageRequest ReadManageRequest(const CgiRequest& request) {
  const bool read = request.method == u"GET" || request.method == u"HEAD";
  if (!read && request.method != u"POST") {
    return Asked(ManageRequest::kMethodNotAllowed);
  }
  try {
    const FormFields query = UrlEncodedFields(request.query);
    if (!read) return ReadPost(request, query);
    const std::u16string* token = FieldValue(query, U16(kTokenParameter));
    if (token == nullptr) return Asked(ManageRequest::kLookupForm);
    return WithToken(ManageRequest::kShow, token);
  } catch (const Failure&) {
    return Asked(ManageRequest::kBadRequest);
  }
}

}  // namespace qlok
