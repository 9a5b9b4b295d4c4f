// Conversion between the program's UTF-16 texts and the ANSI code page,
// Windows code page 932 (Shift_JIS with the NEC and IBM extensions), in
// which pages, the registration log and the site's text files are written.
#ifndef QLOK_PLATFORM_CODE_PAGE_H_
#define QLOK_PLATFORM_CODE_PAGE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qlok {

// UTF-16 to code page 932. A character the code page cannot hold is written
// as "?". Never fails.
std::string ToAnsi(std::u16string_view text);

// Code page 932 to UTF-16. A byte sequence the code page does not define
// becomes U+30FB ("・"), the replacement the platform's decoder uses for an
// undefined double-byte code; a lone byte that is no character becomes
// U+FFFD. Never fails.
std::u16string FromAnsi(std::string_view bytes);

}  // namespace qlok

#endif  // QLOK_PLATFORM_CODE_PAGE_H_
