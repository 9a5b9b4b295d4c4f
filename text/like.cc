#include "text/like.h"

#include <utility>
#include <vector>

namespace qlok {
namespace {

// One element of a pattern. Every element but kStar stands for exactly one
// code unit of the text.
struct Element {
  enum Kind { kLiteral, kAny, kDigit, kList, kStar } kind = kLiteral;
  char16_t unit = 0;                                  // kLiteral
  bool negated = false;                               // kList
  std::vector<std::pair<char16_t, char16_t>> ranges;  // kList, inclusive
};

bool Matches(const Element& e, char16_t c) {
  switch (e.kind) {
    case Element::kLiteral:
      return c == e.unit;
    case Element::kAny:
      return true;
    case Element::kDigit:
      return c >= u'0' && c <= u'9';
    case Element::kList: {
      bool in = false;
      for (const auto& [low, high] : e.ranges) {
        if (c >= low && c <= high) {
          in = true;
          break;
        }
      }
      return in != e.negated;
    }
    case Element::kStar:
      break;
  }
  return false;
}

// The bracket list that starts at pattern[open] == '['. Returns the
// position after its "]", or npos when the list is not closed. "[]" leaves
// `element` without a kind change and reports `empty`.
size_t ParseList(std::u16string_view pattern, size_t open, Element& element,
                 bool& empty) {
  size_t close = pattern.find(u']', open + 1);
  if (close == std::u16string_view::npos) return close;
  std::u16string_view list = pattern.substr(open + 1, close - open - 1);
  element.kind = Element::kList;
  if (!list.empty() && list.front() == u'!') {
    element.negated = true;
    list.remove_prefix(1);
  } else if (list.empty()) {
    empty = true;
  }
  for (size_t i = 0; i < list.size();) {
    char16_t low = list[i];
    if (i + 2 < list.size() && list[i + 1] == u'-') {
      element.ranges.emplace_back(low, list[i + 2]);  // reversed: empty
      i += 3;
    } else {
      element.ranges.emplace_back(low, low);
      ++i;
    }
  }
  return close + 1;
}

std::vector<Element> Parse(std::u16string_view pattern) {
  std::vector<Element> elements;
  for (size_t i = 0; i < pattern.size();) {
    Element e;
    char16_t c = pattern[i];
    if (c == u'*') {
      e.kind = Element::kStar;
      // A run of stars is one star.
      if (!elements.empty() && elements.back().kind == Element::kStar) {
        ++i;
        continue;
      }
    } else if (c == u'?') {
      e.kind = Element::kAny;
    } else if (c == u'#') {
      e.kind = Element::kDigit;
    } else if (c == u'[') {
      bool empty = false;
      size_t after = ParseList(pattern, i, e, empty);
      if (after != std::u16string_view::npos) {
        if (!empty) elements.push_back(std::move(e));
        i = after;
        continue;
      }
      e = Element{};
      e.unit = c;
    } else {
      e.unit = c;
    }
    elements.push_back(std::move(e));
    ++i;
  }
  return elements;
}

}  // namespace

bool MatchesLike(std::u16string_view text, std::u16string_view pattern) {
  const std::vector<Element> elements = Parse(pattern);
  // Greedy scan that remembers only the last star: when a later element
  // fails, the last star takes one more code unit and the scan resumes
  // after it. Earlier stars never need to be revisited, because every
  // other element is exactly one code unit long.
  size_t t = 0, p = 0;
  size_t star = std::u16string_view::npos, star_text = 0;
  while (t < text.size()) {
    if (p < elements.size() && elements[p].kind == Element::kStar) {
      star = p++;
      star_text = t;
    } else if (p < elements.size() && Matches(elements[p], text[t])) {
      ++p;
      ++t;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      t = ++star_text;
    } else {
      return false;
    }
  }
  while (p < elements.size() && elements[p].kind == Element::kStar) ++p;
  return p == elements.size();
}

}  // namespace qlok
