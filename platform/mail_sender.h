// Mail delivery through SMTP relays, and the pauses between attempts.
#ifndef QLOK_PLATFORM_MAIL_SENDER_H_
#define QLOK_PLATFORM_MAIL_SENDER_H_

#include <memory>
#include <string>

namespace qlok {

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
                                  const std::u16string& attachments) = 0;
};

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void Sleep(int milliseconds) = 0;
};

std::unique_ptr<Sleeper> NewSystemSleeper();

}  // namespace qlok

#endif  // QLOK_PLATFORM_MAIL_SENDER_H_
