#include "platform/sqlite_file.h"

#include "text/unicode.h"

namespace qlok {

std::optional<std::string> SqliteFileOf(std::u16string_view connection_string,
                                        const std::string& site_home) {
  constexpr std::string_view kSqlite = "sqlite:";
  const std::string text = U8(connection_string);
  if (!text.starts_with(kSqlite)) return std::nullopt;
  std::string path = text.substr(kSqlite.size());
  if (path.empty() || path == ":memory:") return std::nullopt;
  if (path[0] != '/') {
    std::string home = site_home.empty() ? "." : site_home;
    if (home.back() != '/') home += '/';
    path = home + path;
  }
  return path;
}

}  // namespace qlok
