// The statement a search runs: the conditions of the query text, over the
// candidates of the word index when the search has words and the index is
// fresh, in one order for jobs of equal rank.
#ifndef QLOK_SEARCH_SEARCH_PLAN_H_
#define QLOK_SEARCH_SEARCH_PLAN_H_

#include <string>

#include "grams/gram_index.h"
#include "platform/database.h"
#include "search/search_request.h"

namespace qlok {

// The gram query of the request's words on an engine of `dialect`.
GramQuery WordsOf(const SearchRequest& request, LikeDialect dialect);

// The statement for `request` when the index is in `state`: a search
// without conditions stays the bare table name; one with words that the
// index can narrow, over a fresh index, keeps the index's candidates; any
// other runs its conditions over the whole table. Ties of rank go by the
// row key when the engine has one (SQLite always; PostgreSQL once the
// index has numbered the rows). Pure text.
std::u16string StatementFor(const SearchRequest& request,
                            std::string_view engine,
                            const GramIndexState& state);

// What runs for a search: its statement, and the expression that counts
// the job table when the statement is the bare table name (the search has
// no condition).
struct SearchPlan {
  std::u16string statement;
  std::u16string table_count;
};

// StatementFor and TableCountExpression with the index's state read from
// `db` (on SQLite only when it matters: for words, or the whole table).
// Throws Failure when the engine refuses.
SearchPlan PlanSearch(Connection& db, const SearchRequest& request);

}  // namespace qlok

#endif  // QLOK_SEARCH_SEARCH_PLAN_H_
