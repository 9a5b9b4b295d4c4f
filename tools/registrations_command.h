// q_lok-admin registrations: what an operator needs to answer a visitor
// about the registrations for the daily mail.
#ifndef QLOK_TOOLS_REGISTRATIONS_COMMAND_H_
#define QLOK_TOOLS_REGISTRATIONS_COMMAND_H_

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qlok {

struct RegistrationsArguments {
  std::string home;                  // the site home
  std::u16string connection_string;  // the site's database
  // Nothing: the counts; ADDRESS: its registrations; stop ADDRESS
  // [NUMBER]: stops them.
  std::vector<std::string> positional;
  std::optional<std::string> csv;  // --csv FILE, or - for `out`
};

// Runs the command; returns an exit status of admin_commands.h, with the
// message of a wrong use on `err`. Throws Failure when the database fails.
int RunRegistrations(const RegistrationsArguments& arguments, std::ostream& out,
                     std::ostream& err);

}  // namespace qlok

#endif  // QLOK_TOOLS_REGISTRATIONS_COMMAND_H_
