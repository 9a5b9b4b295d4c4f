#include "limits/counted_keys.h"

#include <gtest/gtest.h>

#include "text/unicode.h"

namespace qlok {
namespace {

TEST(CountedAddressTest, SpellingsOfOneMailboxCountAsOne) {
  const struct {
    const char16_t* typed;
    const char16_t* counted;
  } cases[] = {
      {u"taro@example.jp", u"taro@example.jp"},
      {u"Taro@Example.JP", u"taro@example.jp"},
      {u"TARO@EXAMPLE.JP", u"taro@example.jp"},
      {u"  taro@example.jp\t", u"taro@example.jp"},
      // Only A to Z: full-width letters and other scripts keep theirs.
      {u"Ｔaro@example.jp", u"Ｔaro@example.jp"},
      {u"tarÖ@example.jp", u"tarÖ@example.jp"},
      {u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CountedAddress(c.typed), c.counted) << U8(c.typed);
  }
}

TEST(CountedClientTest, Ipv6CountsByItsNetwork) {
  const struct {
    const char* remote;
    const char* counted;
  } cases[] = {
      {"192.0.2.7", "192.0.2.7"},
      {" 192.0.2.7 ", "192.0.2.7"},
      {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
      {"2001:0DB8:0001:0002:ffff:0:0:1", "2001:db8:1:2::/64"},
      {"2001:db8:1:2::99", "2001:db8:1:2::/64"},
      {"2001:db8::1", "2001:db8:0:0::/64"},
      {"::1", "0:0:0:0::/64"},
      {"::ffff:192.0.2.7", "192.0.2.7"},
      {"", ""},
      {"not an address", "not an address"},
      {"2001:db8::zz", "2001:db8::zz"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(U8(CountedClient(c.remote)), c.counted) << c.remote;
  }
  EXPECT_EQ(CountedClient(std::string(300, 'x')).size(), 64u);
}

}  // namespace
}  // namespace qlok
