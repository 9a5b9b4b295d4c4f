// The file-backed settings store.
//
// Layout: <dir>/<app>/<section>/<key>, each of the three names encoded so
// that any text makes one safe file name, and the file holding the value in
// UTF-8. A durable text is written to a fresh temporary file in the key's
// folder, synced, and renamed over the key file. An atomic text is written
// into the key's spare, a file of its own beside the key file
// (".spare-<key>"), which then swaps names with the key file; the old text
// becomes the spare of the next write (see WriteThroughSpare). Both
// replace the key file in one step, so a reader gets either the old text or
// the new one, never a part, and two writers never mix their texts (the
// later one wins). Reads and writes never wait for each other but for the
// microseconds a spare is being written; the store's lock, on
// <dir>/store.lock (a name no encoded name can take, as it holds a "."),
// is for callers that must read and write in turn.
#include "platform/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "platform/failure.h"
#include "platform/file_lock.h"
#include "platform/read_to_end.h"
#include "platform/sync_folder.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// Names longer than this (in encoded bytes) keep a prefix and a hash of the
// whole name, so that a file name never exceeds the usual limit of 255.
constexpr size_t kMaxPlainName = 200;
constexpr size_t kKeptPrefix = 160;
constexpr char kLockFileName[] = "store.lock";
// The spare of a key: a name no encoded name nor temporary file takes.
constexpr char kSparePrefix[] = ".spare-";
// How long a reader waits for a writer that overwrites the file in place.
constexpr std::chrono::milliseconds kReadPatience{1000};

std::string ErrnoText(int error) { return std::strerror(error); }

[[noreturn]] void Fail(const std::string& what, const std::string& path,
                       int error) {
  throw Failure("settings store: " + what + " " + path + ": " +
                ErrnoText(error));
}

bool IsPlainByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || c == '_' || c == '-';
}

uint64_t Fnv1a64(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

void AppendHex(std::string& out, uint64_t value, int digits) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i) out += kHex[(value >> (4 * i)) & 15];
}

// Letters, digits, "_" and "-" stay; every other byte of the UTF-8 form is
// written as "%XX". So the result never holds "/", "." or NUL, never starts
// with "." (temporary files do), and different texts give different names.
// The empty text becomes "%", which no other text gives. Very long names
// end in "~" and a hash; "~" appears in no other name.
std::string EncodeName(std::u16string_view name) {
  if (name.empty()) return "%";
  const std::string utf8 = U8(name);
  std::string out;
  for (unsigned char c : utf8) {
    if (IsPlainByte(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      AppendHex(out, c, 2);
    }
  }
  if (out.size() > kMaxPlainName) {
    // Keep a prefix that does not cut an escape in half.
    size_t cut = kKeptPrefix;
    if (out[cut - 1] == '%') {
      cut -= 1;
    } else if (out[cut - 2] == '%') {
      cut -= 2;
    }
    out.resize(cut);
    out += '~';
    AppendHex(out, Fnv1a64(utf8), 16);
    AppendHex(out, Fnv1a64(out + utf8), 16);
  }
  return out;
}

void MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return;
  const int error = errno;
  struct stat st;
  if (error == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return;
  Fail("cannot create folder", path, error);
}

void WriteAll(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("cannot write", path, errno);
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

// A name for a temporary file that no other process picks: the process id,
// a counter of this process and a random number.
std::string TemporaryName() {
  static std::atomic<uint64_t> counter{0};
  static const uint64_t salt = [] {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device();
  }();
  std::string name = ".tmp-" + std::to_string(::getpid()) + "-" +
                     std::to_string(counter.fetch_add(1)) + "-";
  AppendHex(name, salt ^ Fnv1a64(name), 16);
  return name;
}

// Puts the written file `temporary` in the place of the key file `path`.
//
// A durable text is renamed over the key file, whose folder is then synced.
// An atomic text swaps names
// with it instead, and the old file, now under the temporary name, is then
// removed: a swap, unlike a rename over a file, makes ext4 start no writing
// of the new file at once. Where there is no key file yet, or the file
// system cannot swap, the text is renamed as a durable one is.
void Replace(const std::string& temporary, const std::string& path,
             SettingsStore::Sync sync) {
  if (sync == SettingsStore::Sync::kAtomic &&
      ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(),
                  RENAME_EXCHANGE) == 0) {
    // The key holds the new text; a file that cannot be removed here is
    // only a leftover.
    if (::unlink(temporary.c_str()) == 0 || errno != EISDIR) return;
    // A folder stood in the key's place, which a rename would not have
    // replaced: it goes back, and the write fails as a rename would.
    ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(),
                RENAME_EXCHANGE);
    Fail("cannot replace", path, EISDIR);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0)
    Fail("cannot replace", path, errno);
  if (sync == SettingsStore::Sync::kDurable) {
    // The new name lasts a crash only once the folder that holds it is on
    // the disk too.
    const std::string folder = path.substr(0, path.rfind('/'));
    if (const int error = SyncFolder(folder)) {
      Fail("cannot flush", folder, error);
    }
  }
}

