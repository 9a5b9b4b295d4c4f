#include "registrations/token_seal.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/failure.h"

namespace qlok {
namespace {

constexpr char kKey[] =
    "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
constexpr char kToken[] = "0123456789abcdef0123456789abcdef";

TEST(TokenSealTest, SealedTokensComeBackOnlyUnderTheirKeyAndRegistration) {
  const std::string sealed = SealToken(kKey, u"taro@example.jp", 1, kToken);
  EXPECT_EQ(sealed.size(), 32u);
  EXPECT_NE(sealed, kToken);
  EXPECT_EQ(UnsealToken(kKey, u"taro@example.jp", 1, sealed), kToken);
  // Another key, address or number gives another token: the seal alone
  // tells nothing.
  std::string other_key = kKey;
  other_key[0] = '1';
  EXPECT_NE(UnsealToken(other_key, u"taro@example.jp", 1, sealed), kToken);
  EXPECT_NE(UnsealToken(kKey, u"jiro@example.jp", 1, sealed), kToken);
  EXPECT_NE(UnsealToken(kKey, u"taro@example.jp", 2, sealed), kToken);
  // Each registration's pad is its own: one token sealed for five numbers
  // gives five seals.
  std::set<std::string> seals;
  for (int number = 1; number <= 5; ++number) {
    seals.insert(SealToken(kKey, u"taro@example.jp", number, kToken));
  }
  EXPECT_EQ(seals.size(), 5u);
}

TEST(TokenSealTest, HashesAndKeysHaveTheirForm) {
  EXPECT_EQ(TokenHash(kToken).size(), 64u);
  EXPECT_NE(TokenHash(kToken), TokenHash("0123456789abcdef0123456789abcdee"));
  EXPECT_TRUE(IsTokenKey(kKey));
  for (const char* bad : {"", "0011", "00112233445566778899aabbccddeeff",
                          "G0112233445566778899aabbccddeeff00112233445566778899"
                          "aabbccddeeff"}) {
    EXPECT_FALSE(IsTokenKey(bad)) << bad;
  }
  for (const char* bad : {"", "0123", "0123456789ABCDEF0123456789abcdef"}) {
    EXPECT_THROW(SealToken(kKey, u"a@b.jp", 1, bad), Failure) << bad;
  }
}

}  // namespace
}  // namespace qlok
