// What keeps a site's database sound beyond its tables: a SQLite file that
// only the site may read, its write-ahead log, and the registrations'
// tokens kept as hashes. `init` does it for a new database and `migrate`
// for one made before.
#ifndef QLOK_TOOLS_DATABASE_UPKEEP_H_
#define QLOK_TOOLS_DATABASE_UPKEEP_H_

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/database.h"

namespace qlok {

// Takes from the SQLite database file `file` (and from its -wal and -shm
// files, where they exist) and from its folder what others than the owner
// and the group may do: the file holds every visitor's address. The folder
// is changed only when it is the site home `home` or lies below it; another
// folder is the operator's and is only reported. Returns what changed
// ("jobs.db 0644 -> 0640") and what the operator must do, each a line.
// Throws Failure when a mode cannot be set.
std::vector<std::string> KeepDatabaseFromOthers(const std::string& home,
                                                const std::string& file);

// Why others may read `path` ("others may read it (0644)"), or nothing
// when they may not. A path that cannot be looked at gives nothing.
std::optional<std::string> OpenToOthers(const std::string& path);

// Puts a SQLite database into write-ahead-log mode, in which a page that
// reads never holds up a page that writes, nor the other way round; the
// mode is kept in the file. Returns the journal mode the database has
// afterwards: "wal", or the one it kept where the file system cannot share
// the log's index (a network file system), which works but makes writers
// wait for readers. Nothing for other engines. Throws Failure when the
// engine refuses.
std::optional<std::string> UseWriteAheadLog(Connection& db);

// Makes the site's token key pw/token_key (64 random hexadecimal digits,
// mode 0600) in the site home `home` when it has none. True when it made
// one. Throws Failure when it cannot.
bool MakeTokenKey(const std::string& home);

// Seals, under `key`, the tokens of the registrations stored before tokens
// were sealed (the token itself in the column token; the column
// token_sealed is added where it is missing), in one transaction, so that
// no token stays in the table as it is and every link already mailed still
// works. Returns how many were sealed; nothing is done to a database
// without the registration tables. Throws Failure when the engine refuses.
int64_t SealStoredTokens(Connection& db, const std::string& key);

// All of the above for the database `connection_string` names, open as
// `db`, in the site home `home`: on SQLite its write-ahead log and its
// file and folder kept from others; on both engines the token key made
// and the stored tokens sealed. Writes one line to `out` for each thing
// done. Throws Failure when any cannot be done.
void KeepDatabaseSound(const std::string& home,
                       const std::u16string& connection_string, Connection& db,
                       std::ostream& out);

}  // namespace qlok

#endif  // QLOK_TOOLS_DATABASE_UPKEEP_H_
