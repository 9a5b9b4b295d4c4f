// Stores and reads registrations straight through the registration store
// of a site home, for the server test of the manage page:
//
//   qlok_registration_tool HOME save ADDRESS NUMBER < SETTINGS
//       stores the registration (the settings, a registration record in
//       UTF-8, on standard input) and prints its token;
//   qlok_registration_tool HOME state TOKEN
//       prints "active", "stopped" or "unknown".
#include <iostream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/database.h"
#include "platform/text_files.h"
#include "registrations/registration.h"
#include "registrations/registration_store.h"
#include "results/data_access.h"
#include "text/unicode.h"

int main(int argc, char** argv) {
  using namespace qlok;
  if (argc < 4) {
    std::cerr << "usage: " << argv[0]
              << " HOME save ADDRESS NUMBER | HOME state TOKEN\n";
    return 2;
  }
  try {
    const std::string home = argv[1];
    const std::string command = argv[2];
    std::unique_ptr<TextFiles> files = NewSiteTextFiles(home);
    std::unique_ptr<Connection> db =
        OpenConnection(LoadConnectionString(*files), home);
    std::unique_ptr<RegistrationStore> store = NewSqlRegistrationStore(
        *db, nullptr, [&files] { return LoadTokenKey(*files); });
    if (command == "save" && argc == 5) {
      RegistrationInput input;
      input.address = U16(argv[3]);
      input.number = std::stoi(argv[4]);
      input.settings = U16(std::string(std::istreambuf_iterator<char>(std::cin),
                                       std::istreambuf_iterator<char>()));
      // The daily maximum as the search page keeps it.
      input.daily_maximum = DailyMaximumOf(RequestOfSettings(input.settings));
      std::cout << store->Save(input, NewSystemClock()->Now()).token << '\n';
      return 0;
    }
    if (command == "state") {
      std::optional<Registration> found = store->FindByToken(argv[3]);
      std::cout << (!found          ? "unknown"
                    : found->active ? "active"
                                    : "stopped")
                << '\n';
      return 0;
    }
    std::cerr << argv[0] << ": unknown command " << command << '\n';
    return 2;
  } catch (const std::exception& failure) {
    std::cerr << argv[0] << ": " << failure.what() << '\n';
    return 1;
  }
}
