// The mail sender of the program: SMTP through libcurl.
#ifndef QLOK_PLATFORM_SMTP_MAIL_SENDER_H_
#define QLOK_PLATFORM_SMTP_MAIL_SENDER_H_

#include <memory>
#include <string>
#include <string_view>

#include "platform/mail_sender.h"

namespace qlok {

struct SmtpSettings {
  // True ([smtp] tls = required): a login is sent only after STARTTLS; a
  // relay that does not offer it gets no login, and the attempt fails.
  // False (opportunistic): STARTTLS when the relay offers it, else plain.
  // An attempt without a login goes as opportunistic either way.
  bool tls_required = true;
  // A relay named by a loopback address (127.x.x.x or "localhost") is on
  // this machine: the attempt goes without TLS, the login included (its
  // certificate, if it offers STARTTLS, cannot name "localhost").
  bool trust_loopback = true;
  long connect_timeout_ms = 5000;   // waiting for the connection
  long attempt_timeout_ms = 20000;  // one attempt in all
  // A PEM file of the certificates to trust in place of the system's;
  // empty: the system's.
  std::string ca_file;
};

// True when `host` names this machine by itself: "localhost" (any letter
// case) or a dotted 127.x.x.x written without leading zeros. A name that
// merely resolves to a loopback address does not count, as its resolution
// may change.
bool IsLoopbackHost(std::string_view host);

// A MailSender that speaks SMTP to `server` ("host:port"): STARTTLS as
// `settings` says (with the certificate checks of the system or of
// settings.ca_file); AUTH with the "user:password" after the sender's
// first TAB (none when that text is empty), restricted to LOGIN when
// "LOGIN" follows a second TAB. The envelope is MAIL FROM the address inside
// the sender's "<>" and RCPT TO `recipient`. The message is UTF-8 text with CR
// LF line ends: the display name and the subject as MIME encoded words, Date,
// Message-ID, MIME-Version, the header fields of the options in their order,
// and the body in base64.
//
// Returns "" once the relay accepted the message, else a text that says
// why not (libcurl's error, or the input refused). Never throws for a
// delivery failure. Gives up after the settings' connect and attempt
// timeouts, each cut to the options' time limit when that is set.
//
// libcurl (libcurl.so.4) is loaded into the process only when the first
// attempt is made; when it cannot be loaded, every attempt answers so.
// Refuses without
// connecting: a server text that is not a host name and a port from 1 to
// 65535; an empty recipient or sender address, or one that holds blanks,
// "<", ">" or control characters (no header or command can be smuggled
// in); control characters in the authentication text; a method other than
// "LOGIN"; any attachment, which it cannot send; a header field of the
// options that is not printable ASCII on one line.
std::unique_ptr<MailSender> NewSmtpMailSender(
    const SmtpSettings& settings = SmtpSettings());

}  // namespace qlok

#endif  // QLOK_PLATFORM_SMTP_MAIL_SENDER_H_
