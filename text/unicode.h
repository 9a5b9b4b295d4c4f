// Small helpers over the program's UTF-16 texts.
//
// Every text inside the program is a std::u16string; lengths and positions
// count UTF-16 code units. These helpers are pure and never throw, except
// where a comment says so.
#ifndef QLOK_TEXT_UNICODE_H_
#define QLOK_TEXT_UNICODE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qlok {

// UTF-8 to UTF-16. Malformed bytes become U+FFFD.
std::u16string U16(std::string_view utf8);
// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD.
std::string U8(std::u16string_view utf16);

// Position of the first `needle` in `text` at or after `from`, comparing
// ASCII letters without regard to case (all other code units exactly);
// std::u16string::npos when absent.
size_t FindIgnoringAsciiCase(std::u16string_view text,
                             std::u16string_view needle, size_t from = 0);

// Full-width letters, digits and signs (U+FF01..U+FF5E) become their ASCII
// forms and the ideographic space U+3000 becomes a blank; the rest stays.
std::u16string ToHalfWidth(std::u16string_view text);

// The leading decimal number of a text: leading blanks (space, tab, CR, LF)
// skipped, an optional sign, digits with an optional fraction and exponent.
// 0 when the text does not begin with a number.
double NumericValue(std::u16string_view text);

// A double as the original platform wrote numbers as text: whole values in
// plain digits ("35", "-2"), others with up to 15 significant digits and no
// trailing zeros ("3.5"), very large or small ones in E notation ("1E+20").
std::u16string FormatNumber(double value);

// A whole number in plain decimal digits.
std::u16string Digits(int64_t value);

}  // namespace qlok

#endif  // QLOK_TEXT_UNICODE_H_
