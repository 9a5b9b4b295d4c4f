// How the sending limits tell addresses and clients apart: two spellings
// of one mailbox count as one, and so do the addresses of one IPv6 network.
//
// Pure: values in, texts out.
#ifndef QLOK_LIMITS_COUNTED_KEYS_H_
#define QLOK_LIMITS_COUNTED_KEYS_H_

#include <string>
#include <string_view>

namespace qlok {

// The address as it is counted: blanks around it dropped and the letters
// A to Z in lower case, in the domain and in the local part alike (mail
// systems treat "Taro@Example.JP" and "taro@example.jp" as one mailbox,
// and a limit must not be escaped by changing the case).
std::u16string CountedAddress(std::u16string_view address);

// The client as it is counted, from REMOTE_ADDR: an IPv4 address as it
// stands; an IPv6 address by its /64 network, written as its first four
// groups in lower-case hexadecimal without leading zeros and "::/64" (an
// IPv4-mapped IPv6 address counts as its IPv4 address). Any other text
// (also the empty one) is counted as it stands, at most 64 characters.
std::u16string CountedClient(std::string_view remote_address);

}  // namespace qlok

#endif  // QLOK_LIMITS_COUNTED_KEYS_H_
