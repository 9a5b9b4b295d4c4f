#include "platform/user_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>

#include "platform/failure.h"

namespace qlok {
namespace {

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

std::string UserName(uid_t uid) {
  if (const passwd* entry = ::getpwuid(uid)) return entry->pw_name;
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  if (const group* entry = ::getgrgid(gid)) return entry->gr_name;
  return std::to_string(gid);
}

// The accesses `account` has on a file with `owner`, `group` and `mode`.
int Granted(const Account& account, uid_t owner, gid_t group, mode_t mode) {
  if (account.uid == 0) return kMayRead | kMayWrite | kMaySearch;
  if (account.uid == owner) return (mode >> 6) & 7;
  if (account.gid == group ||
      std::find(account.groups.begin(), account.groups.end(), group) !=
          account.groups.end()) {
    return (mode >> 3) & 7;
  }
  return mode & 7;
}

std::string Refusal(const Account& account, const struct stat& status,
                    int wanted) {
  const int lacking =
      wanted & ~Granted(account, status.st_uid, status.st_gid, status.st_mode);
  return account.name + " may not " + AccessWords(lacking) + " it (owner " +
         UserName(status.st_uid) + ", group " + GroupName(status.st_gid) +
         ", mode " + Octal(status.st_mode) + ")";
}

Account FromEntry(const passwd& entry) {
  Account account;
  account.name = entry.pw_name;
  account.uid = entry.pw_uid;
  account.gid = entry.pw_gid;
  int count = 32;
  std::vector<gid_t> groups(count);
  while (::getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) <
         0) {
    groups.resize(count + 32);
    count = static_cast<int>(groups.size());
  }
  groups.resize(count);
  account.groups = groups;
  return account;
}

// Writes all of `text` to `fd`; false when it cannot.
bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string AccessWords(int wanted) {
  std::vector<std::string> verbs;
  if (wanted & kMayRead) verbs.push_back("read");
  if (wanted & kMayWrite) verbs.push_back("write to");
  if (wanted & kMaySearch) verbs.push_back("enter");
  std::string text;
  for (size_t i = 0; i < verbs.size(); ++i) {
    if (i > 0) text += i + 1 == verbs.size() ? " and " : ", ";
    text += verbs[i];
  }
  return text;
}

std::optional<Account> LookUpAccount(const std::string& name) {
  const passwd* entry = ::getpwnam(name.c_str());
  if (entry == nullptr) return std::nullopt;
  return FromEntry(*entry);
}

Account CurrentAccount() {
  const uid_t uid = ::geteuid();
  if (const passwd* entry = ::getpwuid(uid)) return FromEntry(*entry);
  Account account;
  account.name = std::to_string(uid);
  account.uid = uid;
  account.gid = ::getegid();
  account.groups = {account.gid};
  return account;
}

bool ModeGrants(const Account& account, uid_t owner, gid_t group, mode_t mode,
                int wanted) {
  return (Granted(account, owner, group, mode) & wanted) == wanted;
}

PathAccess CheckPathAccess(const Account& account, const std::string& path,
                           int wanted) {
  namespace fs = std::filesystem;
  PathAccess result;
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error).lexically_normal();
  if (error) {
    result.problem = path + ": cannot be looked at: " + error.message();
    return result;
  }
  // Every folder above must let the account through.
  fs::path above = absolute.root_path();
  for (auto part = absolute.begin(); part != absolute.end(); ++part) {
    if (std::next(part) == absolute.end()) break;
    if (part->empty() || *part == absolute.root_path()) continue;
    above /= *part;
    struct stat status;
    if (::stat(above.c_str(), &status) != 0) {
      if (errno == ENOENT) return result;  // missing further up
      result.problem = above.string() + ": " + std::strerror(errno);
      return result;
    }
    if (!ModeGrants(account, status.st_uid, status.st_gid, status.st_mode,
                    kMaySearch)) {
      result.problem = "the folder " + above.string() +
                       " on the way: " + Refusal(account, status, kMaySearch);
      return result;
    }
  }
  struct stat status;
  if (::stat(absolute.c_str(), &status) != 0) {
    if (errno != ENOENT) result.problem = std::strerror(errno);
    return result;
  }
  result.exists = true;
  result.folder = S_ISDIR(status.st_mode);
  if (!ModeGrants(account, status.st_uid, status.st_gid, status.st_mode,
                  wanted)) {
    result.problem = Refusal(account, status, wanted);
  }
  return result;
}

std::string RunAsAccount(const Account& account,
                         const std::function<std::string()>& work) {
  if (::geteuid() == account.uid) return work();
  if (::geteuid() != 0) {
    throw Failure("only the superuser can act as " + account.name);
  }
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) {
    throw Failure(std::string("cannot make a pipe: ") + std::strerror(errno));
  }
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
    throw Failure(std::string("cannot start a process: ") +
                  std::strerror(error));
  }
  if (child == 0) {
    // The child: take the identity, do the work, hand the answer back.
    // Status 0 sends the answer, 1 a failure's message.
    ::close(pipe_ends[0]);
    int status = 1;
    std::string answer;
    if (::setgroups(account.groups.size(), account.groups.data()) != 0 ||
        ::setgid(account.gid) != 0 || ::setuid(account.uid) != 0) {
      answer = "cannot act as " + account.name + ": " + std::strerror(errno);
    } else {
      try {
        answer = work();
        status = 0;
      } catch (const std::exception& failure) {
        answer = failure.what();
      } catch (...) {
        answer = "the work failed";
      }
    }
    ::_exit(WriteAll(pipe_ends[1], answer) ? status : 2);
  }
  ::close(pipe_ends[1]);
  std::string answer;
  char buffer[4096];
  while (true) {
    ssize_t n = ::read(pipe_ends[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    answer.append(buffer, static_cast<size_t>(n));
  }
  ::close(pipe_ends[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 2) {
    throw Failure("the process acting as " + account.name +
                  " ended without an answer");
  }
  if (WEXITSTATUS(status) != 0) throw Failure(answer);
  return answer;
}

}  // namespace qlok
