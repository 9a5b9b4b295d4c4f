// Head-office address to map link: whatever the address, the link is the
// map page's address and four upper-case hexadecimal digits for each
// character of a trimmed address of at most 25 characters without blanks.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "results/map_link.h"

namespace qlok {
namespace {

constexpr std::u16string_view kMapPage = u"https://map.test/m/m.cgi?";

bool IsUpperHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
}

void Check(const uint8_t* data, size_t size) {
  const std::u16string address = FuzzText(data, size);
  const std::u16string link = AddressMapLink(address, u"https://map.test");
  if (!std::u16string_view(link).starts_with(kMapPage)) {
    FuzzFault("the link does not lead to the map page", link);
  }
  const std::u16string_view hex =
      std::u16string_view(link).substr(kMapPage.size());
  if (hex.size() % 4 != 0 || hex.size() > 25 * 4) {
    FuzzFault("the encoded address has a wrong length", link);
  }
  for (size_t i = 0; i < hex.size(); i += 4) {
    char16_t unit = 0;
    for (size_t k = i; k < i + 4; ++k) {
      const char16_t c = hex[k];
      if (!IsUpperHexDigit(c)) FuzzFault("not an upper-case hex digit", link);
      unit = static_cast<char16_t>(unit * 16 +
                                   (c <= u'9' ? c - u'0' : c - u'A' + 10));
    }
    // Trimming removes or cuts at every full-width blank.
    if (unit == u'\u3000') FuzzFault("a full-width blank was kept", link);
    if (address.find(unit) == std::u16string::npos) {
      FuzzFault("the link holds a character not in the address", link);
    }
  }
}

}  // namespace
}  // namespace qlok

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qlok::Check(data, size);
  return 0;
}
