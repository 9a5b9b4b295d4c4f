#include "registrations/registration_store.h"

#include <utility>

#include "platform/failure.h"
#include "platform/random_token.h"
#include "platform/recordset.h"
#include "registrations/token_seal.h"
#include "text/unicode.h"

namespace qlok {

// The schema files as they stand, from the source generated at build time.
namespace embedded_texts {
extern const char kRegistrationsSqlite[];
extern const char kRegistrationsPostgresql[];
}  // namespace embedded_texts

namespace {

constexpr char16_t kColumns[] =
    u"id, address, number, settings, daily_maximum, created, changed, "
    u"active, stopped, token, token_sealed, mark, sent_jobs, last_mailed";

std::vector<std::string> SplitFingerprints(const std::u16string& text) {
  std::vector<std::string> out;
  const std::string all = U8(text);
  size_t begin = 0;
  while (begin < all.size()) {
    size_t end = all.find(' ', begin);
    if (end == std::string::npos) end = all.size();
    if (end > begin) out.push_back(all.substr(begin, end - begin));
    begin = end + 1;
  }
  return out;
}

std::u16string JoinFingerprints(const std::vector<std::string>& list) {
  std::string all;
  for (const std::string& one : list) {
    if (!all.empty()) all += ' ';
    all += one;
  }
  return U16(all);
}

// The token of a stored row: unsealed, or, in a row stored before tokens
// were sealed (no seal, the token itself in its place), as it stands.
std::string StoredToken(const Recordset& row, const std::string& key,
                        const std::u16string& address, int number) {
  const std::string sealed = U8(row.Field(u"token_sealed").ToText());
  if (sealed.empty()) return U8(row.Field(u"token").ToText());
  return UnsealToken(key, address, number, sealed);
}

Registration ReadRegistration(const Recordset& row, const std::string& key) {
  Registration r;
  r.id = row.Field(u"id").AsInteger();
  r.address = row.Field(u"address").ToText();
  r.number = static_cast<int>(row.Field(u"number").AsInteger());
  r.settings = row.Field(u"settings").ToText();
  r.daily_maximum = static_cast<int>(row.Field(u"daily_maximum").AsInteger());
  r.created =
      DateTimeField(row, u"created", "registrations").value_or(DateTime{});
  r.changed =
      DateTimeField(row, u"changed", "registrations").value_or(DateTime{});
  r.active = row.Field(u"active").AsInteger() != 0;
  r.stopped = DateTimeField(row, u"stopped", "registrations");
  r.token = StoredToken(row, key, r.address, r.number);
  r.mark = row.Field(u"mark").AsInteger();
  r.sent_jobs = SplitFingerprints(row.Field(u"sent_jobs").ToText());
  r.last_mailed = DateTimeField(row, u"last_mailed", "registrations");
  return r;
}

class SqlRegistrationStore : public RegistrationStore {
 public:
  SqlRegistrationStore(Connection& db, std::function<std::string()> new_token,
                       std::function<std::string()> token_key)
      : db_(db),
        new_token_(std::move(new_token)),
        token_key_(std::move(token_key)) {
    if (!new_token_) new_token_ = NewRandomToken;
  }

  Registration Save(const RegistrationInput& input,
                    const DateTime& now) override {
    if (input.number < 1 || input.number > 5) {
      throw Failure("registrations: number " + std::to_string(input.number) +
                    " is not 1 to 5");
    }
    if (input.daily_maximum < 1 || input.daily_maximum > kMostDailyJobs) {
      throw Failure("registrations: daily maximum " +
                    std::to_string(input.daily_maximum) + " is not 1 to 100");
    }
    const std::u16string sql =
        u"INSERT INTO registrations (address, number, settings, "
        u"daily_maximum, created, changed, active, token, token_sealed, "
        u"mark, sent_jobs) "
        u"VALUES ($1, $2, $3, $4, $5, $5, 1, $6, $8, "
        u"(SELECT coalesce(max(serial), 0) FROM seen_jobs), $7) "
        u"ON CONFLICT (address, number) DO UPDATE SET "
        u"settings = excluded.settings, "
        u"daily_maximum = excluded.daily_maximum, "
        u"changed = excluded.changed, active = 1, stopped = NULL, "
        u"mark = excluded.mark, sent_jobs = excluded.sent_jobs "
        u"RETURNING " +
        std::u16string(kColumns);
    const std::string token = new_token_();
    std::vector<Registration> saved = All(
        sql, {Value::Text(input.address), Value::Integer(input.number),
              Value::Text(input.settings), Value::Integer(input.daily_maximum),
              Value::DateTimeOf(now), Value::Text(U16(TokenHash(token))),
              Value::Text(JoinFingerprints(input.sent_jobs)),
              Value::Text(
                  U16(SealToken(Key(), input.address, input.number, token)))});
    if (saved.size() != 1) throw Failure("registrations: nothing was saved");
    return saved[0];
  }

