// Code page 932 through the C library's iconv ("CP932", which holds the NEC
// and IBM extensions and maps U+FF5E to 0x8160 as the Windows code page
// does). Each direction opens its descriptor once per process; conversions
// are serialised on a mutex because an iconv descriptor carries state.
#include "platform/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace qlok {
namespace {

constexpr const char* kUtf16 =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
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
    char buffer[1024];
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
  static Converter converter("CP932", kUtf16);
  return converter;
}

Converter& FromAnsiConverter() {
  static Converter converter(kUtf16, "CP932");
  return converter;
}

// The converter writes UTF-16 in the machine's byte order.
std::u16string Utf16FromBytes(const std::string& bytes) {
  std::u16string text(bytes.size() / sizeof(char16_t), u'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * sizeof(char16_t));
  return text;
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
  std::lock_guard<std::mutex> lock(converter.mutex());
  converter.Reset();
  const char* in = reinterpret_cast<const char*>(text.data());
  size_t in_left = text.size() * sizeof(char16_t);
  while (in_left > 0) {
    if (converter.Convert(&in, &in_left, out) == 0) break;
    // The character at `in` has no code in the code page (or is a lone
    // surrogate): it becomes one "?", a surrogate pair included.
    size_t unit = (text.size() * sizeof(char16_t) - in_left) / 2;
    size_t skip = 1;
    if (IsHighSurrogate(text[unit]) && unit + 1 < text.size() &&
        IsLowSurrogate(text[unit + 1])) {
      skip = 2;
    }
    out.push_back('?');
    skip = std::min(skip * sizeof(char16_t), in_left);
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
  std::string utf16;
  utf16.reserve(bytes.size() * 2);
  auto append_unit = [&utf16](char16_t c) {
    const char* p = reinterpret_cast<const char*>(&c);
    utf16.append(p, sizeof c);
  };
  std::lock_guard<std::mutex> lock(converter.mutex());
  converter.Reset();
  const char* in = bytes.data();
  size_t in_left = bytes.size();
  while (in_left > 0) {
    if (converter.Convert(&in, &in_left, utf16) == 0) break;
    unsigned char b = static_cast<unsigned char>(in[0]);
    size_t skip = 1;
    if (IsLeadByte(b) && in_left >= 2 &&
        IsTrailByte(static_cast<unsigned char>(in[1]))) {
      // A well-formed pair that the code page leaves undefined.
      append_unit(kUndefinedPair);
      skip = 2;
    } else {
      // A byte that is no character on its own, a lead byte without a
      // trail byte among them; the byte after it is read afresh.
      append_unit(kNoCharacter);
    }
    in += skip;
    in_left -= skip;
    converter.Reset();
  }
  return Utf16FromBytes(utf16);
}

}  // namespace qlok
