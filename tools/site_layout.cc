#include "tools/site_layout.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/failure.h"
#include "platform/random_token.h"
#include "site/site_config.h"
#include "text/unicode.h"

namespace qlok {
namespace {

void Key(std::string& out, const char* name, const std::u16string& value) {
  out += "; ";
  out += name;
  out += " = ";
  out += U8(value);
  out += "\n";
}

// The mode SiteModes() gives `path`.
unsigned ModeOf(const std::string& path) {
  for (const SiteMode& entry : SiteModes()) {
    if (path == entry.path) return entry.mode;
  }
  throw Failure("no mode for " + path);
}

// Creates `path` with `content` and `mode` unless something is there
// already; true when it was created.
bool CreateFile(const std::string& path, const std::string& content,
                unsigned mode) {
  // O_EXCL: fail rather than open a file that exists. The mode is set again
  // once the file is open, since the umask may have taken bits from it.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                        static_cast<mode_t>(mode));
  if (fd < 0) {
    if (errno == EEXIST) return false;
    throw Failure(path + ": cannot be created: " + std::strerror(errno));
  }
  bool written = ::fchmod(fd, static_cast<mode_t>(mode)) == 0;
  for (size_t done = 0; written && done < content.size();) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) written = false;
    if (n > 0) done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) written = false;
  if (!written) throw Failure(path + ": cannot be written");
  return true;
}

std::string Octal(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

}  // namespace

const std::vector<SiteMode>& SiteModes() {
  static const std::vector<SiteMode> modes = {
      // The home holds the SQLite database (visitors' addresses): its
      // folder is the site's alone.
      {"", 0750},
      {"pw", 0700},
      {"received", 0700},
      {"settings", 0700},
      {"outbox", 0700},  // visitors' mails: for the owner only
      {"pw/qevo.txt", 0600},
      {"pw/mail.txt", 0600},
      {"received/worqlet.txt", 0600},
      {"pw/token_key", 0600},  // the key that seals the stored tokens
      {"site.conf", 0644},
  };
  return modes;
}

