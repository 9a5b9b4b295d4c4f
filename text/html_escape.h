// Escaping of texts placed into HTML.
#ifndef QLOK_TEXT_HTML_ESCAPE_H_
#define QLOK_TEXT_HTML_ESCAPE_H_

#include <string>
#include <string_view>

namespace qlok {

// Replaces & " < > and ' by character references (&amp; &quot; &lt; &gt;
// &#39;), so the text shows as it is inside element content and inside an
// attribute value quoted with either quote.
std::u16string EscapeHtml(std::u16string_view text);

}  // namespace qlok

#endif  // QLOK_TEXT_HTML_ESCAPE_H_
