// The small text functions of the request handler: the sanitiser of
// visitor-typed free text, the plausibility check of an e-mail address, and
// the turning of line breaks into HTML breaks.
//
// All three are pure and never throw.
#ifndef QLOK_TEXT_TEXT_UTILS_H_
#define QLOK_TEXT_TEXT_UTILS_H_

#include <string>
#include <string_view>

namespace qlok {

// Replaces half-width symbols of a free-text field by full-width look-alikes
// before the text reaches the SQL condition, the form and the log.
//
// A text of three code units or fewer comes back unchanged. Otherwise each of
// the symbols below has its first n - 2 occurrences replaced (n = the length
// of `text`), one code unit for one, so the length never changes:
//   % / :       -> ％ ／ ：   (only when `text` holds neither "http" nor "www",
//                            compared exactly, lower case)
//   ' , & + |   -> ’ 、 ＆ ＋ ｜
//   ; = \ ? *   -> ； ＝ ￥ ？ ※
//   < >         -> the letter a
// Runs in linear time.
std::u16string SanitizeText(std::u16string_view text);

// `text` on one line: every control character (U+0000 to U+001F, U+007F)
// becomes a blank. Form fields a browser sends hold none; a hand-made
// request could otherwise carry line breaks into the query, the
// registration log and the registration record.
std::u16string BlankControlCharacters(std::u16string_view text);

// u"y" when `address` is plausible, u"no" otherwise. Plausible means: its
// first "@" has at least one code unit before it, it holds a "." anywhere,
// it is at least four code units long, and it is one address that a mail
// can go to: no control character (U+0000..U+001F, U+007F..U+009F, the
// line and paragraph separators; they would add lines to the registration
// record and commands to the mail dialogue), no blank of any width (the
// mail sender refuses such a recipient), neither "<" nor ">", and neither
// "," nor ";", which separate the addresses of a list. Nothing else is
// checked.
std::u16string CheckMailAddress(std::u16string_view address);

// Replaces every CR LF pair of `text` by "<BR>", left to right, in place, and
// returns the converted text as well. A lone CR or LF stays. Any length;
// linear time.
std::u16string CrLfToBr(std::u16string& text);

}  // namespace qlok

#endif  // QLOK_TEXT_TEXT_UTILS_H_
