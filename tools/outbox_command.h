// q_lok-admin outbox [--send]: the mails that wait in the site home's
// outbox because no attempt delivered them, and sending them again.
#ifndef QLOK_TOOLS_OUTBOX_COMMAND_H_
#define QLOK_TOOLS_OUTBOX_COMMAND_H_

#include <ostream>
#include <string>

#include "mail/outbox.h"
#include "platform/clock.h"
#include "platform/mail_sender.h"
#include "platform/text_files.h"
#include "site/site_config.h"

namespace qlok {

// What the command reaches; RunOutboxCommand builds the real ones.
struct OutboxCommandServices {
  Outbox& outbox;
  MailSender& sender;
  Sleeper& sleeper;
  const SiteConfig& site;
  TextFiles& files;  // the site home's pw/ files
  Clock& clock;
  std::string where;  // the outbox as the reports name it
};

// Lists what waits, oldest first: name, kind, recipient, age and subject,
// and the last answer on a line of its own. Returns kAdminDone, or
// kAdminFailed when a message cannot be read (it is reported on `err`).
// Throws Failure when the outbox cannot be read.
int ListOutbox(OutboxCommandServices& services, std::ostream& out,
               std::ostream& err);

// Sends each waiting message, oldest first, along the attempt table of its
// kind, and removes each one delivered; one that is not stays. Reports
// each message as it goes and ends with a summary. Returns kAdminDone
// when every message was delivered, else kAdminFailed; so does a second
// run while one is sending. Throws Failure when the outbox cannot be read.
int SendOutbox(OutboxCommandServices& services, std::ostream& out,
               std::ostream& err);

// The command for the site home `home`: SendOutbox with `send`, else
// ListOutbox. Throws Failure when site.conf cannot be read.
int RunOutboxCommand(const std::string& home, bool send, std::ostream& out,
                     std::ostream& err);

}  // namespace qlok

#endif  // QLOK_TOOLS_OUTBOX_COMMAND_H_
