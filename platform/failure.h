// The one exception type of the program.
//
// A run-time failure anywhere (a file that is missing, a database that does
// not answer, a form value that cannot be decoded) is thrown as a Failure.
// The page shell's trap catches it and answers with the error page; the
// message goes to standard error, never to the page. The stretches of the
// request handler that ignore failures run their statements through
// IgnoringFailure, so that what is ignored can be found in one place.
#ifndef QLOK_PLATFORM_FAILURE_H_
#define QLOK_PLATFORM_FAILURE_H_

#include <exception>
#include <stdexcept>
#include <string>

namespace qlok {

class Failure : public std::runtime_error {
 public:
  // `what` is UTF-8 and says what failed, for the web server's error log.
  explicit Failure(const std::string& what) : std::runtime_error(what) {}
};

// Runs one statement of a stretch whose failures are skipped: whatever
// `statement` throws is swallowed and the caller goes on with its next
// statement; the targets the statement did not reach keep their values.
template <typename Statement>
void IgnoringFailure(Statement&& statement) noexcept {
  try {
    statement();
  } catch (...) {
  }
}

}  // namespace qlok

#endif  // QLOK_PLATFORM_FAILURE_H_
