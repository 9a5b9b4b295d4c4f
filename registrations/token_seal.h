// How a registration's token is kept in the database: never as it is.
// The token (32 hexadecimal digits, the key of the links in its mails) is
// stored as its SHA-256, by which the manage page finds it, and sealed:
// XORed with a pad that only the site's token key (pw/token_key, the
// owner's alone) gives, so that the daily mail can put it into its links
// again. Whoever reads the table alone can neither stop a registration nor
// mail its links.
//
// Pure: values in, texts out.
#ifndef QLOK_REGISTRATIONS_TOKEN_SEAL_H_
#define QLOK_REGISTRATIONS_TOKEN_SEAL_H_

#include <string>
#include <string_view>

namespace qlok {

// The site's token key, read from the file: the path below the site home.
inline constexpr char kTokenKeyPath[] = "pw/token_key";

// What the database keeps of `token`: its SHA-256, 64 hexadecimal digits.
std::string TokenHash(std::string_view token);

// `token` (32 hexadecimal digits) sealed under `key` for the registration
// of `address` and `number`: 32 hexadecimal digits. Throws Failure for a
// text that is no token.
std::string SealToken(std::string_view key, std::u16string_view address,
                      int number, std::string_view token);

// The token that SealToken sealed into `sealed` with the same key, address
// and number. Throws Failure for a text that is not 32 hexadecimal digits.
std::string UnsealToken(std::string_view key, std::u16string_view address,
                        int number, std::string_view sealed);

// True for a key as the key file holds it: 64 hexadecimal digits.
bool IsTokenKey(std::string_view key);

}  // namespace qlok

#endif  // QLOK_REGISTRATIONS_TOKEN_SEAL_H_
