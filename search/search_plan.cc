#include "search/search_plan.h"

#include "search/query_builder.h"

namespace qlok {

GramQuery WordsOf(const SearchRequest& request, LikeDialect dialect) {
  GramQuery query;
  AddFieldWords(query, GramField::kJobType, request.job_type_words, dialect);
  AddFieldWords(query, GramField::kPlace, request.place_words, dialect);
  AddFieldWords(query, GramField::kContent, request.content_words, dialect);
  return query;
}

std::u16string StatementFor(const SearchRequest& request,
                            std::string_view engine,
                            const GramIndexState& state) {
  const GramQuery words = WordsOf(request, DialectOf(engine));
  const JobSource source =
      words.Restricts() && state.exists && !state.stale && state.readable
          ? CandidateSource(engine, words)
          : TableSource(engine, state.exists);
  return AssembleStatement(FillConditionSlots(request), source);
}

SearchPlan PlanSearch(Connection& db, const SearchRequest& request) {
  const std::string engine = db.Engine();
  // On SQLite the index's state matters only to words and to the count of
  // the whole table: a search with other conditions alone reads none.
  if (engine == "sqlite" && !WordsOf(request, DialectOf(engine)).Restricts()) {
    std::u16string statement = StatementFor(request, engine, {});
    if (!BareTableName(statement)) return {std::move(statement), {}};
  }
  const GramIndexState state = ReadGramIndexState(db);
  return {StatementFor(request, engine, state), TableCountExpression(state)};
}

}  // namespace qlok
