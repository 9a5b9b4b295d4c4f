// Mail delivery through SMTP relays, and the pauses between attempts.
#ifndef QLOK_PLATFORM_MAIL_SENDER_H_
#define QLOK_PLATFORM_MAIL_SENDER_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qlok {

// What one attempt carries beside the six texts of SendMail.
struct MailOptions {
  // Header fields added to the message after its fixed ones, in this order,
  // for example {"Auto-Submitted", "auto-generated"}. Names and values are
  // printable ASCII without line breaks; a sender refuses others.
  std::vector<std::pair<std::string, std::string>> headers;
  // The attempt gives up after this many milliseconds in all, its
  // connection included; 0 leaves the sender's own limits.
  long time_limit_ms = 0;
  // The envelope sender (SMTP MAIL FROM), where bounces go, for example
  // "bounces+TOKEN@example.jp"; empty: the From field's address. Printable
  // ASCII without blanks or angle brackets; a sender refuses others.
  std::string envelope_sender;
};

// One mail to deliver: the same texts go to every attempt.
struct Mail {
  std::u16string recipient;
  std::u16string subject;
  std::u16string body;
  // Header fields beside the fixed ones (MailOptions::headers).
  std::vector<std::pair<std::string, std::string>> headers;
  // MailOptions::envelope_sender; empty: the From field's address.
  std::string envelope_sender = {};

  bool operator==(const Mail&) const = default;
};

class MailSender {
 public:
  virtual ~MailSender() = default;
  // Offers one mail to one relay. `server` is "host:port"; `sender` is the
  // From field (display name and address in angle brackets), a TAB and the
  // authentication text "user:password", optionally a TAB and the method
  // "LOGIN". Returns the empty text when the relay accepted the mail, and
  // otherwise a text that says why not. Delivery failures are never thrown.
  virtual std::u16string SendMail(const std::u16string& server,
                                  const std::u16string& recipient,
                                  const std::u16string& sender,
                                  const std::u16string& subject,
                                  const std::u16string& body,
                                  const std::u16string& attachments,
                                  const MailOptions& options) = 0;
  // The same without extra headers or limits.
  std::u16string SendMail(const std::u16string& server,
                          const std::u16string& recipient,
                          const std::u16string& sender,
                          const std::u16string& subject,
                          const std::u16string& body,
                          const std::u16string& attachments) {
    return SendMail(server, recipient, sender, subject, body, attachments,
                    MailOptions());
  }
};

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void Sleep(int milliseconds) = 0;
};

std::unique_ptr<Sleeper> NewSystemSleeper();

}  // namespace qlok

#endif  // QLOK_PLATFORM_MAIL_SENDER_H_
