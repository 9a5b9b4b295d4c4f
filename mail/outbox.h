// The outbox: mails that no attempt delivered, kept whole until an operator
// sends them again (q_lok-admin outbox --send). On disk it is the folder
// outbox/ of the site home, one file per message.
#ifndef QLOK_MAIL_OUTBOX_H_
#define QLOK_MAIL_OUTBOX_H_

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mail_sender.h"
#include "text/date_time.h"

namespace qlok {

// One kept message. It holds no password: the authentication texts are
// looked up again, by `kind`, when the message is sent.
struct OutboxMessage {
  // Which attempt table delivers it, by name ("match_mail",
  // "registration_record", ...): plain ASCII letters, digits and "_".
  std::string kind;
  Mail mail;
  DateTime kept_at;       // local time when it was kept
  std::u16string answer;  // the last relay's answer then

  bool operator==(const OutboxMessage&) const = default;
};

class Outbox {
 public:
  virtual ~Outbox() = default;
  // Keeps `message` and returns its name. The message is there whole or
  // not at all, even when the machine stops during the call. Throws
  // Failure when it cannot be kept (the kind is not a plain name, the
  // folder cannot be made or written).
  virtual std::string Put(const OutboxMessage& message) = 0;
  // The names of the messages kept, oldest first; empty when the outbox
  // has never been used. Throws Failure when it cannot be read.
  virtual std::vector<std::string> List() = 0;
  // The message of that name. Throws Failure when it is gone, cannot be
  // read, or is not a message this program wrote.
  virtual OutboxMessage Get(const std::string& name) = 0;
  // Removes the message; one that is already gone is no failure. Throws
  // Failure when it cannot be removed.
  virtual void Remove(const std::string& name) = 0;
  // Claims the outbox for one process that sends its messages, until the
  // returned object goes; nullptr when another process holds it. An outbox
  // whose folder does not exist holds nothing and is claimed without making
  // it (the folder belongs to the web server's user, not to whoever sends).
  // Throws Failure when the claim cannot be made at all.
  virtual std::shared_ptr<void> ClaimForSending() = 0;
};

// The outbox in `folder` (normally the site home's outbox/). The folder is
// made (mode 0700) when the first message is kept. Each message is a file
// NAME.mail readable by its owner only (0600), written to a temporary file
// in the folder, synced, and renamed, so that a reader never sees part of
// one; names begin with the time they were kept, so they sort oldest first.
std::unique_ptr<Outbox> NewFileOutbox(const std::string& folder);

// The text of a message file, and back. Encode never fails; Decode throws
// Failure for a text that is not one.
std::string EncodeOutboxMessage(const OutboxMessage& message);
OutboxMessage DecodeOutboxMessage(std::string_view text);

// Messages held in memory, with failures on demand; for tests.
class InMemoryOutbox : public Outbox {
 public:
  std::map<std::string, OutboxMessage> messages;  // by name
  bool fail_puts = false;                         // Put throws Failure
  bool claimed = false;  // another process holds the outbox

  std::string Put(const OutboxMessage& message) override;
  std::vector<std::string> List() override;
  OutboxMessage Get(const std::string& name) override;
  void Remove(const std::string& name) override;
  std::shared_ptr<void> ClaimForSending() override;

 private:
  int next_ = 1;
};

}  // namespace qlok

#endif  // QLOK_MAIL_OUTBOX_H_
