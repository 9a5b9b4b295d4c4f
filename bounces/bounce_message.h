// Reading a bounce: a delivery status notification (RFC 3464,
// multipart/report; report-type=delivery-status) parsed with GMime, and the
// registration it belongs to.
//
// Pure: a message in, a reading out (GMime works in memory only).
#ifndef QLOK_BOUNCES_BOUNCE_MESSAGE_H_
#define QLOK_BOUNCES_BOUNCE_MESSAGE_H_

#include <string>
#include <string_view>

namespace qlok {

struct BounceReading {
  enum Kind {
    kNotABounce,  // a message, but no delivery status notification
    kMalformed,   // no message, or a report without a readable status
    kNoFailure,   // a notification of delivery, relay or expansion
    kSoft,        // a transient failure (4.x.x) or a delay
    kHard,        // a permanent failure (5.x.x)
  };
  Kind kind = kMalformed;
  std::string status;     // the status of the failed recipient, "5.1.1"
  std::string recipient;  // its Final-Recipient (the address alone)
  // The token of the registration: from the address the bounce came to
  // (To, Delivered-To, X-Original-To: the envelope sender that
  // VerpAddress made from `bounce_address`), else from the manage link in
  // the returned message's List-Unsubscribe field; empty when neither
  // tells.
  std::string token;
  std::string what;  // one line: what was found, for the operator
};

// Reads `message` (the bytes of one mail as a mail server hands it over).
// Never throws.
BounceReading ReadBounceMessage(std::string_view message,
                                std::u16string_view bounce_address);

}  // namespace qlok

#endif  // QLOK_BOUNCES_BOUNCE_MESSAGE_H_
