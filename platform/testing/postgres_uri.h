// For tests: the throw-away PostgreSQL server that the ctest fixture
// "postgres" starts (platform/testing/postgres_server.sh).
#ifndef QLOK_PLATFORM_TESTING_POSTGRES_URI_H_
#define QLOK_PLATFORM_TESTING_POSTGRES_URI_H_

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace qlok {

// The server's connection URI, which the fixture writes to a file: the one
// named by the environment variable QLOK_POSTGRES_URI_FILE, else the one the
// build names in the macro QLOK_POSTGRES_URI_FILE. nullopt when no server
// runs (the fixture removes the file when it stops the server).
inline std::optional<std::string> PostgresTestUri() {
  const char* from_env = std::getenv("QLOK_POSTGRES_URI_FILE");
  std::ifstream file(from_env != nullptr ? from_env : QLOK_POSTGRES_URI_FILE);
  std::string uri;
  if (!file || !std::getline(file, uri) || uri.empty()) return std::nullopt;
  return uri;
}

}  // namespace qlok

#endif  // QLOK_PLATFORM_TESTING_POSTGRES_URI_H_
