// The outbox on disk and in memory, and the text of a kept message:
//
//   q_lok outbox message 1
//   kind: registration_record
//   kept: 2026-12-09 12:00:00
//   recipient: info@example.jp
//   subject: ss0
//   header: NAME<TAB>VALUE        (one line per header field, in order)
//   answer: the last relay's answer
//   body: 1234
//   <the body, exactly 1234 bytes of UTF-8>
//
// Values are UTF-8 on one line: "\" is written "\\", CR "\r", LF "\n" and
// TAB "\t". The body follows its byte count as it is, so it comes back
// exactly as it was kept.
#include "mail/outbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "platform/failure.h"
#include "platform/read_to_end.h"
#include "platform/sync_folder.h"
#include "text/unicode.h"

namespace qlok {
namespace {

constexpr char kMagic[] = "q_lok outbox message 1";
constexpr char kSuffix[] = ".mail";

std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Unescaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size())
      throw Failure("outbox message: a lone \\ at the end of a line");
    switch (text[i]) {
      case '\\':
        out += '\\';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      default:
        throw Failure(std::string("outbox message: unknown escape \\") +
                      text[i]);
    }
  }
  return out;
}

bool IsPlainKind(std::string_view kind) {
  return !kind.empty() && std::all_of(kind.begin(), kind.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || c == '_';
  });
}

