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
#include <utility>

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

// What a request handler returns: the HTML of the page body, and how many
// code units HTML escaping added to the texts it shows (the query text and
// the visitor's values in the form). The page shell chooses its foot by the
// length of the body before that escaping, which does not change what the
// visitor reads.
struct PageBody {
  PageBody(std::u16string body_html, size_t body_escape_growth = 0)
      : html(std::move(body_html)), escape_growth(body_escape_growth) {}
  std::u16string html;
  size_t escape_growth = 0;
};

// The request handler: gets the URL-decoded posted string (which it may
// change) and the site configuration, and returns the page body. Throws
// Failure (or any std::exception) for the page shell's trap.
using RequestHandler =
    std::function<PageBody(std::u16string& posted, const SiteConfig& site)>;

// Appends `line` and CR LF to `page_buffer`. The line is taken as it is,
// line breaks inside it included. Never fails.
void AppendLine(std::u16string& page_buffer, std::u16string_view line);

}  // namespace qlok

#endif  // QLOK_FRAME_REQUEST_FIELDS_H_
