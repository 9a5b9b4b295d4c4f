// What the fuzz targets share: reading an input as text, and the check that
// turns a broken property into a crash the fuzzer keeps.
#ifndef QLOK_FUZZ_FUZZ_CHECK_H_
#define QLOK_FUZZ_FUZZ_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/unicode.h"

namespace qlok {

// The input as UTF-8 text (malformed bytes become U+FFFD), so that the
// dictionaries can hold field names and full-width characters as they are.
inline std::u16string FuzzText(const uint8_t* data, size_t size) {
  return U16(std::string_view(reinterpret_cast<const char*>(data), size));
}

// Ends the process with `what` and the text it concerns on standard error,
// so the fuzzer saves the input as a crash.
[[noreturn]] inline void FuzzFault(const char* what,
                                   std::u16string_view text = {}) {
  std::fprintf(stderr, "fuzz property broken: %s\n", what);
  if (!text.empty()) {
    std::fprintf(stderr, "in: %s\n", U8(text.substr(0, 2000)).c_str());
  }
  std::abort();
}

}  // namespace qlok

#endif  // QLOK_FUZZ_FUZZ_CHECK_H_