  std::optional<Registration> FindByToken(std::string_view token) override {
    if (!IsTokenText(token)) return std::nullopt;
    // By its hash; a row stored before tokens were sealed holds the token.
    std::vector<Registration> found =
        All(u"SELECT " + std::u16string(kColumns) +
                u" FROM registrations WHERE token = $1 OR token = $2",
            {Value::Text(U16(TokenHash(token))), Value::Text(U16(token))});
    if (found.empty()) return std::nullopt;
    return found[0];
  }

  bool StopByToken(std::string_view token, const DateTime& now) override {
    if (!IsTokenText(token)) return false;
    return Changed(
               u"UPDATE registrations SET active = 0, stopped = $2 "
               u"WHERE (token = $1 OR token = $3) AND active = 1 RETURNING id",
               {Value::Text(U16(TokenHash(token))), Value::DateTimeOf(now),
                Value::Text(U16(token))}) > 0;
  }

  int Stop(const std::u16string& address, std::optional<int> number,
           const DateTime& now) override {
    std::u16string sql =
        u"UPDATE registrations SET active = 0, stopped = $2 "
        u"WHERE address = $1 AND active = 1";
    std::vector<Value> parameters = {Value::Text(address),
                                     Value::DateTimeOf(now)};
    if (number) {
      sql += u" AND number = $3";
      parameters.push_back(Value::Integer(*number));
    }
    return Changed(sql + u" RETURNING id", parameters);
  }

  std::vector<Registration> ListByAddress(
      const std::u16string& address) override {
    return All(u"SELECT " + std::u16string(kColumns) +
                   u" FROM registrations WHERE address = $1 ORDER BY number",
               {Value::Text(address)});
  }

  int CountLookup(const std::u16string& address, const DateTime& now) override {
    const Value day = Value::DateOf(now);
    // Days gone by are of no use to a daily limit.
    Changed(u"DELETE FROM address_lookups WHERE day < $1 RETURNING day", {day});
    std::unique_ptr<Recordset> rows = db_.Query(
        u"INSERT INTO address_lookups (address, day, lookups) "
        u"VALUES ($1, $2, 1) ON CONFLICT (address, day) DO UPDATE SET "
        u"lookups = address_lookups.lookups + 1 RETURNING lookups",
        {Value::Text(address), day}, Connection::kKeepAll);
    const int count = static_cast<int>(rows->Field(u"lookups").AsInteger());
    Drain(*rows);
    return count;
  }

  std::vector<Registration> Registrations(const RegistrationFilter& filter,
                                          int64_t after_id,
                                          size_t limit) override {
    std::u16string sql = u"SELECT " + std::u16string(kColumns) +
                         u" FROM registrations WHERE id > $1";
    std::vector<Value> parameters = {
        Value::Integer(after_id), Value::Integer(static_cast<int64_t>(limit))};
    if (filter.active_only) sql += u" AND active = 1";
    if (!filter.address.empty()) {
      sql += u" AND address = $3";
      parameters.push_back(Value::Text(filter.address));
    }
    return All(sql + u" ORDER BY id LIMIT $2", parameters);
  }

