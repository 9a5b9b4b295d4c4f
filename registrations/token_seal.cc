#include "registrations/token_seal.h"

#include <array>
#include <cstdint>

#include "platform/failure.h"
#include "text/sha256.h"
#include "text/unicode.h"

namespace qlok {
namespace {

constexpr size_t kTokenBytes = 16;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::array<uint8_t, kTokenBytes> TokenBytes(std::string_view hex) {
  std::array<uint8_t, kTokenBytes> bytes{};
  if (hex.size() != 2 * kTokenBytes) {
    throw Failure("registrations: a sealed token is 32 hexadecimal digits");
  }
  for (size_t i = 0; i < kTokenBytes; ++i) {
    const int high = HexValue(hex[2 * i]);
    const int low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) {
      throw Failure("registrations: a sealed token is 32 hexadecimal digits");
    }
    bytes[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return bytes;
}

// The pad of one registration: the key's HMAC of its address and number,
// so that every registration's token has a pad of its own.
std::string Xored(std::string_view key, std::u16string_view address, int number,
                  std::string_view hex) {
  const std::array<uint8_t, 32> pad = HmacSha256(
      key, "q_lok token of " + U8(address) + " " + std::to_string(number));
  std::array<uint8_t, kTokenBytes> bytes = TokenBytes(hex);
  for (size_t i = 0; i < kTokenBytes; ++i) bytes[i] ^= pad[i];
  return HexDigits(bytes.data(), bytes.size());
}

}  // namespace

std::string TokenHash(std::string_view token) { return Sha256Hex(token); }

std::string SealToken(std::string_view key, std::u16string_view address,
                      int number, std::string_view token) {
  return Xored(key, address, number, token);
}

std::string UnsealToken(std::string_view key, std::u16string_view address,
                        int number, std::string_view sealed) {
  return Xored(key, address, number, sealed);
}

bool IsTokenKey(std::string_view key) {
  if (key.size() != 64) return false;
  for (char c : key) {
    if (HexValue(c) < 0) return false;
  }
  return true;
}

}  // namespace qlok
