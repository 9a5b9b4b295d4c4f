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
bool MatchesLike(std::u16string_view text, std::u16string_view pattern);

}  // namespace qlok

#endif  // QLOK_TEXT_LIKE_H_
