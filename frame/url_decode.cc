#include "frame/url_decode.h"

#include <string>

#include "platform/code_page.h"
#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Characters of the posted string as they may stand in a message: control
// characters (a body that ended early leaves NULs) written as \xNN.
std::string Visible(std::u16string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char16_t c : text) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out += U8(std::u16string_view(&c, 1));
    }
  }
  return out;
}

// The byte written by the (at most) two digits at `at`; `escape` is the
// position of their "%", for the message.
unsigned char ReadHexByte(std::u16string_view text, size_t at, size_t escape) {
  std::u16string_view digits =
      at < text.size() ? text.substr(at, 2) : std::u16string_view();
  if (digits.empty()) {
    throw Failure("form data: the \"%\" at position " +
                  std::to_string(escape + 1) + " is not followed by digits");
  }
  int value = 0;
  for (char16_t c : digits) {
    int digit = HexDigit(c);
    if (digit < 0) {
      // The escape as sent goes into the message (the error log), so that
      // what the browser sent can be seen there.
      throw Failure("form data: the escape \"%" + Visible(digits) +
                    "\" at position " + std::to_string(escape + 1) +
                    " is not a hexadecimal number");
    }
    value = value * 16 + digit;
  }
  return static_cast<unsigned char>(value);
}

// The code page byte of a character sent unescaped after an escaped first
// byte. The posted string holds only 7-bit characters; any other character
// is taken by its code page 932 byte where it has a one-byte code.
char SecondByte(char16_t c, size_t position) {
  if (c < 0x80) return static_cast<char>(c);
  std::string ansi = ToAnsi(std::u16string_view(&c, 1));
  if (ansi.size() != 1 || ansi == "?") {
    throw Failure("form data: the character at position " +
                  std::to_string(position + 1) + " cannot be a second byte");
  }
  return ansi[0];
}

}  // namespace

std::u16string UrlDecode(std::u16string_view text) {
  if (text.find_first_of(u"+%") == std::u16string_view::npos) {
    return std::u16string(text);
  }
  std::u16string result;
  result.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char16_t c = text[i];
    if (c == u'+') {
      result.push_back(u' ');
      ++i;
    } else if (c != u'%') {
      result.push_back(c);
      ++i;
    } else {
      unsigned char first = ReadHexByte(text, i + 1, i);
      if (first <= 0x7F) {
        result.push_back(first);
        i += 3;
        continue;
      }
      std::string pair(1, static_cast<char>(first));
      if (i + 3 >= text.size()) {
        throw Failure("form data: the escaped byte at position " +
                      std::to_string(i + 1) + " has no second byte");
      }
      if (text[i + 3] == u'%') {
        pair.push_back(static_cast<char>(ReadHexByte(text, i + 4, i + 3)));
        i += 6;
      } else {
        pair.push_back(SecondByte(text[i + 3], i + 3));
        i += 4;
      }
      result += FromAnsi(pair);
    }
  }
  return result;
}

}  // namespace qlok
