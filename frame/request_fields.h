// The fields of one request and the page buffer.
//
// One process serves one request: CgiMain fills these fields from the
// environment and standard input, the page shell appends the page to
// PageBuffer, and CgiMain writes ResponseHeader and PageBuffer out. The
// field names are the ones the rest of the program knows them by.
#ifndef QLOK_FRAME_REQUEST_FIELDS_H_
#define QLOK_FRAME_REQUEST_FIELDS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "site/site_config.h"

namespace qlok {

struct RequestFields {
  std::u16string QueryString;     // QUERY_STRING; has no effect on the page
  std::u16string HttpCookie;      // HTTP_COOKIE; has no effect on the page
  std::u16string HttpReferer;     // HTTP_REFERER; the error page's "Go Back"
  std::u16string ContentType;     // CONTENT_TYPE, read only with a body
  std::u16string PostedString;    // the body, one character per byte
  std::u16string ResponseHeader;  // header lines, each ended by CR LF
  std::u16string PageBuffer;      // the page, each line ended by CR LF
  int32_t ContentLength = 0;      // CONTENT_LENGTH; 0 without a body
};

// The request handler: gets the URL-decoded posted string (which it may
// change) and the site configuration, and returns the HTML of the page
// body. Throws Failure (or any std::exception) for the page shell's trap.
using RequestHandler = std::function<std::u16string(std::u16string& posted,
                                                    const SiteConfig& site)>;

// Appends `line` and CR LF to `page_buffer`. The line is taken as it is,
// line breaks inside it included. Never fails.
void AppendLine(std::u16string& page_buffer, std::u16string_view line);

}  // namespace qlok

#endif  // QLOK_FRAME_REQUEST_FIELDS_H_
