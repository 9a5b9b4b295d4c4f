#include "text/text_utils.h"

#include <array>
#include <cstddef>

namespace qlok {
namespace {

struct Replacement {
  char16_t from;
  char16_t to;
  bool kept_in_web_addresses;
};

// In the order the sanitiser applies them. The first three are left alone in
// texts that look like a web address, so that the address stays usable.
constexpr std::array<Replacement, 15> kReplacements = {{
    {u'%', u'％', true},
    {u'/', u'／', true},
    {u':', u'：', true},
    {u'\'', u'’', false},
    {u',', u'、', false},
    {u'&', u'＆', false},
    {u'+', u'＋', false},
    {u'|', u'｜', false},
    {u';', u'；', false},
    {u'=', u'＝', false},
    {u'\\', u'￥', false},
    {u'?', u'？', false},
    {u'*', u'※', false},
    {u'<', u'a', false},
    {u'>', u'a', false},
}};

bool IsControl(char16_t c) { return c <= 0x1F || c == 0x7F; }

// What no single deliverable address holds: control characters of both
// ranges and the line separators, blanks of every width (the mail sender
// refuses a recipient with any of these, so a registration would be
// confirmed whose mails can never go out), the angle brackets that enclose
// an address in the mail dialogue, and the separators of address lists.
bool IsUnfitForAddress(char16_t c) {
  return c <= 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200B) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF ||
         c == u'<' || c == u'>' || c == u',' || c == u';';
}

}  // namespace

std::u16string SanitizeText(std::u16string_view text) {
  std::u16string s(text);
  if (s.size() <= 3) return s;
  // Each pass replaces the first remaining occurrence of every listed symbol,
  // and there are n - 2 passes. No replacement is itself a listed symbol, so
  // the outcome is: the first n - 2 occurrences of each symbol are replaced.
  // Counting them in one walk gives that outcome in linear time.
  const size_t passes = s.size() - 2;
  const bool looks_like_web_address =
      text.find(u"http") != std::u16string_view::npos ||
      text.find(u"www") != std::u16string_view::npos;
  std::array<size_t, kReplacements.size()> replaced{};
  for (char16_t& c : s) {
    for (size_t k = 0; k < kReplacements.size(); ++k) {
      const Replacement& r = kReplacements[k];
      if (c != r.from) continue;
      if (looks_like_web_address && r.kept_in_web_addresses) break;
      if (replaced[k] < passes) {
        c = r.to;
        ++replaced[k];
      }
      break;
    }
  }
  return s;
}

std::u16string CheckMailAddress(std::u16string_view address) {
  const size_t at = address.find(u'@');
  const bool something_before_at = at != std::u16string_view::npos && at > 0;
  const bool has_full_stop = address.find(u'.') != std::u16string_view::npos;
  bool harmless = true;
  for (char16_t c : address) {
    if (IsUnfitForAddress(c)) harmless = false;
  }
  if (something_before_at && has_full_stop && address.size() >= 4 && harmless) {
    return u"y";
  }
  return u"no";
}

std::u16string CrLfToBr(std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
      out += u"<BR>";
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  text = out;
  return out;
}

std::u16string BlankControlCharacters(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (IsControl(c)) c = u' ';
  }
  return out;
}

}  // namespace qlok
