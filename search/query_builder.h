// The search condition: the SQL statement over table 求人 that selects the
// job offers matching a search request, best first, at most 1000.
//
// Pure text assembly; nothing here fails. Every condition group is written
// into its own numbered slot, and the WHERE clause is the filled slots in
// slot order, joined by " AND ". Visitor words and time stamps stand inside
// single-quoted literals with every single quote doubled, so no value can
// end its literal early.
#ifndef QLOK_SEARCH_QUERY_BUILDER_H_
#define QLOK_SEARCH_QUERY_BUILDER_H_

#include <array>
#include <string>
#include <string_view>

#include "grams/gram_index.h"
#include "search/search_request.h"

namespace qlok {

// Slots 1 to 45 of the WHERE clause, at index slot - 1; empty when unused.
using ConditionSlots = std::array<std::u16string, 45>;

// Fills the slots of `request`: 1 job-type words, 2 place words, 11
// employment forms, 14-17 and 21 welfare boxes, 28-35 days off, 38 content
// words, 39-40 housing boxes, 41 working hours, 44 age, 45 disability
// choice.
ConditionSlots FillConditionSlots(const SearchRequest& request);

// The statement of the filled slots: "SELECT * FROM 求人 WHERE " + the
// conditions + " ORDER BY rank DESC limit 1000;", or the bare table name
// "求人" when no slot is filled.
std::u16string AssembleQuery(const ConditionSlots& slots);

// The statement that runs for the filled slots: AssembleQuery's
// conditions over the rows of `source` (grams/gram_index.h), in its order;
// the bare table name when no slot is filled. The text shown and logged
// stays AssembleQuery's, which is this over the default source.
std::u16string AssembleStatement(const ConditionSlots& slots,
                                 const JobSource& source);

// The QueryText of a request: AssembleQuery(FillConditionSlots(request)).
std::u16string BuildQuery(const SearchRequest& request);

// `text` with every single quote doubled, for use inside a quoted literal.
std::u16string DoubleQuotes(std::u16string_view text);

}  // namespace qlok

#endif  // QLOK_SEARCH_QUERY_BUILDER_H_
