#include "text/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace qlok {
namespace {

std::string Digest(const std::string& text, size_t piece) {
  Sha256 hash;
  for (size_t at = 0; at < text.size(); at += piece) {
    hash.Update(std::string_view(text).substr(at, piece));
  }
  const auto digest = hash.Finish();
  return HexDigits(digest.data(), digest.size());
}

TEST(Sha256Test, StandardVectorsInAnyPieces) {
  struct Case {
    std::string text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      // 55, 56 and 64 bytes: the padding's edges.
      {std::string(55, 'x'),
       "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
      {std::string(56, 'x'),
       "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
      {std::string(64, 'x'),
       "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
  };
  for (const Case& c : cases) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{64}, size_t{1000001}}) {
      if (c.text.size() > 100000 && piece < 64) continue;
      EXPECT_EQ(Digest(c.text, piece), c.digest)
          << c.text.size() << " bytes in pieces of " << piece;
    }
  }
}

TEST(HmacSha256Test, Rfc4231Vectors) {
  struct Case {
    std::string key;
    std::string message;
    const char* hex;
  } cases[] = {
      {std::string(20, '\x0b'), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      // A key longer than a block is hashed first.
      {std::string(131, '\xaa'),
       "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
  };
  for (const Case& c : cases) {
    const std::array<uint8_t, 32> mac = HmacSha256(c.key, c.message);
    EXPECT_EQ(HexDigits(mac.data(), mac.size()), c.hex) << c.message;
  }
  EXPECT_EQ(Sha256Hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace qlok
