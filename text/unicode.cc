#include "text/unicode.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qlok {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

char16_t LowerAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

std::u16string U16(std::string_view utf8) {
  // Each byte gives at most one unit (a four-byte sequence gives two), so
  // the result is written in place into room for as many units as bytes.
  std::u16string out(utf8.size(), u'\0');
  char16_t* write = out.data();
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      *write++ = b;
      ++i;
      continue;
    }
    // Japanese text is mostly three-byte sequences: a well-formed one is
    // taken at once; anything else goes the general way below.
    if ((b & 0xF0) == 0xE0 && i + 2 < utf8.size()) {
      const unsigned char t1 = static_cast<unsigned char>(utf8[i + 1]);
      const unsigned char t2 = static_cast<unsigned char>(utf8[i + 2]);
      const char32_t c = (static_cast<char32_t>(b & 0x0F) << 12) |
                         (static_cast<char32_t>(t1 & 0x3F) << 6) | (t2 & 0x3F);
      if ((t1 & 0xC0) == 0x80 && (t2 & 0xC0) == 0x80 && c >= 0x800 &&
          (c < 0xD800 || c > 0xDFFF)) {
        *write++ = static_cast<char16_t>(c);
        i += 3;
        continue;
      }
    }
    int extra;
    char32_t c;
    if ((b & 0xE0) == 0xC0) {
      extra = 1;
      c = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2;
      c = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3;
      c = b & 0x07;
    } else {
      *write++ = static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    bool ok = i + extra < utf8.size();
    for (int k = 1; ok && k <= extra; ++k) {
      unsigned char t = static_cast<unsigned char>(utf8[i + k]);
      ok = (t & 0xC0) == 0x80;
      c = (c << 6) | (t & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (!ok || c < kSmallest[extra] || (c >= 0xD800 && c <= 0xDFFF) ||
        c > 0x10FFFF) {
      *write++ = static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    if (c < 0x10000) {
      *write++ = static_cast<char16_t>(c);
    } else {
      c -= 0x10000;
      *write++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *write++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
    i += extra + 1;
  }
  out.resize(static_cast<size_t>(write - out.data()));
  return out;
}

std::string U8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() &&
        utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

size_t FindIgnoringAsciiCase(std::u16string_view text,
                             std::u16string_view needle, size_t from) {
  if (needle.size() > text.size()) return std::u16string::npos;
  for (size_t i = from; i + needle.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() &&
           LowerAscii(text[i + k]) == LowerAscii(needle[k])) {
      ++k;
    }
    if (k == needle.size()) return i;
  }
  return std::u16string::npos;
}

std::u16string ToHalfWidth(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c >= 0xFF01 && c <= 0xFF5E) {
      c = static_cast<char16_t>(c - 0xFF01 + 0x21);
    } else if (c == 0x3000) {
      c = u' ';
    }
  }
  return out;
}

double NumericValue(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' ||
                             text[i] == u'\r' || text[i] == u'\n')) {
    ++i;
  }
  std::string number;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    number.push_back(static_cast<char>(text[i++]));
  }
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) {
    number.push_back(static_cast<char>(text[i++]));
    ++digits;
  }
  if (i < text.size() && text[i] == u'.') {
    number.push_back('.');
    ++i;
    while (i < text.size() && IsDigit(text[i])) {
      number.push_back(static_cast<char>(text[i++]));
      ++digits;
    }
  }
  if (digits == 0) return 0;
  if (i + 1 < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    size_t j = i + 1;
    std::string exponent = "e";
    if (text[j] == u'+' || text[j] == u'-') {
      exponent.push_back(static_cast<char>(text[j++]));
    }
    size_t exponent_digits = 0;
    while (j < text.size() && IsDigit(text[j]) && exponent_digits < 6) {
      exponent.push_back(static_cast<char>(text[j++]));
      ++exponent_digits;
    }
    if (exponent_digits > 0) number += exponent;
  }
  double value = std::strtod(number.c_str(), nullptr);
  return std::isfinite(value) ? value : 0;
}

std::u16string FormatNumber(double value) {
  if (value == 0) return u"0";
  if (std::isnan(value)) return u"NaN";
  char buffer[64];
  double magnitude = std::fabs(value);
  if (magnitude >= 1e15 || magnitude < 1e-15) {
    std::snprintf(buffer, sizeof buffer, "%.14E", value);
    // "1.50000000000000E+20" -> "1.5E+20"
    std::string s = buffer;
    size_t e = s.find('E');
    std::string mantissa = s.substr(0, e);
    std::string exponent = s.substr(e + 1);
    while (!mantissa.empty() && mantissa.back() == '0') mantissa.pop_back();
    if (!mantissa.empty() && mantissa.back() == '.') mantissa.pop_back();
    char sign = exponent[0];
    std::string exp_digits = exponent.substr(1);
    while (exp_digits.size() > 2 && exp_digits[0] == '0') {
      exp_digits.erase(0, 1);
    }
    std::string text = mantissa + "E" + sign + exp_digits;
    return U16(text);
  }
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  std::string s = buffer;
  if (s.find('.') != std::string::npos && s.find('E') == std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return U16(s);
}

std::u16string Digits(int64_t value) { return U16(std::to_string(value)); }

}  // namespace qlok
