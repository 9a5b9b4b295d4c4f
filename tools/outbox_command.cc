#include "tools/outbox_command.h"

#include <cstdio>
#include <exception>
#include <memory>

#include "mail/kept_mail.h"
#include "platform/smtp_mail_sender.h"
#include "site/smtp_settings.h"
#include "text/unicode.h"
#include "tools/admin_commands.h"

namespace qlok {
namespace {

// "just now", "45m", "3h 05m", "2d 04h".
std::string Age(const DateTime& kept_at, const DateTime& now) {
  int64_t seconds = SecondsSinceEpoch(now) - SecondsSinceEpoch(kept_at);
  if (seconds < 60) return "just now";
  const int64_t minutes = seconds / 60;
  char text[32];
  if (minutes < 60) {
    std::snprintf(text, sizeof text, "%lldm", static_cast<long long>(minutes));
  } else if (minutes < 24 * 60) {
    std::snprintf(text, sizeof text, "%lldh %02lldm",
                  static_cast<long long>(minutes / 60),
                  static_cast<long long>(minutes % 60));
  } else {
    std::snprintf(text, sizeof text, "%lldd %02lldh",
                  static_cast<long long>(minutes / (24 * 60)),
                  static_cast<long long>(minutes / 60 % 24));
  }
  return text;
}

// A kept text on one line of a report.
std::string OneLine(const std::u16string& text) {
  std::string line = U8(text);
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return line;
}

std::string Messages(size_t count) {
  return std::to_string(count) + (count == 1 ? " mail" : " mails");
}

}  // namespace

int ListOutbox(OutboxCommandServices& services, std::ostream& out,
               std::ostream& err) {
  const std::vector<std::string> names = services.outbox.List();
  if (names.empty()) {
    out << "nothing waits in " << services.where << "\n";
    return kAdminDone;
  }
  out << Messages(names.size()) << " wait in " << services.where << ":\n";
  const DateTime now = services.clock.Now();
  int status = kAdminDone;
  for (const std::string& name : names) {
    try {
      const OutboxMessage message = services.outbox.Get(name);
      out << name << "  " << message.kind << "  "
          << OneLine(message.mail.recipient) << "  "
          << Age(message.kept_at, now) << "  " << OneLine(message.mail.subject)
          << "\n"
          << "    last answer: " << OneLine(message.answer) << "\n";
    } catch (const std::exception& failure) {
      err << "q_lok-admin outbox: " << failure.what() << "\n";
      status = kAdminFailed;
    }
  }
  return status;
}

int SendOutbox(OutboxCommandServices& services, std::ostream& out,
               std::ostream& err) {
  std::shared_ptr<void> claim = services.outbox.ClaimForSending();
  if (claim == nullptr) {
    err << "q_lok-admin outbox: another q_lok-admin outbox --send is sending "
           "the mails of "
        << services.where << "\n";
    return kAdminFailed;
  }
  const std::vector<std::string> names = services.outbox.List();
  if (names.empty()) {
    out << "nothing waits in " << services.where << "\n";
    return kAdminDone;
  }
  size_t delivered = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    out << "[" << i + 1 << "/" << names.size() << "] " << name << ": ";
    out.flush();  // the attempts of one mail may take a while
    try {
      const OutboxMessage message = services.outbox.Get(name);
      out << message.kind << " to " << OneLine(message.mail.recipient) << ": ";
      out.flush();
      const std::u16string answer =
          SendKept(message, services.sender, services.sleeper, services.site,
                   services.files);
      if (!answer.empty()) {
        out << "not delivered, it stays; last answer: " << OneLine(answer)
            << "\n";
        continue;
      }
      try {
        services.outbox.Remove(name);
      } catch (const std::exception& failure) {
        out << "delivered, but it stays and would be sent again\n";
        err << "q_lok-admin outbox: " << failure.what()
            << " (remove it by hand)\n";
        continue;
      }
      out << "delivered\n";
      ++delivered;
    } catch (const std::exception& failure) {
      // A message that cannot be read stays for the operator to look at.
      out << "cannot be read, it stays\n";
      err << "q_lok-admin outbox: " << failure.what() << "\n";
    }
  }
  const size_t left = names.size() - delivered;
  out << "delivered " << delivered << " of " << names.size() << "; ";
  if (left == 0) {
    out << "nothing waits in " << services.where << "\n";
    return kAdminDone;
  }
  out << Messages(left) << " still " << (left == 1 ? "waits" : "wait") << " in "
      << services.where << "\n";
  return kAdminFailed;
}

int RunOutboxCommand(const std::string& home, bool send, std::ostream& out,
                     std::ostream& err) {
  const SiteConfig site = LoadSiteConfig(home + "/site.conf");
  std::unique_ptr<Outbox> outbox = NewFileOutbox(home + "/outbox");
  std::unique_ptr<MailSender> sender = NewSmtpMailSender(SmtpSettingsFor(site));
  std::unique_ptr<Sleeper> sleeper = NewSystemSleeper();
  std::unique_ptr<TextFiles> files = NewSiteTextFiles(home);
  std::unique_ptr<Clock> clock = NewSystemClock();
  OutboxCommandServices services{*outbox, *sender, *sleeper,        site,
                                 *files,  *clock,  home + "/outbox"};
  return send ? SendOutbox(services, out, err) : ListOutbox(services, out, err);
}

}  // namespace qlok
