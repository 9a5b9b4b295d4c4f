// Where the database file of an "sqlite:" connection string lies, for the
// operator tool's checks before anything is opened.
#ifndef QLOK_PLATFORM_SQLITE_FILE_H_
#define QLOK_PLATFORM_SQLITE_FILE_H_

#include <optional>
#include <string>
#include <string_view>

namespace qlok {

// The file that "sqlite:PATH" names, a relative PATH taken from
// `site_home` (as OpenConnection takes it). Nothing for every other
// connection string, for "sqlite:" without a path and for ":memory:".
std::optional<std::string> SqliteFileOf(std::u16string_view connection_string,
                                        const std::string& site_home);

}  // namespace qlok

#endif  // QLOK_PLATFORM_SQLITE_FILE_H_
