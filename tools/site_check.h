// q_lok-admin check: whether a site home is ready for the web server's
// user. Looks at every file and folder the programs use (with the access
// that user needs), site.conf (parses, no unknown keys), the connection
// string (opens, as that user, and the tables have their columns) and the
// mail relays (answer EHLO, offer STARTTLS and AUTH where logins are
// configured; no mail is sent). Each problem is told in plain words with
// what to do about it.
#ifndef QLOK_TOOLS_SITE_CHECK_H_
#define QLOK_TOOLS_SITE_CHECK_H_

#include <optional>
#include <ostream>
#include <string>

namespace qlok {

struct SiteCheckOptions {
  std::string home;  // the site home
  std::string user;  // the user the web server runs the programs as
  // The connection string to check instead of line 3 of pw/qevo.txt.
  std::optional<std::string> database;
};

// Runs the check and writes its report to `out`. Returns the number of
// problems found (0: the site home is ready). Never throws.
int CheckSite(const SiteCheckOptions& options, std::ostream& out);

}  // namespace qlok

#endif  // QLOK_TOOLS_SITE_CHECK_H_
