#include "mail/delivery.h"

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
                           const Mail& mail) {
  MailOptions options;
  options.headers = mail.headers;
  std::u16string result;
  bool first = true;
  for (const DeliveryAttempt& attempt : attempts) {
    // Every attempt after the first follows a failed one.
    if (!first && attempt.pause_ms > 0) sleeper.Sleep(attempt.pause_ms);
    first = false;
    result =
        sender.SendMail(Server(attempt, site), mail.recipient,
                        DeliverySender(attempt, site, accounts), mail.subject,
                        mail.body, std::u16string(), options);
    if (result.empty()) break;
  }
  return result;
}

std::u16string SendMatchMail(
    MailSender& sender, Sleeper& sleeper, const SiteConfig& site,
    const std::u16string& visitor_address, const std::u16string& body,
    const std::vector<std::pair<std::string, std::string>>& headers) {
  return DeliverMail(kMatchMailAttempts, sender, sleeper, site, MailAccounts(),
                     {visitor_address, u"求人がみつかりました", body, headers});
}

std::u16string SendRegistrationRecord(MailSender& sender, Sleeper& sleeper,
                                      const SiteConfig& site,
                                      const std::u16string& registration_record,
                                      const MailAccounts& accounts) {
  return DeliverMail(
      kRegistrationRecordAttempts, sender, sleeper, site, accounts,
      {site.sender_addresses[0], u"ss0", registration_record, {}});
}

}  // namespace qlok