std::string CommentedSiteConf() {
  const SiteConfig c = SiteConfig::Defaults();
  std::string out =
      "; The site configuration of q_lok (UTF-8).\n"
      "; Every key is optional: while it stays commented out, the example\n"
      "; value shown stands. Remove the \"; \" before a key to set it.\n"
      "\n[site]\n"
      "; the site's top page, linked from the page and the match mail\n";
  Key(out, "top_url", c.top_url);
  out += "; scheme and host of the map page /m/m.cgi\n";
  Key(out, "map_base", c.map_base);
  out +=
      "; who sends the mails: shown in every daily mail and manage page\n"
      "; (the operator's name, postal address, and mail or telephone)\n";
  Key(out, "operator_name", c.operator_name);
  Key(out, "operator_address", c.operator_address);
  Key(out, "operator_contact", c.operator_contact);
  out +=
      "\n[employment_service]\n"
      "; the job-search site of the public employment service: the secure\n"
      "; address for the page, the plain one for the mail\n";
  Key(out, "page_url", c.service_page_url);
  Key(out, "mail_url", c.service_mail_url);
  for (size_t i = 0; i < c.ads.size(); ++i) {
    out += "\n[ad" + std::to_string(i + 1) + "]\n";
    if (i == 0) {
      out +=
          "; an advertisement block: where it links, the text of the text\n"
          "; link, the 1x1 images beside the text and the banner, and the\n"
          "; banner picture\n";
    }
    Key(out, "link", c.ads[i].link);
    Key(out, "text", c.ads[i].text);
    Key(out, "tracking_image", c.ads[i].tracking_image);
    Key(out, "banner_image", c.ads[i].banner_image);
    Key(out, "banner_tracking", c.ads[i].banner_tracking);
  }
  out += "\n[smtp]\n; the mail relays, host names\n";
  Key(out, "first_relay", c.first_relay);
  Key(out, "second_relay", c.second_relay);
  out +=
      "; their ports: submission (both relays) and the second relay's own\n"
      "; for the registration records\n";
  Key(out, "submission_port", Digits(c.submission_port));
  Key(out, "relay_port", Digits(c.relay_port));
  out +=
      "; required: a login goes only inside STARTTLS (a relay named\n"
      "; localhost or 127.x.x.x excepted); opportunistic: plain when the\n"
      "; relay offers no STARTTLS\n";
  Key(out, "tls",
      c.smtp_tls == SiteConfig::kTlsRequired ? u"required" : u"opportunistic");
  out += "; seconds an attempt may take to connect, and in all\n";
  Key(out, "connect_timeout", Digits(c.smtp_connect_timeout));
  Key(out, "attempt_timeout", Digits(c.smtp_attempt_timeout));
  out +=
      "\n[request]\n"
      "; seconds a request may take whatever the relays do; a mail the rest\n"
      "; of the time does not allow waits in outbox/\n";
  Key(out, "time_limit", Digits(c.request_time_limit));
  out +=
      "\n[database]\n"
      "; PostgreSQL: seconds to connect, and seconds a statement of the\n"
      "; search page may run\n";
  Key(out, "connect_timeout", Digits(c.database_connect_timeout));
  Key(out, "statement_timeout", Digits(c.database_statement_timeout));
  out +=
      "\n[manage]\n"
      "; the address of q_lok-manage.cgi, written into every match mail, and\n"
      "; how often a day it mails one address the list of its registrations\n";
  Key(out, "page_url", c.manage_url);
  Key(out, "lookups_per_day", Digits(c.manage_lookups_per_day));
  out +=
      "\n[notify]\n"
      "; the daily run stops after this many registrations in a row whose\n"
      "; mail reached no relay, or after time_limit seconds, and leaves the\n"
      "; rest for the next run\n";
  Key(out, "give_up_after", Digits(c.notify_give_up_after));
  Key(out, "time_limit", Digits(c.notify_time_limit));
  out +=
      "\n[senders]\n"
      "; the sender addresses of the three accounts; their authentication\n"
      "; texts are the three lines of pw/mail.txt\n";
  for (size_t i = 0; i < c.sender_addresses.size(); ++i) {
    Key(out, ("account" + std::to_string(i + 1)).c_str(),
        c.sender_addresses[i]);
  }
  out +=
      "\n[registration]\n"
      "; required: daily mails only after the owner of the address confirms\n"
      "; through the manage link; none: the site confirms otherwise\n";
  Key(out, "confirmation",
      c.confirmation == SiteConfig::kConfirmationRequired ? u"required"
                                                          : u"none");
  out +=
      "; days after which notify deletes what was never confirmed, and what\n"
      "; was stopped\n";
  Key(out, "confirm_days", Digits(c.confirm_days));
  Key(out, "keep_stopped_days", Digits(c.keep_stopped_days));
  out +=
      "; registrations for one address in 24 hours, and from one client in\n"
      "; an hour\n";
  Key(out, "mails_per_address_per_day", Digits(c.mails_per_address_per_day));
  Key(out, "per_client_per_hour", Digits(c.per_client_per_hour));
  out +=
      "\n[mail]\n"
      "; the envelope sender of match and daily mails, tagged with each\n"
      "; registration's token (local+TOKEN@domain); empty: the account's\n";
  Key(out, "bounce_address", c.bounce_address);
  out += "; hard bounces after which a registration is stopped\n";
  Key(out, "bounces_to_stop", Digits(c.bounces_to_stop));
  return out;
}

std::vector<std::string> LayOutSite(const std::string& home,
                                    const std::string& connection_string) {
  namespace fs = std::filesystem;
  std::vector<std::string> made;
  for (const char* folder : {"", "pw", "received", "settings", "outbox"}) {
    const fs::path path = fs::path(home) / folder;
    std::error_code error;
    const bool created = fs::create_directories(path, error);
    if (!error && created) {
      fs::permissions(path, static_cast<fs::perms>(ModeOf(folder)),
                      fs::perm_options::replace, error);
    }
    if (error) {
      throw Failure(path.string() + ": cannot be made: " + error.message());
    }
    if (created && *folder != '\0') made.push_back(folder);
  }
  struct File {
    const char* path;
    std::string content;
  };
  const File files[] = {
      {"pw/qevo.txt",
       std::string("q_lok job database\n"
                   "line 3 is the connection string; lines 1, 2 and 4 are "
                   "not used\n") +
           connection_string +
           "\n"
           "end\n"},
      {"pw/mail.txt", "user1:password1\nuser2:password2\nuser3:password3\n"},
      {"pw/token_key", NewRandomToken() + NewRandomToken() + "\n"},
      {"received/worqlet.txt", ""},
      {"site.conf", CommentedSiteConf()},
  };
  for (const File& file : files) {
    if (CreateFile((fs::path(home) / file.path).string(), file.content,
                   ModeOf(file.path))) {
      made.push_back(file.path);
    }
  }
  return made;
}

