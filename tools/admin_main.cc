// q_lok-admin: prepares and fills the job database of a q_lok site. See
// tools/admin_commands.h for the commands.
#include <iostream>
#include <string>
#include <vector>

#include "tools/admin_commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return qlok::RunAdmin(args, std::cout, std::cerr);
}
