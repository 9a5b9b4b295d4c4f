// The program's one error trap and the 500 error page it shows.
#ifndef QLOK_FRAME_ERROR_PAGE_H_
#define QLOK_FRAME_ERROR_PAGE_H_

#include <functional>
#include <string>
#include <string_view>

#include "frame/request_fields.h"
#include "platform/clock.h"
#include "platform/error_log.h"
#include "text/date_time.h"

namespace qlok {

// The title the trap gives the error page.
inline constexpr char16_t kRuntimeErrorTitle[] = u"エラーが発生しました";
// The title of the error page given an empty one.
inline constexpr char16_t kServerErrorTitle[] = u"サーバーエラー";

// The viewport of every page: as wide as the phone's screen, and the
// visitor may zoom.
inline constexpr char16_t kPhoneViewport[] =
    u"<meta name=\"viewport\" content=\"width=device-width, "
    u"initial-scale=1\">";

// Replaces ResponseHeader with the content type and the CGI status line
// "Status: 500 Internal Server Error", and PageBuffer with the twelve lines
// of the error page, in Japanese in the page shell's head (code page, the
// phone viewport, the style sheet): `title` (HTML, as the program writes
// it; the empty title stands for kServerErrorTitle) as title and heading,
// an apology that asks the visitor to try again later and says nothing of
// the cause, the time stamp WebDate(now), and a link back to HttpReferer,
// escaped for the attribute. Whatever the page held before is discarded.
// Never fails.
void ShowErrorPage(RequestFields& fields, std::u16string_view title,
                   const DateTime& now);

// A local time (taken to run 9 hours ahead of Greenwich) as Greenwich time
// in the form "Wed 09 Dec 2026 01:30:05 GMT", with English abbreviations.
std::u16string WebDate(const DateTime& local);

// Runs stretches of the request under the error trap.
class ErrorTrap {
 public:
  // `clock` stamps the error page; `errors` (the web server's error log,
  // standard error) gets one line per failure that the trap catches.
  ErrorTrap(Clock& clock, ErrorLog& errors) : clock_(clock), errors_(errors) {}

  // Runs `stretch` and returns true when it completes. When it throws a
  // Failure, another std::exception or anything else, the reason goes to
  // the error log as one line "q_lok: <reason>" (control characters
  // blanked, cut at 2000 bytes), ShowErrorPage(fields, kRuntimeErrorTitle,
  // now) replaces the response, and false is returned: the caller then
  // leaves the page as it is. Nothing of the reason reaches the page.
  bool Run(RequestFields& fields, const std::function<void()>& stretch);

 private:
  void Report(const std::string& reason);

  Clock& clock_;
  ErrorLog& errors_;
};

}  // namespace qlok

#endif  // QLOK_FRAME_ERROR_PAGE_H_
