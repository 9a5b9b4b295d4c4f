#include "limits/counted_keys.h"

#include <arpa/inet.h>

#include <array>
#include <cstdio>

#include "text/unicode.h"

namespace qlok {
namespace {

constexpr size_t kLongestClient = 64;

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

std::u16string CountedAddress(std::u16string_view address) {
  while (!address.empty() &&
         (address.front() == u' ' || address.front() == u'\t')) {
    address.remove_prefix(1);
  }
  while (!address.empty() &&
         (address.back() == u' ' || address.back() == u'\t')) {
    address.remove_suffix(1);
  }
  std::u16string counted(address);
  for (char16_t& c : counted) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return counted;
}

std::u16string CountedClient(std::string_view remote_address) {
  const std::string text(TrimBlanks(remote_address));
  std::array<unsigned char, 16> v6{};
  // inet_pton reads only the plain forms: no zone ("%eth0"), no brackets.
  if (text.find(':') != std::string::npos &&
      inet_pton(AF_INET6, text.c_str(), v6.data()) == 1) {
    static constexpr unsigned char kMapped[12] = {0, 0, 0, 0, 0,    0,
                                                  0, 0, 0, 0, 0xff, 0xff};
    if (std::equal(std::begin(kMapped), std::end(kMapped), v6.begin())) {
      char four[16];
      std::snprintf(four, sizeof four, "%u.%u.%u.%u", v6[12], v6[13], v6[14],
                    v6[15]);
      return U16(four);
    }
    char network[48];
    std::snprintf(network, sizeof network, "%x:%x:%x:%x::/64",
                  (v6[0] << 8) | v6[1], (v6[2] << 8) | v6[3],
                  (v6[4] << 8) | v6[5], (v6[6] << 8) | v6[7]);
    return U16(network);
  }
  return U16(text.substr(0, kLongestClient));
}

}  // namespace qlok
