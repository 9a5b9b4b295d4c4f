#include "mail/kept_mail.h"

#include <exception>

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

struct KindNames {
  MailKind kind;
  const char* name;
  const char* label;
};

constexpr KindNames kKinds[] = {
    {MailKind::kMatchMail, "match_mail", "match mail"},
    {MailKind::kRegistrationRecord, "registration_record",
     "registration record"},
    {MailKind::kRegistrationList, "registration_list", "list of registrations"},
};

const KindNames& NamesOf(MailKind kind) {
  for (const KindNames& names : kKinds) {
    if (names.kind == kind) return names;
  }
  return kKinds[0];  // not reached: every kind is in the table
}

// A login the relays can be given: "user:password", a user, no control
// characters.
bool IsLogin(std::u16string_view line) {
  const size_t colon = line.find(u':');
  if (colon == 0 || colon == line.npos) return false;
  for (char16_t c : line) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

// The text of one line on the error stream: control characters, which a
// visitor's address or a relay's answer may hold, become blanks.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return text;
}

}  // namespace

std::string MailKindName(MailKind kind) { return NamesOf(kind).name; }

std::string MailKindLabel(MailKind kind) { return NamesOf(kind).label; }

std::optional<MailKind> MailKindNamed(std::string_view name) {
  for (const KindNames& names : kKinds) {
    if (name == names.name) return names.kind;
  }
  return std::nullopt;
}

std::optional<MailAccounts> LoadMatchMailLogins(TextFiles& files) {
  if (!files.Exists(kMatchMailLoginsPath)) return std::nullopt;
  const std::vector<std::u16string> lines =
      files.ReadLines(kMatchMailLoginsPath, 3);
  MailAccounts logins;
  for (size_t i = 0; i < logins.size(); ++i) {
    if (i >= lines.size() || !IsLogin(lines[i])) {
      throw Failure(std::string(kMatchMailLoginsPath) + ": line " +
                    std::to_string(i + 1) +
                    " should be the login user:password of sender account " +
                    std::to_string(i + 1));
    }
    logins[i] = lines[i];
  }
  return logins;
}

MailRoute MatchMailRoute(TextFiles& files) {
  MailRoute route{kMatchMailAttempts, {}};
  if (std::optional<MailAccounts> logins = LoadMatchMailLogins(files)) {
    // Every row then takes the login of its account from the file.
    for (DeliveryAttempt& attempt : route.attempts) {
      attempt.authentication = nullptr;
    }
    route.accounts = *logins;
  }
  return route;
}

MailRoute RegistrationRecordRoute(const MailAccounts& accounts) {
  return {kRegistrationRecordAttempts, accounts};
}

MailRoute RouteFor(MailKind kind, TextFiles& files) {
  if (kind != MailKind::kRegistrationRecord) return MatchMailRoute(files);
  return RegistrationRecordRoute(LoadMailAccounts(files));
}

bool DeliverOrKeep(MailPost& post, MailKind kind, const Mail& mail,
                   const std::function<MailRoute()>& route) {
  std::u16string answer;
  try {
    const MailRoute how = route();
    answer = DeliverMail(how.attempts, post.sender, post.sleeper, post.site,
                         how.accounts, mail, post.deadline);
    if (answer.empty()) return true;
  } catch (const std::exception& failure) {
    answer = U16(failure.what());
  }
  std::string kept;
  try {
    const OutboxMessage message{MailKindName(kind), mail, post.clock.Now(),
                                answer};
    kept = "kept in the outbox as " + post.outbox.Put(message);
  } catch (const std::exception& failure) {
    kept = std::string("NOT kept: ") + failure.what();
  }
  try {
    post.errors << OneLine("q_lok: " + MailKindLabel(kind) + " to " +
                           U8(mail.recipient) + " not delivered, " + kept +
                           "; last answer: " + U8(answer))
                << '\n';
    post.errors.flush();
  } catch (...) {
    // The error log is the last place a failure can be told.
  }
  return false;
}

std::u16string SendKept(const OutboxMessage& message, MailSender& sender,
                        Sleeper& sleeper, const SiteConfig& site,
                        TextFiles& files) {
  const std::optional<MailKind> kind = MailKindNamed(message.kind);
  if (!kind) return u"unknown kind of mail: " + U16(message.kind);
  try {
    const MailRoute route = RouteFor(*kind, files);
    return DeliverMail(route.attempts, sender, sleeper, site, route.accounts,
                       message.mail);
  } catch (const std::exception& failure) {
    return U16(failure.what());
  }
}

}  // namespace qlok
