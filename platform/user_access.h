// What a user account of the system may do with the files of a site home,
// worked out from the account's user and group ids and the owner, group and
// mode of each file and of every folder on the way to it; and running a
// piece of work under such an account. For the operator's check of a site
// home for the web server's user. Access control lists are not consulted.
#ifndef QLOK_PLATFORM_USER_ACCESS_H_
#define QLOK_PLATFORM_USER_ACCESS_H_

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qlok {

struct Account {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;              // the primary group
  std::vector<gid_t> groups;  // every group, the primary one among them
};

// The account named `name`, with all its groups; nothing when the system
// has no such user. Never throws.
std::optional<Account> LookUpAccount(const std::string& name);

// The account this process runs as (its effective user id).
Account CurrentAccount();

// Kinds of access, as the mode bits of a file give them; combine with |.
enum FileAccess { kMayRead = 4, kMayWrite = 2, kMaySearch = 1 };

// The accesses of `wanted` in words: "read, write to and enter".
std::string AccessWords(int wanted);

// Whether `account` has every access of `wanted` on a file with `owner`,
// `group` and `mode` under the system's rules: the owner's bits for the
// owner, else the group's bits for a member of the group, else the others'
// bits; the superuser reads, writes and searches everything.
bool ModeGrants(const Account& account, uid_t owner, gid_t group, mode_t mode,
                int wanted);

// What a path is and whether an account may use it.
struct PathAccess {
  bool exists = false;
  bool folder = false;
  // Empty when `account` has the access asked for; else what stands in the
  // way, in plain words: "www-data may not write to it (owner root, group
  // root, mode 0755)", or a folder on the way that does not let it through.
  std::string problem;
};

// Looks at `path` (made absolute) and at every folder above it, each of
// which `account` must be able to search. A path that does not exist gives
// exists = false and no problem unless a folder above stops the account.
// Never throws.
PathAccess CheckPathAccess(const Account& account, const std::string& path,
                           int wanted);

// Runs `work` in a child process with the identity of `account` (its
// groups, group id and user id) and returns what `work` returned. When
// this process already runs as that user, `work` runs here. Throws Failure
// when the identity cannot be taken (only the superuser may) or the child
// ends without an answer; what `work` throws in the child comes back as a
// Failure with its message.
std::string RunAsAccount(const Account& account,
                         const std::function<std::string()>& work);

}  // namespace qlok

#endif  // QLOK_PLATFORM_USER_ACCESS_H_
