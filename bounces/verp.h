// The envelope sender that tells a bounce's registration (VERP): the
// site's bounce address with the registration's token as a tag,
// local+TOKEN@domain.
//
// Pure: values in, texts out.
#ifndef QLOK_BOUNCES_VERP_H_
#define QLOK_BOUNCES_VERP_H_

#include <optional>
#include <string>
#include <string_view>

namespace qlok {

// "local+TOKEN@domain" of `bounce_address` ("local@domain", [mail]
// bounce_address) and `token`; the empty text (the sender account's
// address stands) when either is empty, the bounce address is not plain
// ASCII with one "@", or the token is no token.
std::string VerpAddress(std::u16string_view bounce_address,
                        std::string_view token);

// The token of an address VerpAddress made from `bounce_address`: the local
// part compared exactly, the domain without letter case, the token in
// lower case. nullopt for any other address.
std::optional<std::string> TokenOfVerpAddress(
    std::u16string_view bounce_address, std::string_view address);

}  // namespace qlok

#endif  // QLOK_BOUNCES_VERP_H_
