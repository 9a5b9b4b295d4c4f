// Delivery of the two mails of a registration: each is offered to a fixed
// sequence of relays and sender accounts until one attempt is accepted.
#ifndef QLOK_MAIL_DELIVERY_H_
#define QLOK_MAIL_DELIVERY_H_

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/mail_sender.h"
#include "results/data_access.h"
#include "site/site_config.h"

namespace qlok {

// One row of an attempt table.
struct DeliveryAttempt {
  enum Relay { kFirstRelay, kSecondRelay };
  enum Port { kSubmissionPort, kRelayPort };  // site.conf [smtp] *_port
  int pause_ms;  // before the attempt, taken only after a failed one
  Relay relay;
  Port port;
  int account;  // sender account 1 to 3
  // The built-in authentication text "user:password"; nullptr: line
  // `account` of the mail account file.
  const char16_t* authentication;
  bool login;  // TAB "LOGIN" follows the authentication text
};

// The first match mail, to the visitor.
extern const std::array<DeliveryAttempt, 5> kMatchMailAttempts;
// The registration record, to the site's own mailbox (sender account 1).
extern const std::array<DeliveryAttempt, 5> kRegistrationRecordAttempts;

// The sender text of one attempt: "求職案内会<" + the account's address +
// ">", TAB, the authentication text, and TAB "LOGIN" when the row says so.
std::u16string DeliverySender(const DeliveryAttempt& attempt,
                              const SiteConfig& site,
                              const MailAccounts& accounts);

// The least time an attempt is given: one that `deadline` leaves less for
// is not made.
inline constexpr int64_t kShortestAttemptMs = 1000;

// The answer of DeliverMail for a recipient address with characters beyond
// ASCII.
inline constexpr char16_t kNotAsciiAnswer[] =
    u"refused: the address has characters beyond ASCII, which only a relay "
    u"asked for SMTPUTF8 takes, and none is asked for it";

// Offers `mail` along `attempts`, pausing before an attempt only after a
// failed one, up to the first attempt accepted. A recipient address with
// characters beyond ASCII is offered to none: it gives kNotAsciiAnswer at
// once. Returns the empty text
// when an attempt was accepted, else the answer of the last attempt made.
// `accounts` gives the authentication texts of the rows without a built-in
// one. What the sender or sleeper throws is not caught.
//
// With a `deadline`, every attempt may take only what remains of it
// (MailOptions::time_limit_ms), and an attempt, or a pause, that would
// leave less than kShortestAttemptMs for its attempt is not made: the
// delivery stops there and its answer says so after the last relay's.
// Without one (a batch run), each attempt has the sender's own limits.
std::u16string DeliverMail(const std::array<DeliveryAttempt, 5>& attempts,
                           MailSender& sender, Sleeper& sleeper,
                           const SiteConfig& site, const MailAccounts& accounts,
                           const Mail& mail,
                           const Deadline* deadline = nullptr);

// Whether `answer`, what DeliverMail returned, says that its last attempt
// reached no relay at all: the connection was refused or timed out, the
// host was not found, or no time was left for it. A relay that answered
// and refused the mail (a wrong address, a login denied) was reached.
bool ReachedNoRelay(std::u16string_view answer);

// The match mail to `visitor_address`: subject "求人がみつかりました".
Mail MatchMail(
    const std::u16string& visitor_address, const std::u16string& body,
    const std::vector<std::pair<std::string, std::string>>& headers = {});

// The registration record to sender account 1: subject "ss0", the record
// as its body.
Mail RegistrationRecordMail(const SiteConfig& site,
                            const std::u16string& registration_record);

// Offers the match mail (subject "求人がみつかりました", `headers` beside
// the fixed ones) to `visitor_address` along kMatchMailAttempts; returns
// as DeliverMail.
std::u16string SendMatchMail(
    MailSender& sender, Sleeper& sleeper, const SiteConfig& site,
    const std::u16string& visitor_address, const std::u16string& body,
    const std::vector<std::pair<std::string, std::string>>& headers = {});

// Offers the registration record (subject "ss0", the record as its body)
// to sender account 1 along kRegistrationRecordAttempts, authenticating
// with the lines of the mail account file; returns as DeliverMail.
std::u16string SendRegistrationRecord(MailSender& sender, Sleeper& sleeper,
                                      const SiteConfig& site,
                                      const std::u16string& registration_record,
                                      const MailAccounts& accounts);

}  // namespace qlok

#endif  // QLOK_MAIL_DELIVERY_H_
