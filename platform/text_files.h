// The site's text files: the mail account file, the connection-string file
// and the registration log. Paths are relative to the site home (for example
// "pw/qevo.txt"); texts are in the ANSI code page (code page 932) on disk.
#ifndef QLOK_PLATFORM_TEXT_FILES_H_
#define QLOK_PLATFORM_TEXT_FILES_H_

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qlok {

class TextFiles {
 public:
  virtual ~TextFiles() = default;
  // The first `max_lines` lines of a file (fewer when the file is shorter),
  // decoded from the ANSI code page, without their line ends (LF or CR LF).
  // Throws Failure when the file is missing or cannot be read.
  virtual std::vector<std::u16string> ReadLines(const std::string& path,
                                                size_t max_lines) = 0;
  // Empties an existing file. Throws Failure when it is missing or cannot be
  // written.
  virtual void Truncate(const std::string& path) = 0;
  // Appends `bytes` to an existing file, whole or not at all: the appends
  // of concurrent processes never interleave, and bytes that the disk takes
  // only in part (it is full) are taken back, leaving the file as it was.
  // Throws Failure when the file is missing or the bytes cannot be written
  // whole (the message then also says when some could not be taken back).
  virtual void Append(const std::string& path, std::string_view bytes) = 0;
  // True when the file is there, whether or not it can be read. Throws
  // Failure when that cannot be told. (This default, for stand-ins, counts
  // a file that cannot be read as missing.)
  virtual bool Exists(const std::string& path);
};

// The files under the site home folder `home`.
std::unique_ptr<TextFiles> NewSiteTextFiles(const std::string& home);

// The same, writing through `write` (called as write(2) is) instead of the
// system's; for tests that fail part-way.
using WriteFunction =
    std::function<ssize_t(int fd, const void* data, size_t size)>;
std::unique_ptr<TextFiles> NewSiteTextFiles(const std::string& home,
                                            WriteFunction write);

// Files held in memory, with failures on demand; for tests.
class InMemoryTextFiles : public TextFiles {
 public:
  // Path to content (ANSI bytes). A path absent from the map is missing.
  std::map<std::string, std::string> files;
  // When set, every call throws Failure.
  bool fail_all = false;

  std::vector<std::u16string> ReadLines(const std::string& path,
                                        size_t max_lines) override;
  void Truncate(const std::string& path) override;
  void Append(const std::string& path, std::string_view bytes) override;
  bool Exists(const std::string& path) override;
};

}  // namespace qlok

#endif  // QLOK_PLATFORM_TEXT_FILES_H_
