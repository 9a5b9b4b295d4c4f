#include "bounces/verp.h"

#include <gtest/gtest.h>

namespace qlok {
namespace {

constexpr char kToken[] = "0123456789abcdef0123456789abcdef";

TEST(VerpTest, TagsTheBounceAddressWithTheToken) {
  const struct {
    const char16_t* bounce_address;
    const char* token;
    const char* made;
  } cases[] = {
      {u"bounces@jobs.test", kToken,
       "bounces+0123456789abcdef0123456789abcdef@jobs.test"},
      {u"", kToken, ""},
      {u"bounces@jobs.test", "", ""},
      {u"bounces@jobs.test", "not-a-token", ""},
      {u"no-at-sign", kToken, ""},
      {u"a@b@jobs.test", kToken, ""},
      {u"@jobs.test", kToken, ""},
      {u"bounces@", kToken, ""},
      {u"bo unces@jobs.test", kToken, ""},
      {u"配信@jobs.test", kToken, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VerpAddress(c.bounce_address, c.token), c.made) << c.made;
  }
}

TEST(VerpTest, FindsTheTokenOnlyInItsOwnAddresses) {
  const struct {
    const char* address;
    std::optional<std::string> token;
  } cases[] = {
      {"bounces+0123456789abcdef0123456789abcdef@jobs.test", kToken},
      {"bounces+0123456789ABCDEF0123456789ABCDEF@JOBS.Test", kToken},
      {"bounces@jobs.test", std::nullopt},
      {"bounces+0123@jobs.test", std::nullopt},
      {"other+0123456789abcdef0123456789abcdef@jobs.test", std::nullopt},
      {"bounces+0123456789abcdef0123456789abcdef@other.test", std::nullopt},
      {"Bounces+0123456789abcdef0123456789abcdef@jobs.test", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TokenOfVerpAddress(u"bounces@jobs.test", c.address), c.token)
        << c.address;
  }
  EXPECT_EQ(TokenOfVerpAddress(u"", "bounces+x@jobs.test"), std::nullopt);
}

}  // namespace
}  // namespace qlok
