// The pattern match of stored texts against patterns such as
// "*?????-????*".
#ifndef QLOK_TEXT_LIKE_H_
#define QLOK_TEXT_LIKE_H_

#include <string_view>

namespace qlok {

// True when the whole of `text` matches `pattern`: "?" one character, "*"
// any run of characters (also none), "#" one digit 0-9, "[abc]" or "[a-z]"
// one of a list or range, "[!abc]" one character not in it; every other
// character stands for itself. UTF-16 code units are compared exactly.
//
// Inside brackets "?", "*", "#" and "[" stand for themselves, a "-" first
// or last in the list stands for itself, and the list ends at the first
// "]". A range whose ends are reversed ("[z-a]") holds no character. "[]"
// stands for the empty text and "[!]" for any one character. A "[" without
// a closing "]" stands for itself, as does a "]" outside brackets, so every
// pattern is valid: the match never fails. Time grows at most with the
// product of the two lengths, however many "*" the pattern holds.
bool MatchesLike(std::u16string_view text, std::u16string_view pattern);

}  // namespace qlok

#endif  // QLOK_TEXT_LIKE_H_
