// Advisory locks on a byte range of an open file, shared by the processes of
// the site (the registration log, the settings store, the running
// instances).
//
// A lock belongs to the open file description: another descriptor of the
// same file in the same process neither shares nor releases it, and it goes
// when the last descriptor of that description closes, at the latest when
// the process ends, however it ends. Only processes that ask for a lock are
// held back by one.
#ifndef QLOK_PLATFORM_FILE_LOCK_H_
#define QLOK_PLATFORM_FILE_LOCK_H_

#include <sys/types.h>

#include <chrono>
#include <string>

namespace qlok {

enum class LockKind { kShared, kExclusive };

// The bytes [start, start + length) of a file; a length of 0 reaches to the
// end of the file, however far it grows.
struct LockRange {
  off_t start = 0;
  off_t length = 0;
};

// Opens (creating it when missing, with the folder it stands in) the file
// `path` to hold locks of `kind` on: an exclusive lock needs a file open
// for writing, a shared one only for reading. Throws Failure when it
// cannot.
int OpenLockFile(const std::string& path, LockKind kind);

// Takes the lock on `range` of `fd`, waiting while another holds one that
// conflicts, for at most `patience`. Returns false when the time ran out.
// Throws Failure when the lock cannot be asked for at all.
bool TakeLock(int fd, LockKind kind, LockRange range,
              std::chrono::milliseconds patience);

// Whether another open file description holds a lock on `range` of `fd`
// that conflicts with `kind`; the caller's own lock does not count. Throws
// Failure when the question cannot be asked.
bool LockedElsewhere(int fd, LockKind kind, LockRange range);

}  // namespace qlok

#endif  // QLOK_PLATFORM_FILE_LOCK_H_