std::string Stamp(const DateTime& t, const char* format) {
  char text[48];
  std::snprintf(text, sizeof text, format, t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

// Reads "name: value" lines off the front of a message text.
class Reader {
 public:
  explicit Reader(std::string_view text) : rest_(text) {}

  std::string_view Line() {
    const size_t end = rest_.find('\n');
    if (end == rest_.npos) throw Failure("outbox message: it ends early");
    std::string_view line = rest_.substr(0, end);
    rest_.remove_prefix(end + 1);
    return line;
  }
  // The value of the next line, which must be `name`.
  std::string Value(std::string_view name) {
    std::string_view line = Line();
    if (line.substr(0, name.size()) != name ||
        line.substr(name.size(), 2) != ": ") {
      throw Failure("outbox message: expected \"" + std::string(name) +
                    ":\", found \"" + std::string(line.substr(0, 40)) + "\"");
    }
    return Unescaped(line.substr(name.size() + 2));
  }
  bool Next(std::string_view name) const {
    return rest_.substr(0, name.size() + 2) == std::string(name) + ": ";
  }
  std::string_view rest() const { return rest_; }

 private:
  std::string_view rest_;
};

// Whole decimal digits, nothing else.
size_t Count(const std::string& text) {
  if (text.empty() || text.size() > 12 ||
      text.find_first_not_of("0123456789") != text.npos) {
    throw Failure("outbox message: not a byte count: " + text);
  }
  return static_cast<size_t>(std::stoull(text));
}

[[noreturn]] void Fail(const std::string& what, const std::string& path,
                       int error) {
  throw Failure("outbox: " + what + " " + path + ": " + std::strerror(error));
}

// A name of this outbox's own files: "NAME.mail" without a folder.
void CheckName(const std::string& name) {
  const size_t n = sizeof kSuffix - 1;
  if (name.size() <= n || name.front() == '.' || name.find('/') != name.npos ||
      name.compare(name.size() - n, n, kSuffix) != 0) {
    throw Failure("outbox: not the name of a kept message: " + name);
  }
}

// Writes all of `bytes` to `fd`; false with errno set when it cannot.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

class FileOutbox : public Outbox {
 public:
  explicit FileOutbox(std::string folder) : folder_(std::move(folder)) {}

  std::string Put(const OutboxMessage& message) override {
    if (!IsPlainKind(message.kind)) {
      throw Failure("outbox: not a plain kind of mail: " + message.kind);
    }
    const std::string text = EncodeOutboxMessage(message);
    MakeFolder();
    const std::string temporary_template = folder_ + "/.keeping.XXXXXX";
    std::vector<char> temporary(temporary_template.begin(),
                                temporary_template.end());
    temporary.push_back('\0');
    // mkstemp makes the file with mode 0600.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) Fail("cannot create a file in", folder_, errno);
    const std::string temporary_path(temporary.data());
    if (!WriteAll(fd, text) || ::fsync(fd) != 0) {
      const int error = errno;
      ::close(fd);
      ::unlink(temporary_path.c_str());
      Fail("cannot write", temporary_path, error);
    }
    if (::close(fd) != 0) {
      const int error = errno;
      ::unlink(temporary_path.c_str());
      Fail("cannot write", temporary_path, error);
    }
    // link() refuses a name that exists, where rename() would replace it;
    // a clash of two random names is retried with a fresh one.
    std::string name;
    int error = EEXIST;
    for (int tries = 0; tries < 5 && error == EEXIST; ++tries) {
      name = NewName(message.kept_at);
      error =
          ::link(temporary_path.c_str(), Path(name).c_str()) == 0 ? 0 : errno;
    }
    ::unlink(temporary_path.c_str());
    if (error != 0) Fail("cannot name", Path(name), error);
    SyncFolder();
    return name;
  }

  std::vector<std::string> List() override {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder_.c_str());
    if (dir == nullptr) {
      if (errno == ENOENT) return names;
      Fail("cannot read", folder_, errno);
    }
    const size_t n = sizeof kSuffix - 1;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      // Temporary files and the claim begin with ".".
      if (name.size() > n && name.front() != '.' &&
          name.compare(name.size() - n, n, kSuffix) == 0) {
        names.push_back(name);
      }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
  }

  OutboxMessage Get(const std::string& name) override {
    CheckName(name);
    const std::string path = Path(name);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("cannot open", path, errno);
    std::optional<std::string> text = ReadToEnd(fd);
    const int error = errno;
    ::close(fd);
    if (!text) Fail("cannot read", path, error);
    try {
      return DecodeOutboxMessage(*text);
    } catch (const Failure& failure) {
      throw Failure(path + ": " + failure.what());
    }
  }

  void Remove(const std::string& name) override {
    CheckName(name);
    const std::string path = Path(name);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      Fail("cannot remove", path, errno);
    }
    SyncFolder();
  }

  std::shared_ptr<void> ClaimForSending() override {
    const std::string path = folder_ + "/.sending";
    // Read-only is enough for the lock, so that whoever made the file (the
    // operator as root, the web server's user from a timer), the others
    // may still take it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 && errno == ENOENT) return std::make_shared<int>(-1);
    if (fd < 0) Fail("cannot open", path, errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) return nullptr;
      Fail("cannot lock", path, error);
    }
    // Closing the file gives the lock up.
    return std::shared_ptr<int>(new int(fd), [](int* held) {
      ::close(*held);
      delete held;
    });
  }

 private:
  std::string Path(const std::string& name) const {
    return folder_ + "/" + name;
  }

  void MakeFolder() {
    if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
      Fail("cannot make the folder", folder_, errno);
    }
  }

  // A rename or removal lasts only once the folder itself is synced.
  void SyncFolder() {
    if (const int error = qlok::SyncFolder(folder_)) {
      Fail("cannot sync", folder_, error);
    }
  }

  // "20261209T120000.123456789-4242-0123456789abcdef.mail": the second it
  // was kept, the fraction of the machine's clock (so that the mails one
  // process keeps in one second sort in their order), the process and a
  // random part.
  static std::string NewName(const DateTime& kept_at) {
    static std::random_device random;
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    char tail[64];
    std::snprintf(tail, sizeof tail, ".%09ld-%d-%08x%08x",
                  static_cast<long>(now.tv_nsec), static_cast<int>(::getpid()),
                  random(), random());
    return Stamp(kept_at, "%04d%02d%02dT%02d%02d%02d") + tail + kSuffix;
  }

  std::string folder_;
};

}  // namespace

