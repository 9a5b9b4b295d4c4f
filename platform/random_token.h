// Random tokens for links that must not be guessed.
#ifndef QLOK_PLATFORM_RANDOM_TOKEN_H_
#define QLOK_PLATFORM_RANDOM_TOKEN_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace qlok {

// The bytes of a token: 128 bits.
inline constexpr size_t kTokenBytes = 16;

// kTokenBytes random bytes from the operating system (getrandom), written
// as 32 lower-case hexadecimal digits. Throws Failure when the system has
// no randomness to give.
std::string NewRandomToken();

// True for a text of 32 lower-case hexadecimal digits, the form of every
// token NewRandomToken makes.
bool IsTokenText(std::string_view text);

}  // namespace qlok

#endif  // QLOK_PLATFORM_RANDOM_TOKEN_H_
