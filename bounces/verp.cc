#include "bounces/verp.h"

#include <algorithm>

#include "platform/random_token.h"
#include "text/unicode.h"

namespace qlok {
namespace {

struct Parts {
  std::string local;
  std::string domain;
};

std::optional<Parts> SplitBounceAddress(std::u16string_view bounce_address) {
  for (char16_t c : bounce_address) {
    if (c <= u' ' || c >= 0x7F || c == u'<' || c == u'>' || c == u'"') {
      return std::nullopt;
    }
  }
  const std::string address = U8(bounce_address);
  const size_t at = address.find('@');
  if (at == 0 || at == std::string::npos || at + 1 == address.size() ||
      address.find('@', at + 1) != std::string::npos) {
    return std::nullopt;
  }
  return Parts{address.substr(0, at), address.substr(at + 1)};
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return text;
}

}  // namespace

std::string VerpAddress(std::u16string_view bounce_address,
                        std::string_view token) {
  const std::optional<Parts> parts = SplitBounceAddress(bounce_address);
  if (!parts || !IsTokenText(token)) return "";
  return parts->local + "+" + std::string(token) + "@" + parts->domain;
}

std::optional<std::string> TokenOfVerpAddress(
    std::u16string_view bounce_address, std::string_view address) {
  const std::optional<Parts> parts = SplitBounceAddress(bounce_address);
  if (!parts) return std::nullopt;
  const size_t at = address.rfind('@');
  if (at == std::string_view::npos) return std::nullopt;
  if (Lower(std::string(address.substr(at + 1))) != Lower(parts->domain)) {
    return std::nullopt;
  }
  const std::string_view local = address.substr(0, at);
  const std::string prefix = parts->local + "+";
  if (local.substr(0, prefix.size()) != prefix) return std::nullopt;
  const std::string token = Lower(std::string(local.substr(prefix.size())));
  if (!IsTokenText(token)) return std::nullopt;
  return token;
}

}  // namespace qlok
