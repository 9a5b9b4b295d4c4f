// Syncing a folder, for the platform layer's own use: a file made, renamed
// or removed in a folder lasts a crash only once the folder is synced too.
#ifndef QLOK_PLATFORM_SYNC_FOLDER_H_
#define QLOK_PLATFORM_SYNC_FOLDER_H_

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace qlok {

// Syncs the folder `folder` to the disk; 0, or the errno of the open or the
// sync that failed.
inline int SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return error;
}

}  // namespace qlok

#endif  // QLOK_PLATFORM_SYNC_FOLDER_H_
