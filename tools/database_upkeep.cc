#include "tools/database_upkeep.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/failure.h"
#include "platform/random_token.h"
#include "platform/sqlite_file.h"
#include "platform/text_files.h"
#include "platform/transaction.h"
#include "registrations/registration_store.h"
#include "registrations/token_seal.h"
#include "text/unicode.h"

namespace qlok {
namespace {

namespace fs = std::filesystem;

std::string Octal(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

// `path` made absolute, links resolved, without a trailing "/".
std::string Resolved(const std::string& path) {
  std::string text = fs::weakly_canonical(fs::absolute(path)).string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// Whether `inner` is `outer` or lies below it.
bool Within(const std::string& inner, const std::string& outer) {
  const std::string a = Resolved(inner);
  const std::string b = Resolved(outer);
  return a == b || a.starts_with(b == "/" ? b : b + "/");
}

// Takes the bits of others from `path` (not following a link); returns
// "path was -> now" when the mode changed.
std::optional<std::string> TakeFromOthers(const std::string& path,
                                          const std::string& shown) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) {
    if (errno == ENOENT) return std::nullopt;
    throw Failure(path + ": cannot be looked at: " + std::strerror(errno));
  }
  if (S_ISLNK(status.st_mode)) return std::nullopt;
  const unsigned was = status.st_mode & 07777;
  const unsigned now = was & ~07u;
  if (now == was) return std::nullopt;
  if (::chmod(path.c_str(), static_cast<mode_t>(now)) != 0) {
    throw Failure(path + ": cannot be given the mode " + Octal(now) + ": " +
                  std::strerror(errno));
  }
  return shown + " " + Octal(was) + " -> " + Octal(now);
}

}  // namespace

std::vector<std::string> KeepDatabaseFromOthers(const std::string& home,
                                                const std::string& file) {
  std::vector<std::string> changes;
  for (const char* suffix : {"", "-wal", "-shm"}) {
    const std::string path = file + suffix;
    if (auto change = TakeFromOthers(path, path)) changes.push_back(*change);
  }
  std::string folder = fs::path(file).parent_path().string();
  if (folder.empty()) folder = ".";
  if (Within(folder, home)) {
    if (auto change = TakeFromOthers(folder, folder)) {
      changes.push_back(*change);
    }
  } else if (std::optional<std::string> open = OpenToOthers(folder)) {
    changes.push_back("note: the database's folder " + folder +
                      " lies outside the site home and " + *open +
                      "; make it the site's alone (chmod o-rwx)");
  }
  return changes;
}

std::optional<std::string> OpenToOthers(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  const unsigned mode = status.st_mode & 07777;
  if (S_ISDIR(status.st_mode)) {
    // A folder others may list or pass through lets them reach the file
    // should its own mode ever open up, and shows its log's names.
    if ((mode & 05) == 0) return std::nullopt;
    return "others may enter it (" + Octal(mode) + ")";
  }
  if ((mode & 06) == 0) return std::nullopt;
  return "others may read it (" + Octal(mode) + ")";
}

std::optional<std::string> UseWriteAheadLog(Connection& db) {
  if (db.Engine() != "sqlite") return std::nullopt;
  std::unique_ptr<Recordset> rows =
      db.Query(u"PRAGMA journal_mode = WAL", {}, Connection::kKeepAll);
  const std::string mode =
      rows->AtEnd() ? "" : U8(rows->Field(u"journal_mode").ToText());
  while (!rows->AtEnd()) rows->MoveNext();
  return mode;
}

bool MakeTokenKey(const std::string& home) {
  const std::string path = home + "/" + kTokenKeyPath;
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return false;
    throw Failure(path + ": cannot be made: " + std::strerror(errno));
  }
  const std::string key = NewRandomToken() + NewRandomToken() + "\n";
  const bool written =
      ::fchmod(fd, 0600) == 0 &&
      ::write(fd, key.data(), key.size()) == static_cast<ssize_t>(key.size()) &&
      ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  if (!written) {
    ::unlink(path.c_str());
    throw Failure(path + ": cannot be written: " + std::strerror(error));
  }
  return true;
}

int64_t SealStoredTokens(Connection& db, const std::string& key) {
  if (!TableExists(db, u"registrations")) return 0;
  bool has_seal_column = true;
  try {
    std::unique_ptr<Recordset> probe =
        db.Query(u"SELECT token_sealed FROM registrations WHERE 1 = 0", {}, 0);
    while (!probe->AtEnd()) probe->MoveNext();
  } catch (const Failure&) {
    has_seal_column = false;
  }
  struct Row {
    Value id;
    std::u16string address;
    int number;
    std::string token;
  };
  int64_t sealed = 0;
  InTransaction(db, [&] {
    if (!has_seal_column) {
      db.Execute(
          u"ALTER TABLE registrations ADD COLUMN token_sealed TEXT NOT NULL "
          u"DEFAULT ''");
    }
    std::vector<Row> rows;
    std::unique_ptr<Recordset> read = db.Query(
        u"SELECT id, address, number, token FROM registrations "
        u"WHERE token_sealed = ''",
        {}, 0);
    for (; !read->AtEnd(); read->MoveNext()) {
      const std::string token = U8(read->Field(u"token").ToText());
      if (!IsTokenText(token)) continue;  // a hash already
      rows.push_back({read->Field(u"id"), read->Field(u"address").ToText(),
                      static_cast<int>(read->Field(u"number").AsInteger()),
                      token});
    }
    for (const Row& row : rows) {
      std::unique_ptr<Recordset> done = db.Query(
          u"UPDATE registrations SET token = $2, token_sealed = $3 "
          u"WHERE id = $1",
          {row.id, Value::Text(U16(TokenHash(row.token))),
           Value::Text(
               U16(SealToken(key, row.address, row.number, row.token)))},
          0);
      while (!done->AtEnd()) done->MoveNext();
      ++sealed;
    }
  });
  return sealed;
}

void KeepDatabaseSound(const std::string& home,
                       const std::u16string& connection_string, Connection& db,
                       std::ostream& out) {
  if (MakeTokenKey(home)) {
    out << "made " << home << "/" << kTokenKeyPath
        << " (the key that seals the stored tokens)\n";
  }
  std::unique_ptr<TextFiles> files = NewSiteTextFiles(home);
  if (const int64_t sealed = SealStoredTokens(db, LoadTokenKey(*files))) {
    out << "sealed the tokens of " << sealed
        << (sealed == 1 ? " registration\n" : " registrations\n");
  }
  const std::optional<std::string> file = SqliteFileOf(connection_string, home);
  if (!file) return;
  const std::optional<std::string> mode = UseWriteAheadLog(db);
  if (mode == "wal") {
    out << "journal mode of " << *file << ": wal\n";
  } else {
    out << "note: " << *file << " keeps the journal mode " << mode.value_or("")
        << ": its file system cannot share a write-ahead log, so writers "
           "wait for readers\n";
  }
  for (const std::string& change : KeepDatabaseFromOthers(home, *file)) {
    out << (change.starts_with("note:") ? "" : "mode ") << change << "\n";
  }
}

}  // namespace qlok
