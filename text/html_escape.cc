#include "text/html_escape.h"

namespace qlok {

std::u16string EscapeHtml(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    switch (c) {
      case u'&':
        out += u"&amp;";
        break;
      case u'"':
        out += u"&quot;";
        break;
      case u'<':
        out += u"&lt;";
        break;
      case u'>':
        out += u"&gt;";
        break;
      case u'\'':
        out += u"&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

}  // namespace qlok
