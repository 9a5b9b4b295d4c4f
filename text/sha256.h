// SHA-256 (FIPS 180-4), for fingerprints of stored contents.
#ifndef QLOK_TEXT_SHA256_H_
#define QLOK_TEXT_SHA256_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qlok {

class Sha256 {
 public:
  Sha256();
  void Update(std::string_view bytes);
  // The digest of everything given; the object is spent afterwards.
  std::array<uint8_t, 32> Finish();

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> buffer_{};
  size_t buffered_ = 0;
  uint64_t length_ = 0;  // bytes given so far
};

// Lower-case hexadecimal digits of `bytes`.
std::string HexDigits(const uint8_t* bytes, size_t count);

// The SHA-256 digest of `bytes` as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

// HMAC-SHA256 (RFC 2104) of `message` under `key`.
std::array<uint8_t, 32> HmacSha256(std::string_view key,
                                   std::string_view message);

}  // namespace qlok

#endif  // QLOK_TEXT_SHA256_H_
