// A look at an SMTP relay without sending mail: connect, read the
// greeting, say EHLO, read what the relay offers, say QUIT.
#ifndef QLOK_PLATFORM_SMTP_PROBE_H_
#define QLOK_PLATFORM_SMTP_PROBE_H_

#include <string>
#include <vector>

namespace qlok {

struct SmtpProbe {
  // Empty when the relay greeted with 220 and answered EHLO with 250; else
  // what went wrong in plain words ("connection refused", "no greeting
  // within 5 s", "greets with: 554 no service").
  std::string error;
  bool loopback = false;  // the address reached is a loopback address
  // The relay's answer to EHLO after its first line: one entry per
  // extension as the relay wrote it, the keyword in capitals
  // ("STARTTLS", "AUTH LOGIN PLAIN", "SIZE 10240000").
  std::vector<std::string> extensions;

  // Whether an extension with this keyword ("AUTH") was offered.
  bool Offers(const std::string& keyword) const;
};

// Probes `host` at `port`: the connection and every answer must come
// within `seconds`. Never throws; a failure is told in SmtpProbe::error.
SmtpProbe ProbeSmtpRelay(const std::string& host, int port, int seconds);

}  // namespace qlok

#endif  // QLOK_PLATFORM_SMTP_PROBE_H_
