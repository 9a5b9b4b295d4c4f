// The grams of the word index: pairs of neighbouring code units (bigrams)
// and single code units (unigrams) of the texts that searches compare with
// like, each tagged with the group of columns it came from.
//
// The index of a job holds every gram of every searched column; the grams a
// word needs are those of the literal runs of its pattern '%word%'. A
// column that matches the pattern holds each of those runs, so its job
// holds each of their grams: the jobs that hold them all are a superset of
// the jobs whose column matches. Both engines' like (and the index) fold
// only the letters A to Z to a to z; every other code unit, full-width and
// half-width forms included, is compared as it stands.
//
// Pure values in, values out; nothing here fails.
#ifndef QLOK_GRAMS_GRAMS_H_
#define QLOK_GRAMS_GRAMS_H_

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qlok {

// The groups of columns a search compares one word with.
enum class GramField : uint8_t { kJobType = 0, kPlace = 1, kContent = 2 };
inline constexpr size_t kGramFieldCount = 3;

// The columns of each group, as the query builder compares them.
std::span<const std::u16string_view> GramFieldColumns(GramField field);

// Every searched column once, in a fixed order, with the groups it belongs
// to (職種1 is in the job types and in the content).
struct GramColumn {
  std::u16string_view name;
  std::array<bool, kGramFieldCount> in_field;
};
std::span<const GramColumn> GramColumns();

// One gram. `second` is empty for a unigram.
struct Gram {
  GramField field = GramField::kJobType;
  char16_t first = 0;
  std::optional<char16_t> second;
  friend bool operator==(const Gram&, const Gram&) = default;
};

// How an engine reads the pattern of like: SQLite has no escape character,
// PostgreSQL takes a backslash as one (the next code unit stands for
// itself). "%" and "_" are wildcards on both.
enum class LikeDialect { kSqlite, kPostgresql };

// Appends the grams of `text` in `field` to `grams`: every unigram and
// bigram, A to Z folded to a to z. Duplicates are left; an empty text adds
// nothing.
void AppendTextGrams(GramField field, std::u16string_view text,
                     std::vector<Gram>& grams);

// The grams every text that `word` (the visitor's word, as it stands inside
// '%...%') matches in `field` must hold: the bigrams of each literal run of
// two or more code units and the unigram of each run of one. nullopt when
// the pattern has no literal code unit (it restricts nothing).
std::optional<std::vector<Gram>> WordGrams(GramField field,
                                           std::u16string_view word,
                                           LikeDialect dialect);

// What the index must give for a search: for each field with words, the
// jobs that hold every gram of at least one of its words; the fields are
// joined by AND. A field of which a word restricts nothing is left out
// (any job may match it).
struct GramQuery {
  // Per field: the words' gram sets (each set joined by AND, the sets by
  // OR). Empty when the field is not restricted.
  std::array<std::vector<std::vector<Gram>>, kGramFieldCount> fields;
  bool Restricts() const;
};

// Adds the words of one field (the empty ones skipped) to `query`.
void AddFieldWords(GramQuery& query, GramField field,
                   std::span<const std::u16string> words, LikeDialect dialect);

// The token of a gram in the SQLite index: a field letter (j, p, c) and
// four letters a-p per code unit, so that the index's ASCII tokenizer keeps
// it whole: "jaaeb" for the unigram "A" (folded "a") in the job types.
std::string GramToken(const Gram& gram);

// The key of a gram in the PostgreSQL index: a 32-bit mix of the field and
// the code units. Two grams may share a key; that only adds candidates.
int32_t GramKey(const Gram& gram);

// The salt of band `band` of the PostgreSQL index, mixed into the keys of
// its jobs' grams so that a key names the jobs of one band: a 32-bit mix of
// the band's number.
int32_t BandSalt(int64_t band);

// The place of a job in every search's order (best rank first, then the
// row key) as one number: the rank, inverted, above 31 bits of the row
// key. nullopt for a row key beyond 31 bits or a rank beyond 32.
inline constexpr int64_t kOrderRowBits = 31;
inline constexpr int64_t kOrderRowMask = (int64_t{1} << kOrderRowBits) - 1;
std::optional<int64_t> OrderKey(int64_t rank, int64_t row);

}  // namespace qlok

#endif  // QLOK_GRAMS_GRAMS_H_
