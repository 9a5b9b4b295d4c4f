// The word index on SQLite: a contentless FTS5 table without positions
// (detail=none), one document per job, the grams written as ASCII tokens
// (GramToken). FTS5 keeps each token's document keys as delta-coded lists
// and answers AND and OR of tokens in key order, reading the lists as it
// goes, without the job table. The key of a job's document is its place
// in every search's order (best rank first, then rowid): the statement
// walks the candidates in the order of its answer and stops as soon as it
// has its rows, instead of reading and sorting every candidate.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "grams/gram_store.h"
#include "text/unicode.h"

namespace qlok {
namespace {

constexpr char16_t kCreate[] =
    u"CREATE VIRTUAL TABLE qlok_grams USING fts5(words, content='', "
    u"detail=none, columnsize=0, tokenize='ascii');"
    u"CREATE TABLE qlok_gram_state (stale INTEGER NOT NULL, rows INTEGER NOT "
    u"NULL, high INTEGER NOT NULL);"
    u"INSERT INTO qlok_gram_state VALUES (0, 0, 0);";

// A write to the job table marks the index stale; the program's own writes
// do too, and the program marks it fresh again once it has kept it in the
// same transaction.
constexpr std::u16string_view kTriggerEvents[] = {u"INSERT", u"DELETE",
                                                  u"UPDATE"};

std::u16string TriggerName(std::u16string_view event) {
  std::u16string name = u"qlok_grams_after_";
  for (char16_t c : event) name.push_back(c - u'A' + u'a');
  return name;
}

std::u16string Trigger(std::u16string_view event) {
  return u"CREATE TRIGGER " + TriggerName(event) + u" AFTER " +
         std::u16string(event) +
         u" ON 求人 WHEN (SELECT stale FROM qlok_gram_state) = 0 BEGIN "
         u"UPDATE qlok_gram_state SET stale = 1; END;";
}

class SqliteGramStore : public GramStore {
 public:
  explicit SqliteGramStore(Connection& db) : db_(db) {}

  std::u16string RowKey() const override { return u"rowid"; }
  // FTS5 writes the lists of one transaction in one go only while the
  // document keys ascend (a lower key makes it write out what it holds):
  // the jobs come in the order of their keys, the rank index's order.
  std::u16string ReadOrder() const override { return u"rank DESC, rowid"; }
  bool ReadsInOnePass() const override { return true; }

  void Create() override {
    std::u16string sql = kCreate;
    for (std::u16string_view event : kTriggerEvents) sql += Trigger(event);
    db_.Execute(sql);
  }

  void Remove() override {
    std::u16string sql =
        u"DROP TABLE IF EXISTS qlok_grams; DROP TABLE IF EXISTS "
        u"qlok_gram_state;";
    for (std::u16string_view event : kTriggerEvents) {
      sql += u"DROP TRIGGER IF EXISTS " + TriggerName(event) + u";";
    }
    db_.Execute(sql);
  }

  void StartOver() override {
    db_.Execute(u"INSERT INTO qlok_grams(qlok_grams) VALUES ('delete-all')");
  }

  bool Add(const std::vector<JobGrams>& jobs) override {
    for (const JobGrams& job : jobs) {
      if (!OrderKey(job.rank, job.job)) return false;
    }
    if (!writer_)
      writer_ = db_.PrepareInsert(u"qlok_grams", {u"rowid", u"words"});
    std::string words;
    for (const JobGrams& job : jobs) {
      words.clear();
      for (const Gram& gram : job.grams) {
        if (!words.empty()) words.push_back(' ');
        words += GramToken(gram);
      }
      writer_->Insert({Value::Integer(*OrderKey(job.rank, job.job)),
                       Value::Text(U16(words))});
    }
    return true;
  }

  void Finish(bool rebuilt) override {
    writer_.reset();
    // One segment answers a token with one read; a rebuild merges all.
    if (rebuilt) {
      db_.Execute(u"INSERT INTO qlok_grams(qlok_grams) VALUES ('optimize')");
    }
  }

 private:
  Connection& db_;
  std::unique_ptr<RowWriter> writer_;
};

// "(a AND b)" of one word's grams.
std::u16string AllOf(const std::vector<Gram>& grams) {
  std::u16string out = u"(";
  for (const Gram& gram : grams) {
    if (out.size() > 1) out += u" AND ";
    out += U16(GramToken(gram));
  }
  return out + u")";
}

}  // namespace

std::unique_ptr<GramStore> NewSqliteGramStore(Connection& db) {
  return std::make_unique<SqliteGramStore>(db);
}

JobSource SqliteCandidates(const GramQuery& query) {
  std::u16string match;
  for (const auto& words : query.fields) {
    if (words.empty()) continue;
    if (!match.empty()) match += u" AND ";
    std::u16string any;
    for (const std::vector<Gram>& grams : words) {
      if (!any.empty()) any += u" OR ";
      any += AllOf(grams);
    }
    match += u"(" + any + u")";
  }
  // CROSS JOIN keeps the candidates the outer loop, in their order.
  JobSource source;
  source.columns = u"求人.*";
  source.from =
      u"(SELECT rowid AS qlok_key FROM qlok_grams WHERE qlok_grams MATCH '" +
      match +
      u"') AS qlok_candidates CROSS JOIN 求人 ON 求人.rowid = "
      u"qlok_candidates.qlok_key & " +
      Digits(kOrderRowMask);
  source.order = u"qlok_candidates.qlok_key";
  return source;
}

}  // namespace qlok
