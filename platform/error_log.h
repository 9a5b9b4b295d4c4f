// Where the CGI programs write their error lines: standard error, which the
// web server keeps in its error log.
//
// A small stream of its own rather than std::ostream: the first stream of
// the C++ library a process makes sets up its locales, which in a program
// started for every request cost a tenth of a millisecond and some 700 KiB
// of memory. What is written is kept until a line is complete (or until
// flush) and then written whole, so that the lines of requests that run at
// the same time never interleave.
#ifndef QLOK_PLATFORM_ERROR_LOG_H_
#define QLOK_PLATFORM_ERROR_LOG_H_

#include <string>
#include <string_view>
#include <utility>

namespace qlok {

class ErrorLog {
 public:
  virtual ~ErrorLog() = default;

  ErrorLog& operator<<(std::string_view text) {
    Append(text);
    return *this;
  }
  ErrorLog& operator<<(const char* text) {
    return *this << std::string_view(text);
  }
  ErrorLog& operator<<(const std::string& text) {
    return *this << std::string_view(text);
  }
  ErrorLog& operator<<(char c) { return *this << std::string_view(&c, 1); }

  // Hands over what was written so far, a line not yet ended too.
  virtual void flush() {}

 protected:
  virtual void Append(std::string_view text) = 0;
};

// Writes to a file descriptor (standard error unless told otherwise) at
// each line end, at flush and when destroyed. A failing write is dropped:
// the error log is the last place a failure can be told.
class DescriptorErrorLog : public ErrorLog {
 public:
  explicit DescriptorErrorLog(int fd = 2) : fd_(fd) {}
  DescriptorErrorLog(const DescriptorErrorLog&) = delete;
  DescriptorErrorLog& operator=(const DescriptorErrorLog&) = delete;
  ~DescriptorErrorLog() override { flush(); }

  void flush() override;

 protected:
  void Append(std::string_view text) override;

 private:
  int fd_;
  std::string pending_;
};

// Keeps what is written; for tests.
class StringErrorLog : public ErrorLog {
 public:
  const std::string& str() const { return text_; }
  void str(std::string text) { text_ = std::move(text); }

 protected:
  void Append(std::string_view text) override { text_ += text; }

 private:
  std::string text_;
};

}  // namespace qlok

#endif  // QLOK_PLATFORM_ERROR_LOG_H_
