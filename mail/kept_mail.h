// The kinds of mail the program sends, the attempt table and the
// authentication texts each is delivered with, and what becomes of a mail
// that no attempt delivered: it waits in the outbox until it is sent again.
#ifndef QLOK_MAIL_KEPT_MAIL_H_
#define QLOK_MAIL_KEPT_MAIL_H_

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "mail/delivery.h"
#include "mail/outbox.h"
#include "platform/clock.h"
#include "platform/error_log.h"
#include "platform/mail_sender.h"
#include "platform/text_files.h"
#include "results/data_access.h"
#include "site/site_config.h"

namespace qlok {

// The list of an address's registrations (the manage page's mail) goes
// the match mail's way.
enum class MailKind { kMatchMail, kRegistrationRecord, kRegistrationList };

// The name the outbox keeps: "match_mail", "registration_record",
// "registration_list".
std::string MailKindName(MailKind kind);
// The kind of that name; nullopt for a name the program does not know.
std::optional<MailKind> MailKindNamed(std::string_view name);
// For people: "match mail", "registration record", "list of registrations".
std::string MailKindLabel(MailKind kind);

// The file whose three "user:password" lines replace the match mail's
// built-in logins of sender accounts 1 to 3.
inline constexpr char kMatchMailLoginsPath[] = "pw/match_mail.txt";

// The lines of the match-mail login file; nullopt when there is no such
// file (the built-in logins stand). Throws Failure, naming the file and
// the line, when it cannot be read or is not three "user:password" lines.
std::optional<MailAccounts> LoadMatchMailLogins(TextFiles& files);

// How a mail is delivered: its attempt table and the authentication texts
// of the rows that have no built-in one.
struct MailRoute {
  std::array<DeliveryAttempt, 5> attempts;
  MailAccounts accounts;
};

// The match mail's table, with the logins of the match-mail login file in
// place of the built-in ones when that file exists. Throws as
// LoadMatchMailLogins.
MailRoute MatchMailRoute(TextFiles& files);
// The registration record's table with the lines of the mail account file.
MailRoute RegistrationRecordRoute(const MailAccounts& accounts);
// The route of `kind`, its files read afresh. Throws as MatchMailRoute.
MailRoute RouteFor(MailKind kind, TextFiles& files);

// What delivering the mails of a request reaches.
// The time a page keeps for itself after its mails, whose deadline is
// this much earlier than the request's: the outbox's files and the page.
inline constexpr int64_t kTimeAfterMailMs = 500;

struct MailPost {
  MailSender& sender;
  Sleeper& sleeper;
  const SiteConfig& site;
  Outbox& outbox;
  Clock& clock;              // stamps what is kept
  ErrorLog& errors;          // the web server's error log
  const Deadline* deadline;  // nullptr: no time limit
};

// Delivers `mail` along the route `route` gives. When no attempt delivered
// it (or the route cannot be made), the mail is kept in the outbox and
// one line goes to `post.errors`, naming the kind, the recipient, where it
// is kept (or why it could not be) and the last answer. True when it was
// delivered. Never throws.
bool DeliverOrKeep(MailPost& post, MailKind kind, const Mail& mail,
                   const std::function<MailRoute()>& route);

// Sends a kept message again along the route of its kind, with its
// authentication texts read afresh from `files`, without a time limit.
// Returns "" when an attempt was accepted, else the last answer (or why
// it could not be tried: an unknown kind, an unusable login file).
std::u16string SendKept(const OutboxMessage& message, MailSender& sender,
                        Sleeper& sleeper, const SiteConfig& site,
                        TextFiles& files);

}  // namespace qlok

#endif  // QLOK_MAIL_KEPT_MAIL_H_
