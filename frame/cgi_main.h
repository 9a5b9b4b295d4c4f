// The process entry of the CGI program: from the request the web server
// hands over (environment and standard input) to the response on standard
// output.
#ifndef QLOK_FRAME_CGI_MAIN_H_
#define QLOK_FRAME_CGI_MAIN_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "frame/error_page.h"
#include "frame/request_fields.h"
#include "platform/clock.h"
#include "platform/error_log.h"
#include "site/site_config.h"

namespace qlok {

// Bodies above this many bytes are refused with the error page.
inline constexpr int32_t kMaxContentLength = 1 << 20;

// The value of an environment variable; the empty text when it is unset.
using EnvironmentLookup = std::function<std::string(const char* name)>;

// Where the request body comes from (standard input).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes into `buffer` and returns how many; 0 means
  // the input has ended. May return fewer bytes than asked while more are
  // still to come (a pipe delivers a body in pieces). Throws Failure when
  // the input cannot be read.
  virtual size_t Read(char* buffer, size_t size) = 0;
};

// Where the response goes (standard output).
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all of `bytes`. Throws Failure when they cannot be written.
  virtual void Write(std::string_view bytes) = 0;
  // Ends the output: its reader (the web server) sees the end while the
  // process goes on. Nothing is written after. The default does nothing.
  virtual void Close() {}
};

// What the web server gives the process, and where its failures are told.
struct CgiProcess {
  EnvironmentLookup environment;
  ByteSource& input;
  ByteSink& output;
  ErrorLog& errors;  // the web server's error log
  Clock& clock;      // stamps the error page
};

// The value of CONTENT_LENGTH: empty (or blanks only) is 0, no body; blanks
// around the number and a sign are allowed, and 0 or below means no body.
// Throws Failure for anything that is not a whole number and for a number
// above kMaxContentLength.
int32_t ParseContentLength(std::string_view text);

// Reads `length` bytes of the body: reads until it has them all or the
// input ends. Each byte below 0x80 becomes the character with that code,
// each byte of 0x80 or above one "." (the form arrives URL-encoded, so such
// bytes are no part of it); bytes that never arrive stay zero and become
// U+0000. The empty text for a length of 0 or below. Failures of the input
// are thrown.
std::u16string ReadPostBody(ByteSource& input, int32_t length);

// Writes `response` in code page 932 followed by two zero bytes, with one
// call of output.Write. Failures of the output are thrown.
void WriteResponse(ByteSink& output, std::u16string_view response);

// The intake of a request: fills `fields` from QUERY_STRING, HTTP_COOKIE,
// HTTP_REFERER and CONTENT_LENGTH (bytes taken as UTF-8), and only with a
// length above 0 from CONTENT_TYPE and the body; sets ResponseHeader to
// "Content-type: text/html" and empties PageBuffer; then loads the site
// configuration into `site` through `load_site`. All of it runs under
// `trap`: false when something failed (the error page is then in
// `fields`).
bool TakeRequest(CgiProcess& process, RequestFields& fields, ErrorTrap& trap,
                 const std::function<SiteConfig()>& load_site,
                 SiteConfig& site);

// Writes ResponseHeader, a blank line, PageBuffer and one CR LF more
// through WriteResponse. Failures of the output are thrown.
void WriteFields(CgiProcess& process, const RequestFields& fields);

// Serves one request. Reads QUERY_STRING, HTTP_COOKIE, HTTP_REFERER and
// CONTENT_LENGTH (bytes taken as UTF-8); only with a length above 0 also
// CONTENT_TYPE and the body. Then loads the site configuration through
// `load_site`, builds the page with the page shell and `handler`, and writes
// the header "Content-type: text/html", a blank line, the page and one CR LF
// more through WriteResponse.
//
// A bad CONTENT_LENGTH, a failing input, a failing `load_site` or anything
// the page shell's trap catches gives the 500 error page instead (the cause
// goes to process.errors as one line; the body is not read after a bad
// length). Only a failing output is thrown, as Failure.
//
// With `added_headers`, what the handler has left there once it returns
// (header lines ending in CR LF, for example a status) goes into the
// response header after the content type; the error page takes none.
void CgiMain(CgiProcess& process, const std::function<SiteConfig()>& load_site,
             const RequestHandler& handler,
             const std::u16string* added_headers = nullptr);

}  // namespace qlok

#endif  // QLOK_FRAME_CGI_MAIN_H_
