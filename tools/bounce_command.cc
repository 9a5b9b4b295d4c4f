#include "tools/bounce_command.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <system_error>
#include <vector>

#include "bounces/bounce_message.h"
#include "bounces/hear_bounce.h"
#include "consent/consent_store.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "platform/text_files.h"
#include "registrations/registration_store.h"
#include "site/site_config.h"
#include "tools/admin_commands.h"

namespace qlok {
namespace {

namespace fs = std::filesystem;

// The largest message read: a bounce carries at most the returned mail,
// and a match mail holds at most 100 jobs.
constexpr size_t kLargestMessage = 16 << 20;

std::string ReadAll(std::istream& in) {
  std::string text;
  char chunk[65536];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    text.append(chunk, static_cast<size_t>(in.gcount()));
    if (text.size() > kLargestMessage) break;
  }
  return text;
}

// The site's database, opened on the first message that needs it.
class Stores {
 public:
  explicit Stores(const BounceArguments& arguments) : arguments_(arguments) {}

  BounceOutcome Hear(const BounceReading& reading, const SiteConfig& site) {
    // Nothing of the database is needed to leave a message alone.
    if (reading.kind != BounceReading::kHard) {
      return {false, false, LeftAloneLine(reading)};
    }
    if (db_ == nullptr) {
      db_ = OpenConnection(arguments_.connection_string, arguments_.home);
      files_ = NewSiteTextFiles(arguments_.home);
      registrations_ = NewSqlRegistrationStore(
          *db_, nullptr, [this] { return LoadTokenKey(*files_); });
      consents_ = NewSqlConsentStore(*db_);
    }
    return HearBounce(reading, *registrations_, *consents_, site,
                      NewSystemClock()->Now());
  }

 private:
  const BounceArguments& arguments_;
  std::unique_ptr<Connection> db_;
  std::unique_ptr<TextFiles> files_;
  std::unique_ptr<RegistrationStore> registrations_;
  std::unique_ptr<ConsentStore> consents_;
};

std::string Heard(const std::string& message, const SiteConfig& site,
                  Stores& stores) {
  const BounceReading reading = ReadBounceMessage(message, site.bounce_address);
  return "bounce: " + stores.Hear(reading, site).line;
}

// The new messages of a Maildir, by name (the names begin with their
// time, so this is about the order they came in).
std::vector<fs::path> NewMessages(const fs::path& maildir) {
  std::vector<fs::path> paths;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(maildir / "new")) {
    if (entry.is_regular_file() &&
        entry.path().filename().string().front() != '.') {
      paths.push_back(entry.path());
    }
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

int ReadMaildir(const fs::path& maildir, const SiteConfig& site, Stores& stores,
                std::ostream& out) {
  if (!fs::is_directory(maildir / "new") ||
      !fs::is_directory(maildir / "cur")) {
    throw Failure(maildir.string() + " is no Maildir (it needs new/ and cur/)");
  }
  int read = 0;
  for (const fs::path& path : NewMessages(maildir)) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw Failure(path.string() + ": cannot be read");
    const std::string line = Heard(ReadAll(file), site, stores);
    // Seen: moved to cur/ with the flag S, as mail readers do.
    std::error_code error;
    fs::rename(path, maildir / "cur" / (path.filename().string() + ":2,S"),
               error);
    if (error) {
      throw Failure(path.string() +
                    ": cannot be moved to cur/: " + error.message());
    }
    out << path.filename().string() << ": " << line << "\n";
    ++read;
  }
  out << "bounce: " << read << (read == 1 ? " message" : " messages")
      << " read from " << maildir.string() << "\n";
  return kAdminDone;
}

}  // namespace

int RunBounce(const BounceArguments& arguments, std::istream& in,
              std::ostream& out, std::ostream& err) {
  const SiteConfig site = LoadSiteConfig(arguments.home + "/site.conf");
  Stores stores(arguments);
  if (arguments.maildir) {
    return ReadMaildir(*arguments.maildir, site, stores, out);
  }
  const std::string message = ReadAll(in);
  try {
    out << Heard(message, site, stores) << "\n";
  } catch (const std::exception& failure) {
    err << "q_lok-admin bounce: the bounce was not counted, the mail server "
           "keeps it and tries again: "
        << failure.what() << "\n";
    return kBounceTryAgain;
  }
  return kAdminDone;
}

}  // namespace qlok
