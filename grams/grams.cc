#include "grams/grams.h"

#include <algorithm>

namespace qlok {
namespace {

constexpr std::u16string_view kJobTypeColumns[] = {u"職種1", u"職種2",
                                                   u"職種3"};
constexpr std::u16string_view kPlaceColumns[] = {
    u"就労場所1", u"就労場所2", u"就労場所3", u"就労場所4", u"就労場所5"};
constexpr std::u16string_view kContentColumns[] = {
    u"事業内容", u"職種1", u"必免1", u"必免2", u"必免3", u"職内1", u"自由"};

constexpr GramColumn kColumns[] = {
    {u"職種1", {true, false, true}},      {u"職種2", {true, false, false}},
    {u"職種3", {true, false, false}},     {u"就労場所1", {false, true, false}},
    {u"就労場所2", {false, true, false}}, {u"就労場所3", {false, true, false}},
    {u"就労場所4", {false, true, false}}, {u"就労場所5", {false, true, false}},
    {u"事業内容", {false, false, true}},  {u"必免1", {false, false, true}},
    {u"必免2", {false, false, true}},     {u"必免3", {false, false, true}},
    {u"職内1", {false, false, true}},     {u"自由", {false, false, true}},
};

char16_t Fold(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// The literal runs of the pattern '%word%', folded.
std::vector<std::u16string> LiteralRuns(std::u16string_view word,
                                        LikeDialect dialect) {
  std::vector<std::u16string> runs(1);
  for (size_t i = 0; i < word.size(); ++i) {
    char16_t c = word[i];
    if (c == u'%' || c == u'_') {
      if (!runs.back().empty()) runs.emplace_back();
      continue;
    }
    if (c == u'\\' && dialect == LikeDialect::kPostgresql) {
      // The escaped code unit stands for itself. The last one escapes the
      // closing "%", which then stands for itself too.
      c = i + 1 < word.size() ? word[++i] : u'%';
    }
    runs.back().push_back(Fold(c));
  }
  if (runs.back().empty()) runs.pop_back();
  return runs;
}

uint32_t Mix(uint64_t x) {
  // The finaliser of MurmurHash3's 64-bit variant: every input bit moves
  // about half of the output bits.
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  x ^= x >> 33;
  return static_cast<uint32_t>(x);
}

}  // namespace

std::span<const std::u16string_view> GramFieldColumns(GramField field) {
  switch (field) {
    case GramField::kJobType:
      return kJobTypeColumns;
    case GramField::kPlace:
      return kPlaceColumns;
    case GramField::kContent:
      break;
  }
  return kContentColumns;
}

std::span<const GramColumn> GramColumns() { return kColumns; }

void AppendTextGrams(GramField field, std::u16string_view text,
                     std::vector<Gram>& grams) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = Fold(text[i]);
    grams.push_back({field, c, std::nullopt});
    if (i + 1 < text.size()) grams.push_back({field, c, Fold(text[i + 1])});
  }
}

std::optional<std::vector<Gram>> WordGrams(GramField field,
                                           std::u16string_view word,
                                           LikeDialect dialect) {
  const std::vector<std::u16string> runs = LiteralRuns(word, dialect);
  if (runs.empty()) return std::nullopt;
  std::vector<Gram> grams;
  for (const std::u16string& run : runs) {
    if (run.size() == 1) {
      grams.push_back({field, run[0], std::nullopt});
      continue;
    }
    for (size_t i = 0; i + 1 < run.size(); ++i) {
      grams.push_back({field, run[i], run[i + 1]});
    }
  }
  return grams;
}

bool GramQuery::Restricts() const {
  return std::any_of(fields.begin(), fields.end(),
                     [](const auto& words) { return !words.empty(); });
}

void AddFieldWords(GramQuery& query, GramField field,
                   std::span<const std::u16string> words, LikeDialect dialect) {
  std::vector<std::vector<Gram>> sets;
  for (const std::u16string& word : words) {
    if (word.empty()) continue;
    std::optional<std::vector<Gram>> grams = WordGrams(field, word, dialect);
    if (!grams) return;  // this word lets any job through the field
    sets.push_back(std::move(*grams));
  }
  query.fields[static_cast<size_t>(field)] = std::move(sets);
}

std::string GramToken(const Gram& gram) {
  static constexpr char kFieldLetters[] = {'j', 'p', 'c'};
  std::string token(1, kFieldLetters[static_cast<size_t>(gram.field)]);
  auto append = [&](char16_t unit) {
    for (int shift = 12; shift >= 0; shift -= 4) {
      token.push_back(static_cast<char>('a' + ((unit >> shift) & 0xF)));
    }
  };
  append(gram.first);
  if (gram.second) append(*gram.second);
  return token;
}

std::optional<int64_t> OrderKey(int64_t rank, int64_t row) {
  if (row < 0 || row > kOrderRowMask || rank < INT32_MIN || rank > INT32_MAX) {
    return std::nullopt;
  }
  return ((int64_t{INT32_MAX} - rank) << kOrderRowBits) | row;
}

int32_t GramKey(const Gram& gram) {
  const uint64_t second = gram.second ? *gram.second : 0x10000u;
  const uint64_t packed = (uint64_t{static_cast<uint8_t>(gram.field)} << 40) |
                          (uint64_t{gram.first} << 20) | second;
  return static_cast<int32_t>(Mix(packed));
}

int32_t BandSalt(int64_t band) {
  return static_cast<int32_t>(
      Mix(static_cast<uint64_t>(band) + 0x9e3779b97f4a7c15ULL));
}

}  // namespace qlok
