// q_lok-admin bounce: reads bounces back to their registrations
// (bounces/): one message from standard input, as a mail server's pipe
// alias hands it over, or every new message of a Maildir.
#ifndef QLOK_TOOLS_BOUNCE_COMMAND_H_
#define QLOK_TOOLS_BOUNCE_COMMAND_H_

#include <istream>
#include <optional>
#include <ostream>
#include <string>

namespace qlok {

// The status a mail server's pipe takes as "try again later" (sysexits.h
// EX_TEMPFAIL): the bounce stays with the mail server.
inline constexpr int kBounceTryAgain = 75;

struct BounceArguments {
  std::string home;                    // the site home
  std::u16string connection_string;    // the site's database
  std::optional<std::string> maildir;  // --maildir DIR; else `in`
};

// Reads one message from `in`, or each message of DIR/new of the Maildir
// (each moved to DIR/cur, flagged seen, once it is read), and acts on it
// (bounces/hear_bounce.h): one line per message on `out`. A message that is
// no bounce is left alone: the status stays kAdminDone. A database that
// fails gives kBounceTryAgain for a message of `in` (the mail server keeps
// it and tries again), one line on `err`; in a Maildir the message stays in
// new/ for the next run, and the failure is thrown. Throws Failure when
// site.conf or the Maildir cannot be read.
int RunBounce(const BounceArguments& arguments, std::istream& in,
              std::ostream& out, std::ostream& err);

}  // namespace qlok

#endif  // QLOK_TOOLS_BOUNCE_COMMAND_H_
