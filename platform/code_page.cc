// Code page 932 through the C library's iconv ("CP932", which holds the NEC
// and IBM extensions and maps U+FF5E to 0x8160 as the Windows code page
// does). The Unicode side is the library's own wide characters ("WCHAR_T",
// UCS-4 in the machine's byte order), which it converts without a module of
// their own: setting up loads the CP932 module only, and each conversion is
// one step, not two through UTF-16's module. The program's UTF-16 is turned
// into UCS-4 and back here; on the way out, each character beyond ASCII
// once per process (see CodeCache). Each direction opens its descriptor when
// first used, once per process; conversions are serialised on a mutex because
// an iconv descriptor carries state.
#include "platform/code_page.h"

#include <iconv.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
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

// `points` in code page 932, each code point the code page lacks (a lone
// surrogate among them) as one "?". The caller holds the converter's lock.
std::string ConvertPoints(Converter& converter, std::u32string_view points) {
  std::string out;
  out.reserve(points.size() * 2);
  converter.Reset();
  const char* in = reinterpret_cast<const char*>(points.data());
  size_t in_left = points.size() * sizeof(char32_t);
  while (in_left > 0) {
    if (converter.Convert(&in, &in_left, out) == 0) break;
    out.push_back('?');
    const size_t skip = std::min(sizeof(char32_t), in_left);
    in += skip;
    in_left -= skip;
    converter.Reset();
  }
  return out;
}

// The codes of code page 932 for the characters beyond ASCII, each asked of
// iconv once, when first met, and kept for the rest of the process: a page
// holds some nine thousand such characters but only a few hundred
// different ones, and one look-up in a table costs far less than iconv's
// own work per character. The code page is stateless, so a character's code
// is the same wherever it stands. The table covers the basic plane (128 KiB
// of address space, of which only the pages of the characters met are
// touched); characters beyond it, which the code page lacks, go to iconv
// each time.
class CodeCache {
 public:
  // A kept code: 0 not asked yet; up to 0xFF one byte; else two bytes,
  // the first in the high half. A character the code page lacks is kept
  // as "?".
  using Code = uint16_t;

  // The table is mapped afresh rather than taken from the heap, which might
  // have to clear all of it: the system gives zero pages, and only those
  // that get a code are ever touched.
  CodeCache() {
    void* table = ::mmap(nullptr, kTableBytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    codes_ = table == MAP_FAILED ? nullptr : static_cast<Code*>(table);
  }
  CodeCache(const CodeCache&) = delete;
  CodeCache& operator=(const CodeCache&) = delete;
  ~CodeCache() {
    if (codes_ != nullptr) ::munmap(codes_, kTableBytes);
  }

  // Asks `converter` the codes of the characters of the basic plane in
  // `text` that are not known yet, all in one call of iconv: each call
  // costs some hundred instructions of its own, and a page holds hundreds
  // of characters that are new to the process. The code page writes each
  // character as one code of one or two bytes, whose first byte tells
  // which, so the codes can be told apart in what iconv wrote (the tests
  // hold the library to both).
  void Learn(Converter& converter, std::u16string_view text) {
    if (codes_ == nullptr) return;
    std::u32string unknown;
    for (size_t i = 0; i < text.size(); ++i) {
      const char16_t c = text[i];
      if (c < 0x80) continue;
      if (IsHighSurrogate(c) && i + 1 < text.size() &&
          IsLowSurrogate(text[i + 1])) {
        ++i;  // beyond the basic plane: asked one at a time
        continue;
      }
      if (codes_[c] == 0) {
        codes_[c] = kPending;
        unknown.push_back(c);
      }
    }
    if (unknown.empty()) return;
    const std::string bytes = ConvertPoints(converter, unknown);
    size_t at = 0;
    for (char32_t c : unknown) {
      Code code = '?';
      if (at < bytes.size()) {
        const unsigned char first = static_cast<unsigned char>(bytes[at++]);
        if (IsLeadByte(first) && at < bytes.size()) {
          code = static_cast<Code>(first << 8 |
                                   static_cast<unsigned char>(bytes[at++]));
        } else if (first != 0) {
          code = first;
        }
      }
      codes_[c] = code;
    }
  }

  // The code of `c` (not ASCII), asking `converter` when it is not known.
  Code Of(Converter& converter, char32_t c) {
    if (c < 0x10000 && codes_ != nullptr) {
      Code& code = codes_[c];
      if (code == 0 || code == kPending) code = Ask(converter, c);
      return code;
    }
    return Ask(converter, c);
  }

 private:
  static Code Ask(Converter& converter, char32_t c) {
    converter.Reset();
    const char* in = reinterpret_cast<const char*>(&c);
    size_t in_left = sizeof c;
    std::string bytes;
    if (converter.Convert(&in, &in_left, bytes) != 0 || bytes.empty() ||
        bytes.size() > 2) {
      converter.Reset();
      return '?';
    }
    const Code first = static_cast<unsigned char>(bytes[0]);
    if (bytes.size() == 1) return first == 0 ? '?' : first;
    return static_cast<Code>(first << 8 | static_cast<unsigned char>(bytes[1]));
  }

  static constexpr size_t kTableBytes = 0x10000 * sizeof(Code);
  // Being asked; no code of the code page has this value.
  static constexpr Code kPending = 0xFFFF;
  Code* codes_;
};

Converter& ToAnsiConverter() {
  static Converter converter("CP932", kWide);
  return converter;
}

CodeCache& ToAnsiCodes() {
  static CodeCache codes;
  return codes;
}

Converter& FromAnsiConverter() {
  static Converter converter(kWide, "CP932");
  return converter;
}

}  // namespace

std::string ToAnsi(std::u16string_view text) {
  std::string out;
  Converter& converter = ToAnsiConverter();
  if (!converter.usable()) {
    out.reserve(text.size());
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
  // The code page writes each ASCII character as its own byte (the tests
  // hold the library to that); the others take their kept codes.
  std::unique_ptr<char[]> bytes =
      std::make_unique_for_overwrite<char[]>(text.size() * 2);
  char* write = bytes.get();
  CodeCache& codes = ToAnsiCodes();
  std::lock_guard<std::mutex> lock(converter.mutex());
  codes.Learn(converter, text);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      *write++ = static_cast<char>(c);
      continue;
    }
    char32_t point = c;
    // A surrogate pair is one character; a lone surrogate stays as it is,
    // and like every code point the code page lacks becomes one "?".
    if (IsHighSurrogate(c) && i + 1 < text.size() &&
        IsLowSurrogate(text[i + 1])) {
      point = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
              (text[++i] - 0xDC00);
    }
    const CodeCache::Code code = codes.Of(converter, point);
    if (code > 0xFF) *write++ = static_cast<char>(code >> 8);
    *write++ = static_cast<char>(code & 0xFF);
  }
  out.assign(bytes.get(), static_cast<size_t>(write - bytes.get()));
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
