// The site's text files on disk, and the in-memory stand-in for tests.
#include "platform/text_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/code_page.h"
#include "platform/failure.h"
#include "platform/file_lock.h"

namespace qlok {
namespace {

// How long an append or an emptying waits for the others to finish theirs.
constexpr std::chrono::milliseconds kLockPatience{5000};

[[noreturn]] void Fail(const std::string& what, const std::string& path,
                       int error) {
  throw Failure("text file: " + what + " " + path + ": " +
                std::strerror(error));
}

// Splits off complete lines from the front of `pending` into `lines` (at
// most `max_lines` in all), dropping LF or CR LF. Returns true when enough
// lines have been taken.
bool TakeLines(std::string& pending, size_t max_lines,
               std::vector<std::u16string>& lines) {
  size_t start = 0;
  while (lines.size() < max_lines) {
    const size_t end = pending.find('\n', start);
    if (end == std::string::npos) break;
    size_t stop = end;
    if (stop > start && pending[stop - 1] == '\r') --stop;
    // No byte of a double-byte character of the code page is LF, so the
    // bytes can be cut at LF before they are decoded.
    lines.push_back(
        FromAnsi(std::string_view(pending).substr(start, stop - start)));
    start = end + 1;
  }
  pending.erase(0, start);
  return lines.size() >= max_lines;
}

// The last line of a file that does not end in a line end.
void TakeRest(const std::string& pending, size_t max_lines,
              std::vector<std::u16string>& lines) {
  if (!pending.empty() && lines.size() < max_lines)
    lines.push_back(FromAnsi(pending));
}

// Paths are given by the program itself; still, none of them may leave the
// site home.
void CheckRelative(const std::string& path) {
  bool bad = path.empty() || path.front() == '/';
  size_t start = 0;
  while (!bad && start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) bad = true;
    start = end + 1;
  }
  if (bad) throw Failure("text file: path outside the site home: " + path);
}

// Closes a descriptor when it goes out of scope, which also drops its lock.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now; the result of close(2).
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// Writers of a file take turns: each holds an exclusive lock on the whole
// file while it changes it.
void LockForWriting(int fd, const std::string& full) {
  if (!TakeLock(fd, LockKind::kExclusive, LockRange{}, kLockPatience))
    throw Failure("text file: cannot lock " + full +
                  ": others kept it locked too long");
}

class SiteTextFiles : public TextFiles {
 public:
  // An empty folder name means the current folder.
  SiteTextFiles(std::string home, WriteFunction write)
      : home_(home.empty() ? std::string(".") : std::move(home)),
        write_(std::move(write)) {}

  std::vector<std::u16string> ReadLines(const std::string& path,
                                        size_t max_lines) override {
    const std::string full = FullPath(path);
    const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("cannot open", full, errno);
    std::vector<std::u16string> lines;
    std::string pending;
    char buffer[8192];
    bool done = max_lines == 0;
    while (!done) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::close(fd);
        Fail("cannot read", full, error);
      }
      if (n == 0) {
        TakeRest(pending, max_lines, lines);
        break;
      }
      pending.append(buffer, static_cast<size_t>(n));
      done = TakeLines(pending, max_lines, lines);
    }
    ::close(fd);
    return lines;
  }

  void Truncate(const std::string& path) override {
    const std::string full = FullPath(path);
    Descriptor fd(::open(full.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.get() < 0) Fail("cannot empty", full, errno);
    // Not while another process appends: its record would land at an
    // offset this cut has just removed.
    LockForWriting(fd.get(), full);
    if (::ftruncate(fd.get(), 0) != 0) Fail("cannot empty", full, errno);
    if (fd.Close() != 0) Fail("cannot close", full, errno);
  }

  void Append(const std::string& path, std::string_view bytes) override {
    const std::string full = FullPath(path);
    // No O_CREAT: a log that is not there is a failure, not a new file.
    Descriptor fd(::open(full.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (fd.get() < 0) Fail("cannot open for appending", full, errno);
    // A record the disk takes only in part is cut off again, back to the
    // size the file had before. That cut must only ever remove this
    // process's own bytes, so every appender holds the file's exclusive
    // lock from reading the size until its record is written whole or cut
    // off: while it holds it, no other record can land behind the partial
    // one. (Cutting only when the file still ends with our part would leave
    // a moment between the look and the cut in which another append slips
    // in and is cut with it.) The lock is held for one write.
    LockForWriting(fd.get(), full);
    struct stat before;
    if (::fstat(fd.get(), &before) != 0) Fail("cannot examine", full, errno);
    // One write: the kernel places it at the end of the file as a whole.
    // Only a short write (the disk is full, a signal came) makes a second.
    size_t written = 0;
    while (written < bytes.size()) {
      const ssize_t n =
          write_(fd.get(), bytes.data() + written, bytes.size() - written);
      if (n > 0) {
        written += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      const int error = n < 0 ? errno : EIO;
      if (written > 0 && ::ftruncate(fd.get(), before.st_size) != 0) {
        throw Failure(
            "text file: cannot append to " + full + ": " +
            std::strerror(error) + "; " + std::to_string(written) +
            " bytes written cannot be taken back: " + std::strerror(errno));
      }
      Fail("cannot append to", full, error);
    }
    if (fd.Close() != 0) Fail("cannot close", full, errno);
  }

  bool Exists(const std::string& path) override {
    const std::string full = FullPath(path);
    struct stat status;
    if (::stat(full.c_str(), &status) == 0) return true;
    if (errno == ENOENT || errno == ENOTDIR) return false;
    Fail("cannot look for", full, errno);
  }

 private:
  std::string FullPath(const std::string& path) const {
    CheckRelative(path);
    return home_ + "/" + path;
  }

  std::string home_;
  WriteFunction write_;
};

}  // namespace

bool TextFiles::Exists(const std::string& path) {
  try {
    ReadLines(path, 0);
    return true;
  } catch (const Failure&) {
    return false;
  }
}

std::unique_ptr<TextFiles> NewSiteTextFiles(const std::string& home) {
  return NewSiteTextFiles(home, ::write);
}

std::unique_ptr<TextFiles> NewSiteTextFiles(const std::string& home,
                                            WriteFunction write) {
  return std::make_unique<SiteTextFiles>(home, std::move(write));
}

std::vector<std::u16string> InMemoryTextFiles::ReadLines(
    const std::string& path, size_t max_lines) {
  if (fail_all) throw Failure("text file: failing on purpose: " + path);
  auto it = files.find(path);
  if (it == files.end()) throw Failure("text file: no such file: " + path);
  std::vector<std::u16string> lines;
  std::string pending = it->second;
  if (!TakeLines(pending, max_lines, lines))
    TakeRest(pending, max_lines, lines);
  return lines;
}

void InMemoryTextFiles::Truncate(const std::string& path) {
  if (fail_all) throw Failure("text file: failing on purpose: " + path);
  auto it = files.find(path);
  if (it == files.end()) throw Failure("text file: no such file: " + path);
  it->second.clear();
}

bool InMemoryTextFiles::Exists(const std::string& path) {
  if (fail_all) throw Failure("text file: failing on purpose: " + path);
  return files.count(path) != 0;
}

void InMemoryTextFiles::Append(const std::string& path,
                               std::string_view bytes) {
  if (fail_all) throw Failure("text file: failing on purpose: " + path);
  auto it = files.find(path);
  if (it == files.end()) throw Failure("text file: no such file: " + path);
  it->second.append(bytes);
}

}  // namespace qlok
