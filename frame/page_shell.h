// The page shell: the fixed head and foot around the request handler's
// output, and the advertisement blocks.
#ifndef QLOK_FRAME_PAGE_SHELL_H_
#define QLOK_FRAME_PAGE_SHELL_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "frame/error_page.h"
#include "frame/request_fields.h"
#include "site/site_config.h"

namespace qlok {

// Handler outputs up to this many UTF-16 code units (counted before the
// HTML escaping of the texts they show) get the advertisement foot; longer
// ones the short foot.
inline constexpr size_t kAdvertisementFootLimit = 10000;

// Appends a whole page around `body` (HTML) to `page`: the eight head lines,
// an empty line, `body` as one line, the advertisement foot (twenty lines
// built from `site`) or, for a body above kAdvertisementFootLimit without
// the `escape_growth` code units that HTML escaping added to it, the short
// foot, then "</DIV>", "</BODY>" and "</HTML>". Never fails.
void AppendFramedPage(std::u16string& page, const SiteConfig& site,
                      std::u16string_view body, size_t escape_growth = 0);

// Appends the page to fields.PageBuffer, all of it under `trap`: the eight
// head lines; then, only when fields.PostedString is not empty, an empty
// line, the handler's output for UrlDecode(PostedString) as one line and
// the advertisement foot (twenty lines built from `site`) or, for an output
// above kAdvertisementFootLimit before escaping, the short foot; then
// "</DIV>", "</BODY>"
// and "</HTML>" (AppendFramedPage around the handler's output). The
// handler is not called for an empty posted string.
// When anything fails, the trap's error page replaces the response and the
// page ends there. Throws nothing.
void BuildPage(RequestFields& fields, const SiteConfig& site,
               const RequestHandler& handler, ErrorTrap& trap);

}  // namespace qlok

#endif  // QLOK_FRAME_PAGE_SHELL_H_