  bool MoveMark(int64_t id, const DateTime& changed, int64_t mark,
                std::optional<DateTime> mailed) override {
    return Changed(
               u"UPDATE registrations SET mark = $2, sent_jobs = '', "
               u"last_mailed = coalesce($3, last_mailed) "
               u"WHERE id = $1 AND changed = $4 RETURNING id",
               {Value::Integer(id), Value::Integer(mark),
                mailed ? Value::DateTimeOf(*mailed) : Value(),
                Value::DateTimeOf(changed)}) > 0;
  }

  std::optional<int64_t> LowestMark(const RegistrationFilter& filter) override {
    std::u16string sql =
        u"SELECT min(mark) AS v FROM registrations WHERE 1 = 1";
    std::vector<Value> parameters;
    if (filter.active_only) sql += u" AND active = 1";
    if (!filter.address.empty()) {
      sql += u" AND address = $1";
      parameters.push_back(Value::Text(filter.address));
    }
    std::unique_ptr<Recordset> rows = db_.Query(sql, parameters, 1);
    const Value lowest = rows->Field(u"v");
    Drain(*rows);
    if (lowest.IsNull()) return std::nullopt;
    return lowest.AsInteger();
  }

  RegistrationCounts Count() override {
    RegistrationCounts counts;
    std::unique_ptr<Recordset> rows = db_.Query(
        u"SELECT active, number, count(*) AS n FROM registrations "
        u"GROUP BY active, number",
        {}, 0);
    for (; !rows->AtEnd(); rows->MoveNext()) {
      const int64_t n = rows->Field(u"n").AsInteger();
      if (rows->Field(u"active").AsInteger() == 0) {
        counts.stopped += n;
        continue;
      }
      counts.active += n;
      const int64_t number = rows->Field(u"number").AsInteger();
      if (number >= 1 && number <= 5) counts.active_by_number[number - 1] += n;
    }
    return counts;
  }

 private:
  static void Drain(Recordset& rows) {
    while (!rows.AtEnd()) rows.MoveNext();
  }

  std::vector<Registration> All(const std::u16string& sql,
                                const std::vector<Value>& parameters) {
    std::vector<Registration> out;
    std::unique_ptr<Recordset> rows = db_.Query(sql, parameters, 0);
    for (; !rows->AtEnd(); rows->MoveNext()) {
      out.push_back(ReadRegistration(*rows, Key()));
    }
    return out;
  }

  // The token key, asked for once.
  const std::string& Key() {
    if (!key_) key_ = token_key_ ? token_key_() : std::string();
    return *key_;
  }

  // Runs a statement that returns one row per row it changed.
  int Changed(const std::u16string& sql, const std::vector<Value>& parameters) {
    std::unique_ptr<Recordset> rows = db_.Query(sql, parameters, 0);
    int count = 0;
    for (; !rows->AtEnd(); rows->MoveNext()) ++count;
    return count;
  }

  Connection& db_;
  std::function<std::string()> new_token_;
  std::function<std::string()> token_key_;
  std::optional<std::string> key_;
};

}  // namespace

std::unique_ptr<RegistrationStore> NewSqlRegistrationStore(
    Connection& db, std::function<std::string()> new_token,
    std::function<std::string()> token_key) {
  return std::make_unique<SqlRegistrationStore>(db, std::move(new_token),
                                                std::move(token_key));
}

std::string LoadTokenKey(TextFiles& files) {
  std::vector<std::u16string> lines;
  try {
    lines = files.ReadLines(kTokenKeyPath, 1);
  } catch (const std::exception& failure) {
    throw Failure(std::string(failure.what()) +
                  " (the site's token key; run \"q_lok-admin migrate\")");
  }
  const std::string key = lines.empty() ? "" : U8(lines[0]);
  if (!IsTokenKey(key)) {
    throw Failure(std::string(kTokenKeyPath) +
                  ": line 1 is not 64 hexadecimal digits (the site's token "
                  "key; run \"q_lok-admin migrate\" to make one)");
  }
  return key;
}

std::u16string RegistrationSchema(std::string_view engine) {
  if (engine == "sqlite") return U16(embedded_texts::kRegistrationsSqlite);
  if (engine == "postgresql") {
    return U16(embedded_texts::kRegistrationsPostgresql);
  }
  throw Failure("no registration schema for the engine " + std::string(engine));
}

}  // namespace qlok
