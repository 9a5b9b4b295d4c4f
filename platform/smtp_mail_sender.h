// The mail sender of the program: SMTP through libcurl.
#ifndef QLOK_PLATFORM_SMTP_MAIL_SENDER_H_
#define QLOK_PLATFORM_SMTP_MAIL_SENDER_H_

#include <memory>

#include "platform/mail_sender.h"

namespace qlok {

// A MailSender that speaks SMTP to `server` ("host:port"): STARTTLS when
// the relay offers it (with the system's certificate checks), else plain;
// AUTH with the "user:password" after the sender's first TAB (none when
// that text is empty), restricted to LOGIN when "LOGIN" follows a second
// TAB. The envelope is MAIL FROM the address inside the sender's "<>" and
// RCPT TO `recipient`. The message is UTF-8 text with CR LF line ends: the
// display name and the subject as MIME encoded words, Date, Message-ID,
// MIME-Version, the header fields of the options in their order, and the
// body in base64.
//
// Returns "" once the relay accepted the message, else a text that says
// why not (libcurl's error, or the input refused). Never throws for a
// delivery failure. Gives up after 10 s without a connection and 30 s in
// all, or after the options' time limit when it is set. Refuses without
// connecting: a server text that is not a host name and a port from 1 to
// 65535; an empty recipient or sender address, or one that holds blanks,
// "<", ">" or control characters (no header or command can be smuggled
// in); control characters in the authentication text; a method other than
// "LOGIN"; any attachment, which it cannot send; a header field of the
// options that is not printable ASCII on one line.
std::unique_ptr<MailSender> NewSmtpMailSender();

}  // namespace qlok

#endif  // QLOK_PLATFORM_SMTP_MAIL_SENDER_H_