std::vector<std::string> SetSiteModes(const std::string& home) {
  // A home that is a link stands for the folder it names.
  const std::filesystem::path root = std::filesystem::canonical(home);
  std::vector<std::string> changed;
  for (const SiteMode& entry : SiteModes()) {
    const std::string path = (root / entry.path).string();
    // O_NOFOLLOW: a link is left alone (its mode is not its own), also one
    // put there after a look at the name.
    const int fd =
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat status;
    bool done = ::fstat(fd, &status) == 0;
    // The owner gets what the mode gives; group and others keep only what
    // they had and the mode allows, so nothing is opened wider.
    const unsigned was = status.st_mode & 07777;
    const unsigned mode = (entry.mode & 0700) | (was & entry.mode & 0077);
    if (done && was != mode) {
      done = ::fchmod(fd, static_cast<mode_t>(mode)) == 0;
      if (done) {
        changed.push_back((*entry.path != '\0' ? entry.path : ".") +
                          std::string(" ") + Octal(was) + " -> " + Octal(mode));
      }
    }
    const int error = errno;
    ::close(fd);
    if (!done) {
      throw Failure(path + ": cannot be given the mode " + Octal(mode) + ": " +
                    std::strerror(error));
    }
  }
  return changed;
}

SiteOwner ParseSiteOwner(const std::string& text) {
  const size_t colon = text.find(':');
  const std::string user = text.substr(0, colon);
  const std::string group =
      colon == std::string::npos ? "" : text.substr(colon + 1);
  if (user.empty() || (colon != std::string::npos && group.empty())) {
    throw Failure("--owner takes USER or USER:GROUP, not \"" + text + "\"");
  }
  auto number = [](const std::string& name) -> std::optional<unsigned> {
    if (name.empty() || name.size() > 9 ||
        name.find_first_not_of("0123456789") != std::string::npos) {
      return std::nullopt;
    }
    return static_cast<unsigned>(std::stoul(name));
  };
  SiteOwner owner{};
  const struct passwd* account = ::getpwnam(user.c_str());
  if (account == nullptr && number(user)) account = ::getpwuid(*number(user));
  if (account == nullptr) throw Failure("no user " + user + " on this system");
  owner.uid = account->pw_uid;
  owner.gid = account->pw_gid;
  std::string user_name = account->pw_name;
  if (!group.empty()) {
    const struct group* entry = ::getgrnam(group.c_str());
    if (entry == nullptr && number(group)) entry = ::getgrgid(*number(group));
    if (entry == nullptr) {
      throw Failure("no group " + group + " on this system");
    }
    owner.gid = entry->gr_gid;
  }
  const struct group* entry = ::getgrgid(owner.gid);
  owner.text = user_name + ":" +
               (entry != nullptr ? std::string(entry->gr_name)
                                 : std::to_string(owner.gid));
  return owner;
}

namespace {

// Hands everything in the open folder `folder` (shown as `shown`) to
// `owner`, folder by folder through descriptors: each name is changed
// without following a link, and entered only as a folder that is not a
// link, so that whoever may write below the home (the web server's user)
// cannot swap a folder for a link and have a file elsewhere handed over.
void HandFolder(int folder, const std::string& shown, const SiteOwner& owner,
                size_t& count) {
  const int listing = ::dup(folder);
  DIR* dir = listing < 0 ? nullptr : ::fdopendir(listing);
  if (dir == nullptr) {
    const int error = errno;
    if (listing >= 0) ::close(listing);
    throw Failure(shown + ": cannot be read: " + std::strerror(error));
  }
  std::unique_ptr<DIR, int (*)(DIR*)> closing(dir, ::closedir);
  while (true) {
    errno = 0;
    const struct dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) {
        throw Failure(shown + ": cannot be read: " + std::strerror(errno));
      }
      return;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = shown + "/" + name;
    if (::fchownat(folder, name.c_str(), owner.uid, owner.gid,
                   AT_SYMLINK_NOFOLLOW) != 0) {
      throw Failure(path + ": cannot be handed to " + owner.text + ": " +
                    std::strerror(errno));
    }
    ++count;
    if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) continue;
    const int inner = ::openat(folder, name.c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (inner < 0) {
      // Not a folder (any more): a link or a file, handed over itself.
      if (errno == ENOTDIR || errno == ELOOP || errno == ENOENT) continue;
      throw Failure(path + ": cannot be opened: " + std::strerror(errno));
    }
    try {
      HandFolder(inner, path, owner, count);
    } catch (...) {
      ::close(inner);
      throw;
    }
    ::close(inner);
  }
}

}  // namespace

size_t HandSiteTo(const std::string& home, const SiteOwner& owner) {
  // A home that is a link stands for the folder it names.
  const int root = ::open(home.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    throw Failure(home + ": cannot be opened: " + std::strerror(errno));
  }
  size_t count = 0;
  try {
    if (::fchown(root, owner.uid, owner.gid) != 0) {
      throw Failure(home + ": cannot be handed to " + owner.text + ": " +
                    std::strerror(errno));
    }
    ++count;
    HandFolder(root, home, owner, count);
  } catch (...) {
    ::close(root);
    throw;
  }
  ::close(root);
  return count;
}

}  // namespace qlok
