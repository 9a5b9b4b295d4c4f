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

// StatementFor with the state read from `db` (only when it can matter: on
// SQLite a search without words needs none). Throws Failure when the
// engine refuses.
std::u16string PlanStatement(Connection& db, const SearchRequest& request);

}  // namespace qlok

#endif  // QLOK_SEARCH_SEARCH_PLAN_H_