std::string EncodeOutboxMessage(const OutboxMessage& message) {
  const std::string body = U8(message.mail.body);
  std::string text = std::string(kMagic) + "\n";
  text += "kind: " + Escaped(message.kind) + "\n";
  text +=
      "kept: " + Stamp(message.kept_at, "%04d-%02d-%02d %02d:%02d:%02d") + "\n";
  text += "recipient: " + Escaped(U8(message.mail.recipient)) + "\n";
  text += "subject: " + Escaped(U8(message.mail.subject)) + "\n";
  for (const auto& [name, value] : message.mail.headers) {
    text += "header: " + Escaped(name) + "\t" + Escaped(value) + "\n";
  }
  // Only a mail with an envelope sender of its own (where its bounces go)
  // has the line, so that files of earlier versions read alike.
  if (!message.mail.envelope_sender.empty()) {
    text += "envelope: " + Escaped(message.mail.envelope_sender) + "\n";
  }
  text += "answer: " + Escaped(U8(message.answer)) + "\n";
  text += "body: " + std::to_string(body.size()) + "\n";
  text += body;
  return text;
}

OutboxMessage DecodeOutboxMessage(std::string_view text) {
  Reader reader(text);
  if (reader.Line() != kMagic) {
    throw Failure("outbox message: not a message of this program");
  }
  OutboxMessage message;
  message.kind = reader.Value("kind");
  const std::string kept = reader.Value("kept");
  std::optional<DateTime> kept_at = ParseDateTime(U16(kept));
  if (!kept_at) throw Failure("outbox message: not a time: " + kept);
  message.kept_at = *kept_at;
  message.mail.recipient = U16(reader.Value("recipient"));
  message.mail.subject = U16(reader.Value("subject"));
  while (reader.Next("header")) {
    // The TAB between name and value is the only raw one on the line.
    const std::string_view line = reader.Line().substr(8);
    const size_t tab = line.find('\t');
    if (tab == line.npos) {
      throw Failure("outbox message: a header line without a TAB");
    }
    message.mail.headers.emplace_back(Unescaped(line.substr(0, tab)),
                                      Unescaped(line.substr(tab + 1)));
  }
  if (reader.Next("envelope")) {
    message.mail.envelope_sender = reader.Value("envelope");
  }
  message.answer = U16(reader.Value("answer"));
  const size_t size = Count(reader.Value("body"));
  if (reader.rest().size() != size) {
    throw Failure("outbox message: the body has " +
                  std::to_string(reader.rest().size()) + " bytes, not " +
                  std::to_string(size));
  }
  message.mail.body = U16(reader.rest());
  return message;
}

std::unique_ptr<Outbox> NewFileOutbox(const std::string& folder) {
  return std::make_unique<FileOutbox>(folder);
}

std::string InMemoryOutbox::Put(const OutboxMessage& message) {
  if (fail_puts) throw Failure("outbox: refused for the test");
  if (!IsPlainKind(message.kind)) {
    throw Failure("outbox: not a plain kind of mail: " + message.kind);
  }
  char name[32];
  std::snprintf(name, sizeof name, "%06d.mail", next_++);
  messages[name] = message;
  return name;
}

std::vector<std::string> InMemoryOutbox::List() {
  std::vector<std::string> names;
  for (const auto& [name, message] : messages) names.push_back(name);
  return names;
}

OutboxMessage InMemoryOutbox::Get(const std::string& name) {
  auto it = messages.find(name);
  if (it == messages.end()) throw Failure("outbox: no message " + name);
  return it->second;
}

void InMemoryOutbox::Remove(const std::string& name) { messages.erase(name); }

std::shared_ptr<void> InMemoryOutbox::ClaimForSending() {
  if (claimed) return nullptr;
  claimed = true;
  return std::shared_ptr<bool>(&claimed, [](bool* held) { *held = false; });
}

}  // namespace qlok
