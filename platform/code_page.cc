// Code page 932 through the C library's iconv ("CP932", which holds the NEC
// and IBM extensions and maps U+FF5E to 0x8160 as the Windows code page
// does). The Unicode side is the library's own wide characters ("WCHAR_T",
// UCS-4 in the machine's byte order), which it converts without a module of
// their own: setting up loads the CP932 module only, and each conversion is
// one step, not two through UTF-16's module. The program's UTF-16 is turned
// into UCS-4 and back here. Each direction opens its descriptor when first
// used, once per process; conversions are serialised on a mutex because an
// iconv descriptor carries state.
#include "platform/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace qlok {
namespace {

// glibc's wide characters are UCS-4.
static_assert(sizeof(wchar_t) == sizeof(char32_t));
constexpr const char* kWide = "WCHAR_T";
constexpr char16_t kUndefinedPair = u'\u30FB';  // "・"
constexpr char16_t kNoCharacter = u'\uFFFD';

bool IsLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool IsTrailByte(unsigned char b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// UTF-16 as code points: a surrogate pair becomes one; a lone surrogate
// stays as it is, and like every code point the code page lacks it will
// become one "?".
std::u32string CodePoints(std::u16string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() &&
        IsLowSurrogate(text[i + 1])) {
      out.push_back(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                    (text[i + 1] - 0xDC00));
      ++i;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// Code points as UTF-16.
std::u16string Utf16(std::u32string_view points) {
  std::u16string out;
  out.reserve(points.size());
  for (char32_t c : points) {
    if (c < 0x10000) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  return out;
}

// One open iconv descriptor. When the C library lacks the conversion (an
// installation fault) `usable()` is false and the callers fall back to
// ASCII, so that at least the program's own English texts still go out.
class Converter {
 public:
  Converter(const char* to, const char* from) {
    cd_ = iconv_open(to, from);
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      std::fprintf(stderr,
                   "q_lok: iconv cannot convert from %s to %s; non-ASCII "
                   "characters are replaced\n",
                   from, to);
    }
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool usable() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  std::mutex& mutex() { return mutex_; }

  // Converts as much of [*in, *in + *in_left) as iconv can, appending the
  // output to `out`. Returns 0 when all input was converted, otherwise the
  // errno iconv stopped with (EILSEQ or EINVAL); *in then points at the
  // offending input.
  int Convert(const char** in, size_t* in_left, std::string& out) {
    char buffer[4096];
    while (*in_left > 0) {
      char* out_ptr = buffer;
      size_t out_left = sizeof buffer;
      size_t done =
          iconv(cd_, const_cast<char**>(in), in_left, &out_ptr, &out_left);
      out.append(buffer, out_ptr - buffer);
      if (done != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      return errno;
    }
    return 0;
  }

  void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

 private:
  iconv_t cd_;
  std::mutex mutex_;
};

Converter& ToAnsiConverter() {
  static Converter converter("CP932", kWide);
  return converter;
}

Converter& FromAnsiConverter() {
  static Converter converter(kWide, "CP932");
  return converter;
}

}  // namespace

std::string ToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  Converter& converter = ToAnsiConverter();
  if (!converter.usable()) {
    for (size_t i = 0; i < text.size(); ++i) {
      char16_t c = text[i];
      out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
      if (IsHighSurrogate(c) && i + 1 < text.size() &&
          IsLowSurrogate(text[i + 1])) {
        ++i;
      }
    }
    return out;
  }
  const std::u32string points = CodePoints(text);
  std::lock_guard<std::mutex> lock(converter.mutex());
  converter.Reset();
  const char* in = reinterpret_cast<const char*>(points.data());
  size_t in_left = points.size() * sizeof(char32_t);
  while (in_left > 0) {
    if (converter.Convert(&in, &in_left, out) == 0) break;
    // The character at `in` has no code in the code page: it becomes one
    // "?".
    out.push_back('?');
    const size_t skip = std::min(sizeof(char32_t), in_left);
    in += skip;
    in_left -= skip;
    converter.Reset();
  }
  return out;
}

std::u16string FromAnsi(std::string_view bytes) {
  Converter& converter = FromAnsiConverter();
  if (!converter.usable()) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
      unsigned char b = static_cast<unsigned char>(ch);
      out.push_back(b < 0x80 ? static_cast<char16_t>(b) : kNoCharacter);
    }
    return out;
  }
  // The converter writes UCS-4 in the machine's byte order.
  std::string wide;
  wide.reserve(bytes.size() * sizeof(char32_t));
  auto append_point = [&wide](char32_t c) {
    wide.append(reinterpret_cast<const char*>(&c), sizeof c);
  };
  std::lock_guard<std::mutex> lock(converter.mutex());
  converter.Reset();
  const char* in = bytes.data();
  size_t in_left = bytes.size();
  while (in_left > 0) {
    if (converter.Convert(&in, &in_left, wide) == 0) break;
    unsigned char b = static_cast<unsigned char>(in[0]);
    size_t skip = 1;
    if (IsLeadByte(b) && in_left >= 2 &&
        IsTrailByte(static_cast<unsigned char>(in[1]))) {
      // A well-formed pair that the code page leaves undefined.
      append_point(kUndefinedPair);
      skip = 2;
    } else {
      // A byte that is no character on its own, a lead byte without a
      // trail byte among them; the byte after it is read afresh.
      append_point(kNoCharacter);
    }
    in += skip;
    in_left -= skip;
    converter.Reset();
  }
  std::u32string points(wide.size() / sizeof(char32_t), U'\0');
  std::memcpy(points.data(), wide.data(), points.size() * sizeof(char32_t));
  return Utf16(points);
}

}  // namespace qlok
