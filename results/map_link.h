// The address of the site's map page for a head-office address.
#ifndef QLOK_RESULTS_MAP_LINK_H_
#define QLOK_RESULTS_MAP_LINK_H_

#include <string>
#include <string_view>

namespace qlok {

// Trims `address` to what a map lookup needs (no postcode, prefecture,
// building or remarks, at most 25 characters) and returns `map_base` +
// "/m/m.cgi?" + the trimmed address as four hexadecimal digits per UTF-16
// code unit.
//
// Never throws. An address that begins with "〒" loses its first ten
// characters (mark, postcode and separator); one shorter than that, a
// postcode cut short, trims to the empty text, so the link ends with "?".
std::u16string AddressMapLink(std::u16string_view address,
                              std::u16string_view map_base);

}  // namespace qlok

#endif  // QLOK_RESULTS_MAP_LINK_H_
