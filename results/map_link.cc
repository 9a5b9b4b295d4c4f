#include "results/map_link.h"

#include <string_view>

namespace qlok {
namespace {

constexpr size_t kNone = std::u16string::npos;
constexpr char16_t kBlank = u'\u3000';  // full-width blank
constexpr char16_t kHyphen = u'－';     // U+FF0D

// One cut of the trimmed address. Positions count from 1. The cut applies
// when the address is longer than `longer_than` and the first `marker` at
// or after `search_start` stands at `found_at` or later; it then cuts at
// the first `marker` of the whole address.
struct Cut {
  size_t longer_than;
  std::u16string_view marker;
  size_t search_start;
  size_t found_at;
  bool keep_marker;
};

constexpr Cut kCuts[] = {
    {10, u"（", 1, 8, false},   {10, u"※", 1, 8, false},
    {10, u"＊", 1, 8, false},   {10, u"番地", 7, 8, true},
    {10, u"丁目", 7, 10, true}, {10, u"ビル", 7, 8, true},
    {12, u"－", 10, 11, false}, {12, u"番", 8, 10, true},
};

// The postcode: "〒", seven digits with their hyphen and one separator.
void DropPostcode(std::u16string& a) {
  if (!a.empty() && a.front() == u'〒') a.erase(0, 10);  // all when shorter
}

// Full-width blanks: one far in or shortly after a hyphen ends the address
// (a building or remark follows); others are dropped.
void ResolveBlanks(std::u16string& a) {
  for (size_t at; (at = a.find(kBlank)) != kNone;) {
    size_t p = at + 1;
    if (p >= 11) {
      a.resize(at);
      return;
    }
    size_t hyphen = a.find(kHyphen);
    long d = static_cast<long>(p) -
             static_cast<long>(hyphen == kNone ? 0 : hyphen + 1);
    if (d >= 1 && d <= 3) {
      a.resize(at);
      return;
    }
    a.erase(at, 1);
  }
}

void DropPrefecture(std::u16string& a) {
  std::u16string_view v = a;
  size_t ken = a.find(u'県');
  if (v.starts_with(u"北海道") || v.starts_with(u"東京都") ||
      v.starts_with(u"大阪府") || v.starts_with(u"京都府") || ken == 2) {
    a.erase(0, 3);
  } else if (ken == 3) {
    a.erase(0, 4);
  }
}

void ApplyCuts(std::u16string& a) {
  for (const Cut& cut : kCuts) {
    if (a.size() <= cut.longer_than) continue;
    size_t found = a.find(cut.marker, cut.search_start - 1);
    if (found == kNone || found + 1 < cut.found_at) continue;
    size_t first = a.find(cut.marker);
    a.resize(cut.keep_marker ? first + cut.marker.size() : first);
  }
}

}  // namespace

std::u16string AddressMapLink(std::u16string_view address,
                              std::u16string_view map_base) {
  std::u16string a(address);
  DropPostcode(a);
  ResolveBlanks(a);
  DropPrefecture(a);
  ApplyCuts(a);
  if (a.size() > 25) a.resize(25);

  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string link(map_base);
  link += u"/m/m.cgi?";
  for (char16_t c : a) {
    for (int shift = 12; shift >= 0; shift -= 4)
      link += kHex[(c >> shift) & 15];
  }
  return link;
}

}  // namespace qlok
