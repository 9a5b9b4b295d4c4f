// Decoding of the URL-encoded form body.
#ifndef QLOK_FRAME_URL_DECODE_H_
#define QLOK_FRAME_URL_DECODE_H_

#include <string>
#include <string_view>

namespace qlok {

// Decodes a posted string as a whole: "+" becomes a blank; "%" and two
// hexadecimal digits (either case) below 0x80 become that character; an
// escaped byte of 0x80 or above is the first byte of a code page 932 pair
// and is decoded together with the byte after it, which is either escaped
// too ("%82%A0" is "あ") or sent as a plain character ("%83A" is "ア").
// A pair whose first byte is no lead byte decodes to two characters (two
// half-width katakana, say). "&" and "=" are not special: "%26" becomes a
// plain "&". A text without "+" and "%" comes back unchanged.
//
// Where the text ends early, an escape reads the one digit left ("%4" at
// the end is U+0004). Throws Failure, naming the position (counted from 1),
// when a "%" is followed by no digit or by a non-digit ("%", "%ZZ", "%G1"),
// and when an escaped byte of 0x80 or above is the last thing in the text.
std::u16string UrlDecode(std::u16string_view text);

}  // namespace qlok

#endif  // QLOK_FRAME_URL_DECODE_H_
