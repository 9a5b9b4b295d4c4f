// The process entry of a CGI program that answers more than one kind of
// request (the manage page): the method and the query string choose what
// it does, and an answer may carry its own status.
#ifndef QLOK_FRAME_CGI_SERVE_H_
#define QLOK_FRAME_CGI_SERVE_H_

#include <functional>
#include <string>
#include <vector>

#include "frame/cgi_main.h"
#include "site/site_config.h"

namespace qlok {

// One request as the web server hands it over.
struct CgiRequest {
  std::u16string method;        // REQUEST_METHOD: "GET", "POST", ...
  std::u16string query;         // QUERY_STRING, not decoded
  std::u16string content_type;  // CONTENT_TYPE; empty without a body
  // The body as ReadPostBody reads it (bytes of 0x80 and above are "."),
  // not decoded; empty without a body.
  std::u16string body;
  // Why the body was not read: CONTENT_LENGTH is no whole number or above
  // kMaxContentLength (a malformed request, for the handler to answer with
  // 400); empty otherwise.
  std::string refused_body{};
};

// What the program answers.
struct CgiAnswer {
  int status = 200;  // 200, 400, 404, 405 (kStatusTexts)
  // Header lines beside the content type and the status, without line
  // ends, for example "Allow: GET, HEAD, POST".
  std::vector<std::u16string> headers;
  std::u16string body;  // the HTML of the page body
  // Work that must not hold up the answer, as its time would tell the
  // visitor what the page does not say: run once the response has been
  // written and the output closed. What it throws goes to the error log as
  // one line; it cannot change the page.
  std::function<void()> after_response;
};

// Builds the answer to one request. Throws Failure (or any std::exception)
// for the error trap.
using PageHandler =
    std::function<CgiAnswer(const CgiRequest& request, const SiteConfig& site)>;

// "404 Not Found" for 404: the status line of a CGI "Status:" header. A
// status it does not know gives its digits alone.
std::u16string StatusText(int status);

// Serves one request: the same intake as CgiMain (TakeRequest: the body's
// size limit, the configuration, the error page when the configuration
// fails), plus REQUEST_METHOD; then `handler`, under the error trap. A
// CONTENT_LENGTH that ParseContentLength refuses is no server failure: the
// body is not read, and the handler is told why (refused_body). The response is
// "Content-type: text/html", "Status: " + StatusText for any status but
// 200, the answer's header lines, a blank line, and the answer's body in
// the page shell (AppendFramedPage), written through WriteFields. Whatever
// fails before the response is complete gives the 500 error page, its
// cause on process.errors. Then, when the answer has after_response, the
// output is closed and it runs. Only a failing output is thrown.
void CgiServe(CgiProcess& process, const std::function<SiteConfig()>& load_site,
              const PageHandler& handler);

}  // namespace qlok

#endif  // QLOK_FRAME_CGI_SERVE_H_