// Takes, or only tries to take, a lock on the whole of `fd`; false when
// another description holds one that conflicts, or the file system takes
// no locks.
bool LockWhole(int fd, LockKind kind, std::chrono::milliseconds patience) {
  try {
    return TakeLock(fd, kind, LockRange{}, patience);
  } catch (const Failure&) {
    return false;
  }
}

// Writes `bytes` as the text of the key file `path` through its spare file
// `spare`, and returns true; returns false, having changed nothing a
// reader sees, when the spare cannot be used this time (the caller then
// writes through a temporary file).
//
// Every write of a new file costs the file system an inode, and the file it
// replaces one more to free; where requests rewrite the same few keys all
// the time, that is most of what a write costs (ext4 without a journal,
// for one, then looks through its recently freed inodes on each). A spare
// is overwritten in place instead and swapped with the key file, so a key
// written again and again keeps its two files.
//
// An overwrite in place must never meet a reader: a reader may still hold
// the file open from the time it was the key file. So readers hold a
// shared lock while they read (Read), and the writer overwrites the spare
// only under an exclusive lock it takes without waiting, having made sure
// that what it locked is still the spare; a reader that opened the file
// just before keeps waiting for its lock until the swap, and then reads
// the new text whole. When the lock is taken, the spare is another's, or
// the file system cannot lock or swap, the spare is left alone.
bool WriteThroughSpare(const std::string& spare, const std::string& path,
                       std::string_view bytes) {
  bool created = false;
  int fd = ::open(spare.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(spare.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    created = fd >= 0;
  }
  if (fd < 0) return false;
  struct stat opened, named;
  bool written =
      LockWhole(fd, LockKind::kExclusive, std::chrono::milliseconds(0)) &&
      ::fstat(fd, &opened) == 0 && ::stat(spare.c_str(), &named) == 0 &&
      opened.st_dev == named.st_dev && opened.st_ino == named.st_ino &&
      S_ISREG(opened.st_mode);
  for (off_t at = 0; written && at < static_cast<off_t>(bytes.size());) {
    const ssize_t n = ::pwrite(fd, bytes.data() + at, bytes.size() - at, at);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    at += n;
  }
  written = written && (opened.st_size <= static_cast<off_t>(bytes.size()) ||
                        ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0);
  bool swapped = false;
  if (written) {
    swapped = ::renameat2(AT_FDCWD, spare.c_str(), AT_FDCWD, path.c_str(),
                          RENAME_EXCHANGE) == 0;
    struct stat old;
    if (swapped && ::lstat(spare.c_str(), &old) == 0 && !S_ISREG(old.st_mode)) {
      // Something else than a file stood in the key's place: it goes back,
      // and the write through a temporary file fails on it as it should.
      ::renameat2(AT_FDCWD, spare.c_str(), AT_FDCWD, path.c_str(),
                  RENAME_EXCHANGE);
      swapped = false;
    } else if (!swapped && errno == ENOENT) {
      // No key file yet: the spare becomes it, and the next write makes a
      // new spare.
      swapped = ::rename(spare.c_str(), path.c_str()) == 0;
    }
  }
  // A spare made for nothing would only be left over.
  if (created && !swapped) ::unlink(spare.c_str());
  ::close(fd);
  return swapped;
}

// The lock of the store: an open description of the lock file holding an
// exclusive lock, released when it closes.
class FileLock : public SettingsStore::Lock {
 public:
  explicit FileLock(int fd) : fd_(fd) {}
  ~FileLock() override { ::close(fd_); }

 private:
  int fd_;
};

class FileSettingsStore : public SettingsStore {
 public:
  // An empty folder name means the current folder.
  explicit FileSettingsStore(std::string dir)
      : dir_(dir.empty() ? std::string(".") : std::move(dir)) {}

  std::u16string Read(const std::u16string& app, const std::u16string& section,
                      const std::u16string& key,
                      const std::u16string& fallback) override {
    const std::string path = FolderOf(app, section) + "/" + EncodeName(key);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      // No key file, or not even its folder: the key was never written.
      if (errno == ENOENT) return fallback;
      Fail("cannot open", path, errno);
    }
    // The shared lock keeps a writer from overwriting this file in place
    // while it is read, should it become a spare meanwhile (see
    // WriteThroughSpare); a writer holds its lock for microseconds.
    LockWhole(fd, LockKind::kShared, kReadPatience);
    std::optional<std::string> bytes = ReadToEnd(fd);
    const int error = errno;
    ::close(fd);
    if (!bytes) Fail("cannot read", path, error);
    return U16(*bytes);
  }

  void Write(const std::u16string& app, const std::u16string& section,
             const std::u16string& key, const std::u16string& value,
             Sync sync) override {
    const std::string folder = FolderOf(app, section);
    const std::string name = EncodeName(key);
    const std::string path = folder + "/" + name;
    const std::string bytes = U8(value);
    if (sync == Sync::kAtomic &&
        WriteThroughSpare(folder + "/" + kSparePrefix + name, path, bytes)) {
      return;
    }

    std::string temporary;
    int fd = -1;
    bool folders_made = false;
    for (int attempt = 0; fd < 0; ++attempt) {
      temporary = folder + "/" + TemporaryName();
      fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                  0666);
      if (fd >= 0) break;
      const int error = errno;
      // The folders are made only when they are missing, so that a write to
      // a section that exists costs no more than the file itself.
      if (error == ENOENT && !folders_made) {
        MakeFolders(app, section);
        folders_made = true;
        continue;
      }
      // A leftover of a crashed process of the same id: take another name.
      if (error != EEXIST || attempt >= 8)
        Fail("cannot create", temporary, error);
    }
    try {
      WriteAll(fd, bytes, temporary);
      // A durable text reaches the disk before the name points at it, so a
      // crash leaves the old value or the new one, not an empty file.
      if (sync == Sync::kDurable && ::fsync(fd) != 0)
        Fail("cannot flush", temporary, errno);
      const int result = ::close(fd);
      fd = -1;
      if (result != 0) Fail("cannot close", temporary, errno);
      Replace(temporary, path, sync);
    } catch (...) {
      if (fd >= 0) ::close(fd);
      ::unlink(temporary.c_str());
      throw;
    }
  }

  void Remove(const std::u16string& app, const std::u16string& section,
              const std::u16string& key) override {
    const std::string folder = FolderOf(app, section);
    const std::string name = EncodeName(key);
    const std::string path = folder + "/" + name;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
      Fail("cannot remove", path, errno);
    // Its spare, if it has one, goes too; one that stays is only a
    // leftover.
    ::unlink((folder + "/" + kSparePrefix + name).c_str());
  }

  std::unique_ptr<Lock> LockExclusively(
      std::chrono::milliseconds patience) override {
    const int fd =
        OpenLockFile(dir_ + "/" + kLockFileName, LockKind::kExclusive);
    try {
      if (!TakeLock(fd, LockKind::kExclusive, LockRange{}, patience)) {
        throw Failure("settings store: cannot lock " + dir_ +
                      ": another process kept it locked too long");
      }
    } catch (...) {
      ::close(fd);
      throw;
    }
    return std::make_unique<FileLock>(fd);
  }

 private:
  std::string FolderOf(const std::u16string& app,
                       const std::u16string& section) const {
    return dir_ + "/" + EncodeName(app) + "/" + EncodeName(section);
  }

  void MakeFolders(const std::u16string& app, const std::u16string& section) {
    MakeFolder(dir_);
    MakeFolder(dir_ + "/" + EncodeName(app));
    MakeFolder(FolderOf(app, section));
  }

  std::string dir_;
};

}  // namespace

std::unique_ptr<SettingsStore> NewFileSettingsStore(const std::string& dir) {
  return std::make_unique<FileSettingsStore>(dir);
}

}  // namespace qlok
