#include "mail/delivery.h"

#include <algorithm>

#include "text/unicode.h"

namespace qlok {
namespace {

using A = DeliveryAttempt;

// The match mail's own accounts on the two relays.
constexpr char16_t kAccount1[] = u"q2481xr736k:5d9p1s7tvak";
constexpr char16_t kAccount2[] = u"pelunadorviat:4172mxq";
constexpr char16_t kAccount3[] = u"pelunadorviatt:4172mxq";

std::u16string Server(const DeliveryAttempt& attempt, const SiteConfig& site) {
  const std::u16string& host =
      attempt.relay == A::kFirstRelay ? site.first_relay : site.second_relay;
  int port = attempt.port == A::kSubmissionPort ? site.submission_port
                                                : site.relay_port;
  return host + u":" + Digits(port);
}

}  // namespace

const std::array<DeliveryAttempt, 5> kMatchMailAttempts = {{
    {0, A::kFirstRelay, A::kSubmissionPort, 1, kAccount1, false},
    {0, A::kSecondRelay, A::kSubmissionPort, 2, kAccount2, true},
    {1000, A::kSecondRelay, A::kSubmissionPort, 3, kAccount3, true},
    {5000, A::kFirstRelay, A::kSubmissionPort, 1, kAccount1, false},
    {1000, A::kSecondRelay, A::kSubmissionPort, 3, kAccount3, true},
}};

const std::array<DeliveryAttempt, 5> kRegistrationRecordAttempts = {{
    {0, A::kFirstRelay, A::kSubmissionPort, 1, nullptr, false},
    {0, A::kSecondRelay, A::kRelayPort, 2, nullptr, false},
    {1000, A::kSecondRelay, A::kRelayPort, 3, nullptr, false},
    {5000, A::kFirstRelay, A::kSubmissionPort, 1, nullptr, false},
    {1000, A::kSecondRelay, A::kRelayPort, 2, nullptr, false},
}};

std::u16string DeliverySender(const DeliveryAttempt& attempt,
                              const SiteConfig& site,
                              const MailAccounts& accounts) {
  const size_t index = attempt.account - 1;
  std::u16string text = u"求職案内会<" + site.sender_addresses[index] + u">\t" +
                        (attempt.authentication != nullptr
                             ? std::u16string(attempt.authentication)
                             : accounts[index]);
  if (attempt.login) text += u"\tLOGIN";
  return text;
}

std::u16string DeliverMail(const std::array<DeliveryAttempt, 5>& attempts,
                           MailSender& sender, Sleeper& sleeper,
                           const SiteConfig& site, const MailAccounts& accounts,
                           const Mail& mail, const Deadline* deadline) {
  // RCPT TO carries the address as it stands: beyond ASCII, only a relay
  // asked for SMTPUTF8 could take it, and none is. No attempt is made; the
  // answer says why (the page keeps the mail in the outbox with it).
  if (std::any_of(mail.recipient.begin(), mail.recipient.end(),
                  [](char16_t c) { return c > 0x7E; })) {
    return kNotAsciiAnswer;
  }
  MailOptions options;
  options.headers = mail.headers;
  options.envelope_sender = mail.envelope_sender;
  std::u16string result;
  for (size_t i = 0; i < attempts.size(); ++i) {
    const DeliveryAttempt& attempt = attempts[i];
    // Every attempt after the first follows a failed one.
    const int pause_ms = i > 0 ? attempt.pause_ms : 0;
    // Checked before the pause, not to wait for nothing, and after it, as a
    // pause that overran may have used up the rest of the time.
    const auto no_time_left = [&](int64_t still_to_wait_ms) {
      return deadline != nullptr &&
             deadline->RemainingMs() - still_to_wait_ms < kShortestAttemptMs;
    };
    bool stopped = no_time_left(pause_ms);
    if (!stopped && pause_ms > 0) {
      sleeper.Sleep(pause_ms);
      stopped = no_time_left(0);
    }
    if (stopped) {
      const std::u16string stop =
          u"the request's time limit left no time for attempt " +
          Digits(static_cast<int64_t>(i + 1));
      return result.empty() ? stop : result + u" (" + stop + u")";
    }
    if (deadline != nullptr) options.time_limit_ms = deadline->RemainingMs();
    result =
        sender.SendMail(Server(attempt, site), mail.recipient,
                        DeliverySender(attempt, site, accounts), mail.subject,
                        mail.body, std::u16string(), options);
    if (result.empty()) break;
  }
  return result;
}

bool ReachedNoRelay(std::u16string_view answer) {
  // libcurl's words for a relay not reached, and DeliverMail's own for an
  // attempt the time did not allow.
  static constexpr std::u16string_view kUnreached[] = {
      u"Failed to connect",       u"Couldn't connect", u"Could not connect",
      u"Connection refused",      u"timed out",        u"Timeout was reached",
      u"Could not resolve",       u"Couldn't resolve", u"left no time",
      u"Server returned nothing", u"Connection reset",
  };
  for (std::u16string_view words : kUnreached) {
    if (answer.find(words) != std::u16string_view::npos) return true;
  }
  return false;
}

Mail MatchMail(
    const std::u16string& visitor_address, const std::u16string& body,
    const std::vector<std::pair<std::string, std::string>>& headers) {
  return {visitor_address, u"求人がみつかりました", body, headers};
}

Mail RegistrationRecordMail(const SiteConfig& site,
                            const std::u16string& registration_record) {
  return {site.sender_addresses[0], u"ss0", registration_record, {}};
}

std::u16string SendMatchMail(
    MailSender& sender, Sleeper& sleeper, const SiteConfig& site,
    const std::u16string& visitor_address, const std::u16string& body,
    const std::vector<std::pair<std::string, std::string>>& headers) {
  return DeliverMail(kMatchMailAttempts, sender, sleeper, site, MailAccounts(),
                     MatchMail(visitor_address, body, headers));
}

std::u16string SendRegistrationRecord(MailSender& sender, Sleeper& sleeper,
                                      const SiteConfig& site,
                                      const std::u16string& registration_record,
                                      const MailAccounts& accounts) {
  return DeliverMail(kRegistrationRecordAttempts, sender, sleeper, site,
                     accounts,
                     RegistrationRecordMail(site, registration_record));
}

}  // namespace qlok
